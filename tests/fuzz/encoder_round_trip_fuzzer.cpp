// Encodes three 80 x 60 pictures made from the input under settings taken from its first
// bytes, with frame verification on; a frame that decodes differently aborts.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "encoder/zov2_encoder.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 8) return 0;
  const int w = 80, h = 60, frames = 3;
  zov::CompressionSettings s;
  s.CompressionType = data[0] % 5;
  s.EnhancedEdges = data[1] & 1;
  s.ImageLossLevel = (data[1] >> 1) & 7;
  s.FieldType = data[2] % 3;
  s.KeyRate = data[3] % 4;
  s.FastCompression = (data[2] >> 2) & 1;
  s.ChromaKeying = (data[2] >> 3) & 1;
  s.ChromaScreening = (data[2] >> 4) % 3;
  s.ChromaGreen = 10;
  s.ChromaBlue = 10;
  s.InterframeDetection = data[4] % 26;
  s.NoiseReduction = data[5] % 151;
  s.DataRate = (data[6] & 1) ? 2048 : 0;
  s.LetterboxPresent = data[6] & 2;
  s.LetterboxTopLines = data[7] % 16;
  s.LetterboxBottomLines = data[7] / 16;
  s.updateDerived();
  s.LossyActive = !s.FastCompression && s.CompressionType != 0 && s.Lossy;
  s.KeyCountdown = s.FastCompression || s.KeyRate == 0 ? 0 : s.KeyRate + 1;
  s.CaptureBackground = s.ChromaKeying && s.ChromaScreening == zov::kScreeningBackground;
  s.FrameRate = 15;
  s.VerifyFrames = true;
  s.EncoderMessages = [](const std::string& text) {
    if (text.rfind("Verification", 0) == 0) {
      std::fprintf(stderr, "%s\n", text.c_str());
      std::abort();
    }
  };
  std::vector<std::vector<uint16_t>> pics(frames, std::vector<uint16_t>(size_t(w) * h));
  size_t k = 8;
  for (auto& p : pics)
    for (auto& px : p) {
      px = uint16_t((data[k % size] | data[(k + 1) % size] << 8) & 0x7FFF);
      k += 2;
    }
  zov::EncoderSetup setup{w, h, uint32_t(frames), nullptr};
  if (!zov::StartEncoder(s, setup)) return 0;
  std::vector<uint8_t> out(zov::maxFrameBytes(w, h));
  auto call = [&](int i, const std::vector<uint16_t>* pic) {
    s.KeyFrame = i == 0 || (s.KeyCountdown != 0 && --s.KeyCountdown == 0);
    if (s.KeyFrame && s.KeyRate) s.KeyCountdown = s.KeyRate + 1;
    s.FinalCall = pic == nullptr;
    zov::CompressParams p{pic ? pic->data() : nullptr, out.data(), out.size(), 0};
    if (!zov::EncodeFrame(s, p)) std::abort();
  };
  if (s.EnhancedInterframe) {
    call(0, &pics[0]);
    for (int i = 0; i < frames; ++i) call(i, i + 1 < frames ? &pics[size_t(i) + 1] : nullptr);
  } else {
    for (int i = 0; i < frames; ++i) call(i, &pics[size_t(i)]);
  }
  zov::EndEncoder(s);
  return 0;
}
