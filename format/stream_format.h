// The stream format word: the biCompression field of a ZOV1/ZOV2 stream's 16-bit
// BITMAPINFOHEADER. Upper 16 bits: the last two characters of the lower-case handler FourCC;
// lower 16 bits: the default scheme and the stream flags below.
#pragma once

#include <cstdint>

namespace zov {

inline constexpr int kMaxWidth = 640;
inline constexpr int kMaxHeight = 480;
inline constexpr int kMaxPixels = kMaxWidth * kMaxHeight;
// The limit between the small and large working-memory layouts (320 x 240).
inline constexpr int kSmallPixels = 76800;

enum class Scheme : uint8_t { Rgb = 0, Yc422 = 1, Yc411 = 2, Yc811 = 3, Yc1611 = 4 };
inline constexpr int kSchemeCount = 5;

namespace stream_flag {
inline constexpr uint32_t kSchemeMask = 0x00FF;
inline constexpr uint32_t kChroma1st = 0x0100;
inline constexpr uint32_t kV4 = 0x0200;
inline constexpr uint32_t kLbox = 0x0400;
inline constexpr uint32_t kEnpy = 0x0800;
inline constexpr uint32_t kChroma = 0x1000;
inline constexpr uint32_t kWField = 0x2000;
inline constexpr uint32_t kSField = 0x8000;
}  // namespace stream_flag

// Upper halves of the format word: 'v','1' and 'v','2' of "zov1"/"zov2", as a little-endian
// FourCC would hold them.
inline constexpr uint32_t kZov1Tag = uint32_t('v') << 16 | uint32_t('1') << 24;
inline constexpr uint32_t kZov2Tag = uint32_t('v') << 16 | uint32_t('2') << 24;

constexpr uint32_t defaultScheme(uint32_t formatWord) { return formatWord & stream_flag::kSchemeMask; }
constexpr bool hasFlag(uint32_t formatWord, uint32_t flag) { return (formatWord & flag) != 0; }

// Pixel layout of the decoder's picture: 5-5-5, or 5-6-5 with the low green bit 0.
enum class PixelKind : uint8_t { Rgb555, Rgb565 };

// A 15-bit colour as stored in a 5-6-5 picture: red and green move up one bit.
constexpr uint16_t to565(uint16_t rgb555) {
  return static_cast<uint16_t>((rgb555 & 0x7FFF) + (rgb555 & 0x7FE0));
}
// The 15-bit colour of a 5-6-5 pixel, with the low green bit dropped.
constexpr uint16_t from565(uint16_t rgb565) {
  return static_cast<uint16_t>(((rgb565 >> 1) & 0x7FE0) | (rgb565 & 0x1F));
}

}  // namespace zov
