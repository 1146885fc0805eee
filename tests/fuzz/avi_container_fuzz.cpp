// Fuzz target for the AVI container reader and the source frame decoders: any bytes are parsed as
// an AVI file; whatever opens has its frames read and the first ones decoded, and its audio read.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "media/avi_container.h"
#include "media/video_decoder.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string error;
  auto c = zov::AviContainer::openMemory(data, size, &error);
  if (!c) return 0;
  std::vector<uint8_t> frame;
  auto decoder = zov::createVideoDecoder(c->videoFormat(), &error);
  zov::DecodedFrame out;
  for (uint32_t i = 0; i < c->frameCount() && i < 64; ++i) {
    if (!c->readFrame(i, frame)) continue;
    c->isKeyFrame(i);
    c->previousKeyFrame(i);
    if (decoder && i < 4) decoder->decode(frame.data(), frame.size(), out);
  }
  std::vector<uint8_t> audio;
  c->readAudio(0, 4096, audio);
  c->readAudio(c->audioLength() / 2, 1u << 20, audio);
  return 0;
}
