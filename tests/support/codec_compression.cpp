#include "support/codec_compression.h"

#include <filesystem>

namespace zov::test {

namespace fs = std::filesystem;

std::string codecWithCompressionLibrary(const std::string& folder) {
  fs::create_directories(folder);
  const fs::path codec = fs::path(folder) / "libzovcod32.so";
  fs::copy_file(ZOV_BUILT_CODEC, codec, fs::copy_options::overwrite_existing);
  fs::copy_file(ZOV_BUILT_ZOV32,
                fs::path(folder) / ("libzov32.so." + std::to_string(ZOV_SOVERSION)),
                fs::copy_options::overwrite_existing);
  return codec.string();
}

CodecCompression compressThroughCodec(const std::string& codecPath, const Footage& footage,
                                      int count, long keyRate, long quality) {
  CodecCompression r;
  constexpr DWORD kZov2 = mmioFOURCC('z', 'o', 'v', '2');
  // The copy serves this one open; whatever served zov2 before serves it again afterwards.
  const std::string previous = vfw::findDriverLibrary(ICTYPE_VIDEO, kZov2);
  ICInstall(ICTYPE_VIDEO, kZov2, reinterpret_cast<LPARAM>(codecPath.c_str()), "", ICINSTALL_DRIVER);
  HIC hic = ICOpen(ICTYPE_VIDEO, kZov2, ICMODE_COMPRESS);
  if (previous.empty())
    ICRemove(ICTYPE_VIDEO, kZov2, 0);
  else
    ICInstall(ICTYPE_VIDEO, kZov2, reinterpret_cast<LPARAM>(previous.c_str()), "",
              ICINSTALL_DRIVER);
  if (!hic) {
    r.failure = "the codec does not open for compression";
    return r;
  }
  BITMAPINFOHEADER in{};
  in.biSize = sizeof in;
  in.biWidth = footage.width;
  in.biHeight = footage.height;
  in.biPlanes = 1;
  in.biBitCount = static_cast<WORD>(footage.bitsPerPixel);
  in.biCompression = BI_RGB;
  ICCOMPRESSFRAMES info{};
  info.lFrameCount = count;
  info.lQuality = quality;
  info.lKeyRate = keyRate;
  info.dwRate = 15;
  info.dwScale = 1;
  std::vector<uint8_t> out;
  if (ICCompressQuery(hic, &in, nullptr) != ICERR_OK) {
    r.failure = "ICM_COMPRESS_QUERY refuses the footage";
  } else if (ICSendMessage(hic, ICM_COMPRESS_FRAMES_INFO, reinterpret_cast<DWORD_PTR>(&info),
                           sizeof info) != ICERR_OK) {
    r.failure = "ICM_COMPRESS_FRAMES_INFO failed";
  } else if (ICCompressGetFormat(hic, &in, &r.format) != ICERR_OK) {
    r.failure = "ICM_COMPRESS_GET_FORMAT failed";
  } else if (ICCompressBegin(hic, &in, &r.format) != ICERR_OK) {
    r.failure = "ICM_COMPRESS_BEGIN failed";
  } else {
    out.resize(static_cast<size_t>(ICCompressGetSize(hic, &in, &r.format)));
    for (int f = 0; f < count && f < static_cast<int>(footage.frames.size()); ++f) {
      BITMAPINFOHEADER coded = r.format;
      DWORD flags = 0, ckid = 0;
      auto* bits = const_cast<uint8_t*>(footage.frames[static_cast<size_t>(f)].data());
      if (ICCompress(hic, 0, &coded, out.data(), &in, bits, &ckid, &flags, f, 0, 10000, nullptr,
                     nullptr) != ICERR_OK) {
        r.failure = "ICM_COMPRESS failed at frame " + std::to_string(f);
        break;
      }
      r.chunks.emplace_back(out.begin(), out.begin() + coded.biSizeImage);
      r.keyFrames.push_back(flags & AVIIF_KEYFRAME);
    }
    if (ICCompressEnd(hic) != ICERR_OK && r.failure.empty()) r.failure = "ICM_COMPRESS_END failed";
  }
  ICClose(hic);
  return r;
}

}  // namespace zov::test
