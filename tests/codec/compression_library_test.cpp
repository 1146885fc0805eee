// libzov32 behind the codec: real footage compressed through the compression manager and the
// codec's zov2 instance gives the same frames as a session of the library run directly, and
// those frames decode, through the codec, to the encoder's own reconstruction.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "codec/support/codec_host.h"
#include "support/codec_compression.h"
#include "support/footage_avi.h"
#include "zov32/compression_session.h"

namespace zov::test {
namespace {

constexpr int kFrames = 12;

TEST(CompressionLibrary, FramesCompressedThroughTheCodecDecodeToTheEncodersPicture) {
  Footage footage;
  ASSERT_TRUE(loadUncompressedAvi(std::string(ZOV_TEST_DATA_DIR) + "/teapot-256x256-rgb24.avi",
                                  footage, kFrames));
  ASSERT_EQ(footage.frames.size(), size_t(kFrames));
  EXPECT_EQ(runInChild([&] {
              const std::string codecPath = codecWithCompressionLibrary(makeTempDir());
              CodecExports exports = loadCodec(codecPath);
              CodecUi ui(exports);
              CodecCompression coded = compressThroughCodec(codecPath, footage, kFrames);
              if (!coded.failure.empty()) std::fprintf(stderr, "%s\n", coded.failure.c_str());
              CHILD_CHECK(coded.failure.empty());
              CHILD_CHECK(coded.chunks.size() == size_t(kFrames));
              CHILD_CHECK(coded.keyFrames[0] && coded.keyFrames[4] && !coded.keyFrames[1]);

              // The same session run directly keeps the encoder's reconstruction at hand.
              zov32::CompressionSession direct;
              BITMAPINFOHEADER in{
                  sizeof in, footage.width, footage.height, 1, 24, BI_RGB, 0, 0, 0, 0, 0};
              ICCOMPRESSFRAMES info{};
              info.lQuality = -1;
              info.lKeyRate = 4;
              info.dwRate = 15;
              info.dwScale = 1;
              CHILD_CHECK(direct.framesInfo(&info) == ICERR_OK);
              BITMAPINFOHEADER format{};
              CHILD_CHECK(direct.getFormat(&in, &format) == ICERR_OK);
              CHILD_CHECK(std::memcmp(&format, &coded.format, sizeof format) == 0);
              CHILD_CHECK(direct.begin(&in, &format) == ICERR_OK);

              HIC decoder = ICOpen(ICTYPE_VIDEO, mmioFOURCC('z', 'o', 'v', '2'), ICMODE_DECOMPRESS);
              CHILD_CHECK(decoder);
              OutputFormat rgb = rgbOutput(footage.width, footage.height);
              BITMAPINFOHEADER stream = coded.format;
              CHILD_CHECK(ICDecompressBegin(decoder, &stream, &rgb.header) == ICERR_OK);
              std::vector<uint8_t> chunk(static_cast<size_t>(direct.getSize(&in)));
              std::vector<uint16_t> picture(size_t(footage.width) * footage.height);
              const size_t pixels = picture.size();
              for (int f = 0; f < kFrames; ++f) {
                BITMAPINFOHEADER out = format;
                DWORD flags = 0;
                ICCOMPRESS request{
                    0, &out, chunk.data(), &in,    footage.frames[f].data(), nullptr, &flags, f,
                    0, 0,    nullptr,      nullptr};
                CHILD_CHECK(direct.compress(&request) == ICERR_OK);
                const std::vector<uint8_t> same(chunk.begin(), chunk.begin() + out.biSizeImage);
                CHILD_CHECK(same == coded.chunks[size_t(f)]);

                stream.biSizeImage = static_cast<DWORD>(same.size());
                CHILD_CHECK(ICDecompress(decoder, coded.keyFrames[f] ? 0 : ICDECOMPRESS_NOTKEYFRAME,
                                         &stream, const_cast<uint8_t*>(same.data()), &rgb.header,
                                         picture.data()) == DWORD(ICERR_OK));
                const uint16_t* reconstruction = direct.reconstruction();
                CHILD_CHECK(reconstruction);
                CHILD_CHECK(std::memcmp(picture.data(), reconstruction, pixels * 2) == 0);
              }
              ICDecompressEnd(decoder);
              ICClose(decoder);
              CHILD_CHECK(ui.boxes.boxes().empty());
              return 0;
            }),
            0);
}

}  // namespace
}  // namespace zov::test
