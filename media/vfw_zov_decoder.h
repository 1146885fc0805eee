// ZOV1/ZOV2 source frames decoded by the installed codec, reached through the Video for Windows
// compression manager (platform/vfw) as any other client reaches it. The application installs
// it at start with installVfwZovDecoder(); without a codec library the factory finds nothing and
// ZOV sources report "unsupported video compression".
#pragma once

#include <memory>
#include <vector>

#include "media/video_decoder.h"

namespace zov {

// A decoder for the stream format, or null when no codec accepts it.
std::unique_ptr<VideoDecoder> openVfwZovDecoder(const std::vector<uint8_t>& format);
// Makes openVfwZovDecoder the source reader's hook for ZOV streams.
void installVfwZovDecoder();

}  // namespace zov
