// The encoder's run-time state, held in the compression settings record beside the settings.
#pragma once

namespace zov {

struct EncoderState {};

}  // namespace zov
