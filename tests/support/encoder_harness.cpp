#include "support/encoder_harness.h"

#include <cmath>
#include <cstdio>
#include <memory>

#include "encoder/colour_quantiser.h"
#include "encoder/zov2_encoder.h"
#include "format/decoder.h"

namespace zov::test {

Picture toPicture15(const std::vector<uint8_t>& dib, int width, int height, int bitsPerPixel) {
  Picture out(size_t(width) * height);
  size_t line = size_t((width * bitsPerPixel + 31) / 32 * 4);
  if (bitsPerPixel == 16) {
    for (int l = 0; l < height; ++l)
      for (int x = 0; x < width; ++x) {
        const uint8_t* px = dib.data() + line * size_t(l) + 2 * size_t(x);
        out[size_t(l) * width + x] = uint16_t((px[0] | px[1] << 8) & 0x7FFF);
      }
    return out;
  }
  for (int l = 0; l < height; ++l)
    convertRowTo15(dib.data() + line * l, bitsPerPixel, width, out.data() + size_t(l) * width);
  return out;
}

double psnr15(const Picture& a, const Picture& b) {
  double sum = 0;
  for (size_t i = 0; i < a.size(); ++i)
    for (int shift = 0; shift <= 10; shift += 5) {
      int d = int(a[i] >> shift & 31) - int(b[i] >> shift & 31);
      sum += d * d;
    }
  if (sum == 0) return 99.0;
  double mse = sum / (3.0 * double(a.size()));
  return 10.0 * std::log10(31.0 * 31.0 / mse);
}

EncodedRun encodePictures(CompressionSettings s, int width, int height,
                          const std::vector<Picture>& pictures, const HarnessOptions& options) {
  EncodedRun result;
  const uint32_t count = uint32_t(pictures.size());
  s.updateDerived();
  s.EncoderMessages = [&](const std::string& text) {
    result.messages.push_back(text);
    if (result.failure.empty() && text.rfind("Verification", 0) == 0) result.failure = text;
  };
  s.VerifyFrames = options.verify;
  // The run's settings for the encoder.
  s.prepareRun(options.backgroundBitmap != nullptr);
  s.FrameRate = options.frameRate;
  s.FrameScale = options.frameScale;

  EncoderSetup setup;
  setup.width = width;
  setup.height = height;
  setup.frameCount = count;
  setup.background = options.backgroundBitmap ? options.backgroundBitmap->data() : nullptr;
  if (!StartEncoder(s, setup)) {
    result.failure = result.messages.empty() ? "StartEncoder failed" : result.messages.back();
    return result;
  }
  result.formatWord = streamFormatWord(s, options.backgroundBitmap != nullptr);
  const size_t capacity = maxFrameBytes(width, height);
  std::vector<uint8_t> out(capacity), bgOut(capacity);

  auto isKeyFrame = [&](uint32_t n) {
    if (n == 0 || (n == 1 && options.dualInitialKeyFrames)) return true;
    if (--s.KeyCountdown == 0) {
      s.KeyCountdown = s.KeyRate + 1;
      return true;
    }
    return false;
  };
  bool backgroundPending = options.backgroundBitmap && s.ChromaKeying;
  auto call = [&](uint32_t n, const Picture* pic, bool finalCall) {
    std::vector<uint8_t> bitmapPart;
    bool producesFrame = !(s.EnhancedInterframe && s.FirstCall);
    if (backgroundPending && producesFrame) {
      s.KeyFrame = 1;
      s.CodingBackground = true;
      CompressParams bp{options.backgroundBitmap->data(), bgOut.data(), capacity, 0};
      bool ok = EncodeFrame(s, bp);
      s.CodingBackground = false;
      if (!ok) return false;
      bitmapPart.assign(bgOut.begin(), bgOut.begin() + long(bp.outputLength));
      backgroundPending = false;
    }
    s.KeyFrame = isKeyFrame(n) ? 1 : 0;
    s.FinalCall = finalCall;
    CompressParams p{pic ? pic->data() : nullptr, out.data(), capacity, 0};
    if (options.hintNext && pic) {
      const Picture* next = pic + 1;
      if (options.wrongHints && n % 3 == 2) next = &pictures[0];
      if (next < pictures.data() + pictures.size()) p.next = next->data();
    }
    if (!EncodeFrame(s, p)) return false;
    if (!producesFrame) return true;
    std::vector<uint8_t> chunk(out.begin(), out.begin() + long(p.outputLength));
    if (!bitmapPart.empty()) {
      uint32_t offset = uint32_t(chunk.size());
      chunk.insert(chunk.end(), bitmapPart.begin(), bitmapPart.end());
      for (int k = 0; k < 4; ++k) chunk.push_back(uint8_t(offset >> (8 * k)));
    }
    if (p.outputLength == 0) ++result.skipped;
    result.bytes += chunk.size();
    result.frames.push_back(std::move(chunk));
    result.keyFrames.push_back(s.KeyFrame != 0);
    if (options.keepReconstructions) {
      const uint16_t* rec = encoderReconstruction(s);
      result.reconstructions.emplace_back(rec,
                                          rec + size_t(width) * height / (s.SingleField ? 2 : 1));
    }
    return true;
  };
  bool ok = true;
  if (s.EnhancedInterframe) {
    ok = call(0, &pictures[0], false);
    for (uint32_t i = 0; ok && i < count; ++i)
      ok = i + 1 < count ? call(i, &pictures[i + 1], false) : call(i, nullptr, true);
  } else {
    for (uint32_t i = 0; ok && i < count; ++i) ok = call(i, &pictures[i], false);
  }
  if (!ok) {
    if (result.failure.empty())
      result.failure = result.messages.empty() ? "EncodeFrame failed" : result.messages.back();
    EndEncoder(s);
    return result;
  }
  if (options.replay) {
    // A player: a fresh decoder over the whole stream must end on the encoder's picture.
    int streamHeight =
        height + (s.LetterboxPresent ? int(s.LetterboxTopLines + s.LetterboxBottomLines) : 0);
    FrameDecoder d;
    if (!d.prepareStream(width, streamHeight, result.formatWord, DecoderOptions{})) {
      result.failure = "replay: the decoder refuses the stream format";
    }
    for (size_t f = 0; f < result.frames.size() && result.failure.empty(); ++f) {
      const std::vector<uint8_t>& chunk = result.frames[f];
      if (chunk.empty()) continue;
      size_t part = chunk.size();
      if (f == 0 && options.backgroundBitmap && s.ChromaKeying &&
          !d.loadEmbeddedBackground(chunk.data(), chunk.size(), &part))
        result.failure = "replay: the embedded background does not decode";
      else if (d.decodeFrame(chunk.data(), part) != DecodeStatus::Ok)
        result.failure = "replay: frame " + std::to_string(f) +
                         " does not decode: " + (d.lastFrame().fault ? d.lastFrame().fault : "?");
    }
    const uint16_t* rec = encoderReconstruction(s);
    if (result.failure.empty() && rec) {
      int bottom = s.LetterboxPresent ? int(s.LetterboxBottomLines) : 0;
      int lines = s.SingleField ? height / 2 : height;
      for (int l = 0; l < lines && result.failure.empty(); ++l) {
        int row = bottom + (s.SingleField ? 2 * l + 1 : l);
        for (int x = 0; x < width; ++x)
          if (d.picture()[size_t(row) * width + x] != rec[size_t(l) * width + x]) {
            char buf[160];
            std::snprintf(buf, sizeof buf,
                          "replay: final picture differs at column %d, coded line %d", x, l);
            result.failure = buf;
            break;
          }
      }
    }
  }
  EndEncoder(s);
  result.ok = result.failure.empty();
  return result;
}

}  // namespace zov::test
