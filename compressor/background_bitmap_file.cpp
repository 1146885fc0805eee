#include "compressor/background_bitmap_file.h"

#include <filesystem>

#include "encoder/background_bitmap.h"
#include "platform/ui.h"

namespace zov {

bool prepareChromaKeyBuffers(const CompressionSettings& s, int width, int height,
                             ChromaKeyBuffers& buffers) {
  buffers = ChromaKeyBuffers{};
  if (!s.ChromaKeying || width <= 0 || height <= 0) return true;
  const size_t pixels = size_t(width) * size_t(height);
  buffers.keyMask.assign(pixels, 0);
  const bool named = !s.ChromaBackground.empty();
  if (!named && s.ChromaScreening != kScreeningBackground) return true;
  buffers.background.assign(pixels, 0);
  if (!named) return true;
  std::string error;
  std::vector<uint16_t> picture;
  if (!loadBackgroundBitmap(s.ChromaBackground, width, height, picture, &error)) {
    messageBox(nullptr, error, "Chroma Keying", MB_OK | MB_ICONSTOP | MB_SETFOREGROUND);
    buffers = ChromaKeyBuffers{};
    return false;
  }
  buffers.background = std::move(picture);
  buffers.bitmapLoaded = true;
  return true;
}

std::string chromaBackgroundLabel(const CompressionSettings& s) {
  if (!s.ChromaBackground.empty()) {
    return std::filesystem::path(s.ChromaBackground).filename().string();
  }
  return s.ChromaScreening == kScreeningBackground ? "First frame" : "Black";
}

std::string chromaBackgroundButtonText(const CompressionSettings& s) {
  return s.ChromaBackground.empty() ? "&Browse..." : "&Clear";
}

ChromaPreviewSource chromaPreviewSource(const CompressionSettings& s) {
  if (!s.ChromaBackground.empty()) return ChromaPreviewSource::Bitmap;
  return s.ChromaScreening == kScreeningBackground ? ChromaPreviewSource::FirstFrame
                                                   : ChromaPreviewSource::Black;
}

ChromaPageEnabling chromaPageEnabling(const CompressionSettings& s, bool zov2Source) {
  ChromaPageEnabling e;
  const bool background = s.ChromaScreening == kScreeningBackground;
  e.methodButtons = !zov2Source;
  e.colourLevels = s.ChromaKeying && !background && !zov2Source;
  e.backgroundOptions = background;
  e.backgroundFile = s.ChromaKeying && !zov2Source;
  return e;
}

}  // namespace zov
