#include "compressor/run_report.h"

#include <cmath>
#include <cstdio>

#include "encoder/compression_run.h"

namespace zov {

namespace {

// A JSON number; JSON has no infinity (a lossless picture's PSNR), which becomes null.
std::string number(double value, int decimals) {
  if (!std::isfinite(value)) return "null";
  char text[64];
  std::snprintf(text, sizeof text, "%.*f", decimals, value);
  return text;
}

std::string quoted(const std::string& text) {
  std::string r = "\"";
  for (char c : text) {
    if (c == '"' || c == '\\') r += '\\';
    if (static_cast<unsigned char>(c) < 0x20) {
      char esc[8];
      std::snprintf(esc, sizeof esc, "\\u%04x", c);
      r += esc;
      continue;
    }
    r += c;
  }
  return r + "\"";
}

}  // namespace

std::string progressJson(const RunProgress& p) {
  const double fps = p.elapsedSeconds > 0 ? p.done / p.elapsedSeconds : 0;
  const double eta =
      p.done ? double(p.frameCount - p.done) * p.elapsedSeconds / double(p.done) : 0.0;
  // A stream's length (and so the time left) is unknown until it ends.
  const bool known = p.frameCount != 0;
  return "{\"frame\":" + std::to_string(p.done) +
         ",\"total\":" + (known ? std::to_string(p.frameCount) : std::string("null")) +
         ",\"bytes\":" + std::to_string(p.outputBytes) + ",\"fps\":" + number(fps, 2) +
         ",\"elapsed\":" + number(p.elapsedSeconds, 3) +
         ",\"eta\":" + (known ? number(eta, 1) : std::string("null")) + "}";
}

double RunSummary::bitsPerPixel() const {
  const double pixels = double(frames) * width * height;
  return pixels > 0 ? videoBytes * 8.0 / pixels : 0;
}

std::string summaryJson(const RunSummary& s) {
  std::string j =
      "{\"frames\":" + std::to_string(s.frames) + ",\"bytes\":" + std::to_string(s.bytes) +
      ",\"video_bytes\":" + std::to_string(s.videoBytes) + ",\"width\":" + std::to_string(s.width) +
      ",\"height\":" + std::to_string(s.height) + ",\"bpp\":" + number(s.bitsPerPixel(), 4) +
      ",\"kbit_per_second\":" + number(s.kilobitsPerSecond(), 1) +
      ",\"fps\":" + number(s.framesPerSecond(), 2);
  j += ",\"psnr\":" + (s.psnr ? number(*s.psnr, 3) : std::string("null"));
  j += ",\"seconds\":{\"total\":" + number(s.seconds, 3) + ",\"read\":" + number(s.readSeconds, 3) +
       ",\"filter\":" + number(s.filterSeconds, 3) + ",\"encode\":" + number(s.encodeSeconds, 3) +
       ",\"write\":" + number(s.writeSeconds, 3) + "}";
  j += ",\"exit_reason\":" + quoted(s.exitReason) +
       ",\"exit_status\":" + std::to_string(s.exitStatus) + "}\n";
  return j;
}

}  // namespace zov
