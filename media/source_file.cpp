#include "media/source_file.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <new>

#include "encoder/colour_quantiser.h"
#include "encoder/compression_settings.h"
#include "encoder/rgb15_kernels.h"
#include "media/avi_container.h"
#include "media/source_messages.h"
#include "media/y4m_source.h"

namespace zov {

namespace {

std::mutex gEnvMutex;
SourceEnvironment gEnv;

SourceEnvironment environment() {
  std::lock_guard<std::mutex> lock(gEnvMutex);
  return gEnv;
}

SourceAudioOptions currentAudioOptions() {
  SourceEnvironment env = environment();
  return env.audioOptions ? env.audioOptions() : SourceAudioOptions{};
}

void report(const char* text) {
  showSourceMessage(text);
}

bool endsWithNoCase(const std::string& s, const char* suffix) {
  size_t n = std::strlen(suffix);
  if (s.size() < n) return false;
  for (size_t i = 0; i < n; ++i)
    if (std::tolower(uint8_t(s[s.size() - n + i])) != std::tolower(uint8_t(suffix[i])))
      return false;
  return true;
}

// True for files that hold YUV4MPEG2 rather than AVI.
bool isYuv4MpegPath(const std::string& path) {
  if (path == "-" || endsWithNoCase(path, ".y4m")) return true;
  FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) return false;
  char magic[10] = {};
  size_t n = std::fread(magic, 1, 9, f);
  std::fclose(f);
  return n == 9 && std::memcmp(magic, "YUV4MPEG2", 9) == 0;
}

}  // namespace

// The nearest-colour rule tries, per component, the multiple of 8 below, the one below that and
// the one above, and keeps the triple of smallest weighted distance (first found on ties). The
// distance is a sum of one term per component, so the best triple is the best level of each
// component on its own, and the first-found tie rule picks the lower level: a component x
// becomes min(31, (x + 3) >> 3). One table look-up per component gives the same 15-bit colours
// as the full search (the tests compare them) at a fraction of the cost.
void convertRowTo15Fast(const uint8_t* src, int bitsPerPixel, int width, uint16_t* dst) {
  static const auto table = [] {
    std::array<uint8_t, 256> t{};
    for (int x = 0; x < 256; ++x) t[size_t(x)] = uint8_t(std::min(31, (x + 3) >> 3));
    return t;
  }();
  if (bitsPerPixel == 24) {
    rgb15Kernels().bgr24To15(src, width, dst);
    return;
  }
  if (bitsPerPixel == 16) {
    for (int x = 0; x < width; ++x) dst[x] = getLE16(src + 2 * x) & 0x7FFF;
    return;
  }
  const int step = bitsPerPixel / 8;
  for (int x = 0; x < width; ++x, src += step)
    dst[x] = uint16_t(table[src[2]] << 10 | table[src[1]] << 5 | table[src[0]]);
}

// ---- Options and environment ----

SourceAudioOptions audioOptionsFrom(const CompressorOptions& options) {
  return {options.MixToMono, options.Make8Bit, options.SampleRate};
}

void setSourceEnvironment(SourceEnvironment e) {
  std::lock_guard<std::mutex> lock(gEnvMutex);
  gEnv = std::move(e);
}

// ---- The open-file table: at most two sources have their file open ----

class OpenFileTable {
 public:
  static OpenFileTable& instance() {
    static OpenFileTable table;
    return table;
  }
  // Enters `source`, closing the older entry when both are taken.
  void enter(SourceFile* source) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (entries_[0] == source || entries_[1] == source) return;
    if (entries_[0] && entries_[1]) {
      SourceFile* older = entries_[0];
      entries_[0] = entries_[1];
      entries_[1] = nullptr;
      older->releaseState();
    }
    if (!entries_[0])
      entries_[0] = source;
    else
      entries_[1] = source;
  }
  void leave(SourceFile* source) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (entries_[0] == source) {
      entries_[0] = entries_[1];
      entries_[1] = nullptr;
    } else if (entries_[1] == source) {
      entries_[1] = nullptr;
    }
  }
  std::mutex mutex_;
  SourceFile* entries_[2] = {nullptr, nullptr};
};

// ---- Opening ----

SourceFile::SourceFile(const std::string& path, const std::string& audioPath)
    : Path(path), AudioPath(audioPath) {
  // 2. Open the file.
  StatePtr st = openFile(true);
  if (!st) return;
  MediaFile& f = *st->file;

  // 3. Timing.
  MicroSecPerFrame = f.microSecPerFrame();
  FileScale = MicroSecPerFrame;
  FileRate = 1000000;
  if (MicroSecPerFrame == 0) {
    report("AVC0004E Unable to determine video timing");
    return;
  }
  // The main header rounds the frame time to whole microseconds (33333 for 30 frames a second).
  // When the video stream's own rate agrees, it is kept instead: audio is then cut per frame at
  // exactly the source's rate and the output carries the exact frame rate.
  {
    const AviStreamHeader& vh = f.videoHeader();
    if (vh.scale && vh.rate &&
        std::fabs(1e6 * double(vh.scale) / double(vh.rate) - double(MicroSecPerFrame)) < 1.0) {
      FileScale = vh.scale;
      FileRate = vh.rate;
    }
  }
  // 4. The video stream.
  if (f.videoHeader().start != 0) {
    report("AVC0005E Video stream is not zero-based");
    return;
  }
  FrameCount = f.frameCount();
  Streamed = f.streamed();
  if (FrameCount == 0) {
    report("AVC0006E Unable to determine length of video stream");
    return;
  }
  // 5. Frame 0 gives the size and bit count. Its picture is kept: the first read of frame 0
  // (the compressor's check of the format, then its run) takes it without a second decode.
  {
    std::lock_guard<std::mutex> lock(videoLock_);
    DecodedFrame& frame = decoded_;
    if (!decodeFrame(st, 0, frame)) {
      report("AVC0007E Unable to determine video bitcount");
      return;
    }
    st->heldFrame = 0;
    Width = uint32_t(frame.header.width);
    Height = uint32_t(frame.header.height);
    BitCount = frame.header.bitCount == 8 ? 24 : frame.header.bitCount;
  }
  CropWidth = Width;
  CropHeight = Height;

  // 6. The audio stream.
  if (st->audio) {
    if (f.audioHeader().start != 0) {
      report("AVC0008E Audio stream is not zero-based");
      return;
    }
    const std::vector<uint8_t>& fmt = f.audioFormat();
    if (fmt.size() < 14) {
      report("AVC0010E Unable to determine audio frequency");
      return;
    }
    uint64_t length = f.audioLength();
    AudioLength = uint32_t(std::min<uint64_t>(length, 0xFFFFFFFFu));
    if (getLE16(fmt.data()) != 1) {
      report(
          "AVC0012E Currently only PCM (uncompressed) is supported: audio disabled for this video");
      st->audio = false;
      HasAudio = false;
    } else {
      AudioIsPcm = true;
      AudioChannels = getLE16(fmt.data() + 2);
      AudioRate = getLE32(fmt.data() + 4);
      AudioBlockAlign = getLE16(fmt.data() + 12);
      uint32_t bits = fmt.size() >= 16 ? getLE16(fmt.data() + 14) : 0;
      // Only what the conversions understand: 8- or 16-bit PCM, one or two channels.
      bool usable = (AudioChannels == 1 || AudioChannels == 2) && AudioRate > 0 &&
                    (AudioBlockAlign == AudioChannels || AudioBlockAlign == 2 * AudioChannels) &&
                    (bits == 0 || bits == 8 * AudioBlockAlign / AudioChannels);
      if (!usable) {
        report(
            "AVC0012E Currently only PCM (uncompressed) is supported: audio disabled for this "
            "video");
        st->audio = false;
        HasAudio = false;
        AudioIsPcm = false;
      } else {
        double s = sourceSamplesPerFrame();
        // A stream's length is unknown: its audio tells how far it may go.
        if (f.streamed()) FrameCount = std::min<uint64_t>(FrameCount, uint64_t(AudioLength / s));
        if (uint64_t(double(FrameCount) * s) > AudioLength) {
          uint32_t reduced = uint32_t(double(AudioLength) / s);
          showSourceMessage(formatMessage(
              "AVC0013W WARNING! The amount of audio in %s is less than the amount of "
              "video.\rThe number of available frames is being reduced from %u to %u.",
              Path.c_str(), FrameCount, reduced));
          FrameCount = reduced;
          if (FrameCount == 0) {
            report("AVC0006E Unable to determine length of video stream");
            return;
          }
        }
        double fps = framesPerSecond();
        AudioPreloadFrames = uint32_t(fps * 0.75 + 0.9);
      }
    }
  }

  // 7. The handler.
  Handler = fourCCText(f.videoHeader().handler);
  // 8. Flags of a ZOV2 source.
  std::string upper = Handler;
  for (char& c : upper) c = char(std::toupper(uint8_t(c)));
  if (upper == "ZOV2") {
    const std::vector<uint8_t>& vf = f.videoFormat();
    if (vf.size() < 40) {
      report("AVC0015E Unable to read video format");
      return;
    }
    // The flags are those of the stream format word, the biCompression field. (Reading them
    // from the plane count would find 1 in every file this system writes.)
    uint16_t flags = getLE16(vf.data() + 16);
    Chroma1st = flags & 0x0100;
    FormatV4 = flags & 0x0200;
    Chroma = flags & 0x1000;
    WideFieldSource = flags & 0x2000;
    SingleFieldSource = flags & 0x8000;
    NeedsSpecial = !(FormatV4 && !Chroma && !Chroma1st);
  }
  // 9.
  ExtractionEnd = FrameCount - 1;
  Opened = true;
}

SourceFile::~SourceFile() {
  closeFile();
}

SourceFile::StatePtr SourceFile::openFile(bool firstOpen) {
  std::unique_ptr<MediaFile> file;
  for (;;) {
    std::string why;
    if (isYuv4MpegPath(Path)) {
      file = openYuv4Mpeg(Path, AudioPath, &why);
    } else {
      file = AviContainer::open(Path, &why);
    }
    if (file) break;
    int answer =
        showSourceMessage("AVC0016Q Unable to open file\n" + why, SourceMessageStyle::RetryCancel);
    if (answer != kSourceAnswerRetry) return nullptr;
  }
  if (!file->hasVideo()) {
    report("AVC0017E Unable to open video stream");
    return nullptr;
  }
  auto st = std::make_shared<OpenState>();
  std::string why;
  std::unique_ptr<VideoDecoder> decoder = createVideoDecoder(file->videoFormat(), &why);
  if (!decoder) {
    showSourceMessage("AVC0018E Unable to prepare video stream\n" + why);
    return nullptr;
  }
  st->decoder = std::move(decoder);
  SourceEnvironment env = environment();
  bool removeAudio = env.removeAudio && env.removeAudio();
  st->audio = !removeAudio && file->hasAudio();
  // A reopened file keeps the audio decision of its first opening.
  if (!firstOpen && !HasAudio) st->audio = false;
  if (firstOpen) HasAudio = st->audio;
  st->file = std::move(file);
  {
    std::lock_guard<std::mutex> lock(stateMutex_);
    state_ = st;
  }
  OpenFileTable::instance().enter(this);
  return st;
}

SourceFile::StatePtr SourceFile::currentState() const {
  std::lock_guard<std::mutex> lock(stateMutex_);
  return state_;
}

void SourceFile::releaseState() {
  std::lock_guard<std::mutex> lock(stateMutex_);
  state_.reset();
}

void SourceFile::closeFile() {
  OpenFileTable::instance().leave(this);
  releaseState();
}

bool SourceFile::fileIsOpen() const {
  return currentState() != nullptr;
}

SourceFile::StatePtr SourceFile::ensureOpen() {
  if (StatePtr st = currentState()) return st;
  // The opening itself is returned: entering the table may already have closed it again for
  // another source's opening, and this reader still needs it.
  if (StatePtr st = openFile(false)) return st;
  SourceEnvironment env = environment();
  if (env.reopenFailed) env.reopenFailed();
  return nullptr;
}

// ---- Video ----

bool SourceFile::decodeFrame(const StatePtr& st, uint32_t frame, DecodedFrame& out) {
  MediaFile& f = *st->file;
  if (frame >= f.frameCount()) return false;
  std::vector<uint8_t>& data = stored_;
  if (!st->decoder->needsSequence()) {
    return f.readFrame(frame, data) && st->decoder->decode(data.data(), data.size(), out);
  }
  // A delta-coded source decodes from its key frame unless the decoder already holds the frame
  // before this one.
  uint32_t from = f.previousKeyFrame(frame);
  if (st->lastDecoded >= int64_t(from) && st->lastDecoded < int64_t(frame))
    from = uint32_t(st->lastDecoded + 1);
  bool ok = true;
  for (uint32_t n = from; n <= frame && ok; ++n)
    ok = f.readFrame(n, data) && st->decoder->decode(data.data(), data.size(), out);
  st->lastDecoded = ok ? int64_t(frame) : -1;
  return ok;
}

bool SourceFile::getFrame(uint32_t frame, std::vector<uint8_t>& bitmap, bool* keyFrame,
                          bool convertTo16, bool applyFilters, bool applyResize) {
  return getFrameAbsolute(ExtractionStart + frame, bitmap, keyFrame, convertTo16, applyFilters,
                          applyResize);
}

bool SourceFile::getFrameAbsolute(uint32_t frame, std::vector<uint8_t>& bitmap, bool* keyFrame,
                                  bool convertTo16, bool applyFilters, bool applyResize) {
  std::lock_guard<std::mutex> lock(videoLock_);
  // The bitmap's memory (usually an earlier frame) is reused as it is; a failed read leaves it
  // empty.
  StatePtr st = ensureOpen();
  const bool ok =
      st && getFrameLocked(st, frame, bitmap, keyFrame, convertTo16, applyFilters, applyResize);
  if (!ok) bitmap.clear();
  return ok;
}

bool SourceFile::getFrameLocked(const StatePtr& st, uint32_t frame, std::vector<uint8_t>& bitmap,
                                bool* keyFrame, bool convertTo16, bool applyFilters,
                                bool applyResize) {
  // 1. Decode; a frame that can't be decoded becomes black. The black frame has the full
  // frame size, so the crop below reads inside it whatever the crop rectangle. Delta-coded
  // sources start from an empty frame as before; the others reuse the last frame's buffer.
  // A frame asked for again (frame 0 after the opening's look at it) is not decoded again.
  DecodedFrame& decoded = decoded_;
  bool ok = st->heldFrame == int64_t(frame) && !st->decoder->needsSequence();
  if (!ok) {
    if (st->decoder->needsSequence()) decoded = DecodedFrame{};
    ok = decodeFrame(st, frame, decoded) && uint32_t(decoded.header.width) == Width &&
         uint32_t(decoded.header.height) == Height;
  }
  st->heldFrame = ok ? int64_t(frame) : -1;
  if (!ok) {
    report("AVC0021E Unable to get video frame");
    try {
      decoded = DecodedFrame{};
      decoded.header.width = int32_t(Width);
      decoded.header.height = int32_t(Height);
      decoded.header.bitCount = uint16_t(BitCount);
      decoded.pixels.assign(decoded.stride() * Height, 0);
    } catch (const std::bad_alloc&) {
      report("AVC0022E Error allocating video buffer");
      return false;
    }
  }
  const int srcBits = decoded.header.bitCount;
  const uint32_t bpp = BitCount / 8;
  const uint32_t cw = CropWidth, ch = CropHeight;
  uint32_t w = cw, h = ch;
  DibHeader rh = decoded.header;
  rh.size = 40;
  rh.width = int32_t(cw);
  rh.height = int32_t(ch);
  rh.compression = 0;
  rh.clrUsed = rh.clrImportant = 0;
  const size_t srcStride = decoded.stride();
  // The stored line of the frame that is line y of the crop (bottom-up, so the crop's first
  // stored line is Height - CropY - CropHeight), or -1 outside the frame; likewise the number
  // of the crop's pixels on a line that lie inside the frame.
  auto sourceLine = [&](uint32_t y) -> int64_t {
    int64_t sy = int64_t(Height) - CropY - ch + y;
    return sy < 0 || sy >= int64_t(Height) ? -1 : sy;
  };
  const uint32_t inside =
      uint64_t(CropX) >= Width ? 0 : uint32_t(std::min<uint64_t>(cw, uint64_t(Width) - CropX));

  // The result goes into the caller's buffer, whose memory is reused frame after frame.
  std::vector<uint8_t>& result = bitmap;
  if (convertTo16 && srcBits == int(BitCount) && BitCount != 8) {
    // 2-4. Crop and 15-bit colour in one pass straight from the decoded frame; anything
    // outside the frame is black.
    // The buffer holds an earlier frame: every pixel is written, those outside the frame black.
    try {
      result.resize(40 + size_t(2) * w * h);
    } catch (const std::bad_alloc&) {
      report("AVC0022E Error allocating video buffer");
      return false;
    }
    uint16_t* d = reinterpret_cast<uint16_t*>(result.data() + 40);
    for (uint32_t y = 0; y < h; ++y) {
      const int64_t sy = sourceLine(y);
      uint16_t* row = d + size_t(w) * y;
      const uint32_t written = sy < 0 ? 0 : inside;
      if (written > 0) {
        const uint8_t* s = decoded.pixels.data() + srcStride * size_t(sy) + size_t(bpp) * CropX;
        convertRowTo15Fast(s, int(BitCount), int(written), row);
      }
      std::fill(row + written, row + w, uint16_t{0});
    }
    rh.bitCount = 16;
    rh.sizeImage = 2 * w * h;
  } else {
    // 2. The cropped result.
    std::vector<uint8_t> cropped;
    try {
      cropped.assign(40 + size_t(bpp) * cw * ch, 0);
    } catch (const std::bad_alloc&) {
      report("AVC0022E Error allocating video buffer");
      return false;
    }
    rh.bitCount = uint16_t(BitCount);
    rh.sizeImage = bpp * cw * ch;

    // 3. Copy the crop rectangle. Anything outside the frame stays black.
    uint8_t* out = cropped.data() + 40;
    for (uint32_t y = 0; y < ch; ++y) {
      const int64_t sy = sourceLine(y);
      if (sy < 0) continue;
      const uint8_t* s = decoded.pixels.data() + srcStride * size_t(sy);
      uint8_t* d = out + size_t(bpp) * cw * y;
      for (uint32_t x = 0; x < inside; ++x) {
        const uint64_t sx = uint64_t(CropX) + x;
        if (srcBits == 8) {
          const uint8_t* q = decoded.palette.data() + 4 * size_t(s[sx]);
          d[3 * x] = q[0];
          d[3 * x + 1] = q[1];
          d[3 * x + 2] = q[2];
        } else {
          std::memcpy(d + bpp * x, s + bpp * sx, bpp);
        }
      }
    }

    // 4. 15-bit colour.
    if (convertTo16) {
      try {
        result.assign(40 + size_t(2) * w * h, 0);
      } catch (const std::bad_alloc&) {
        report("AVC0022E Error allocating video buffer");
        return false;
      }
      uint16_t* d = reinterpret_cast<uint16_t*>(result.data() + 40);
      for (uint32_t y = 0; y < h; ++y) {
        const uint8_t* s = out + size_t(bpp) * w * y;
        uint16_t* row = d + size_t(w) * y;
        convertRowTo15Fast(s, int(BitCount), int(w), row);
      }
      rh.bitCount = 16;
      rh.sizeImage = 2 * w * h;
    } else {
      result = std::move(cropped);
    }
  }

  // 5. Field stripping and resizing, on 15-bit pixels only.
  if (applyResize && convertTo16 &&
      (ResizeStripType != 0 || ResizeHeight != 0 || ResizeWidth != 0)) {
    const uint32_t W = outputWidth(), H = pictureHeight();
    std::vector<uint8_t> resized;
    try {
      if (W == 0 || H == 0) throw std::bad_alloc();
      resized.assign(40 + size_t(2) * W * H, 0);
    } catch (const std::bad_alloc&) {
      report("AVC0023E Error allocating resized video buffer");
      bitmap.clear();
      return false;
    }
    uint16_t* src = reinterpret_cast<uint16_t*>(result.data() + 40);
    int sh = int(h);
    if (ResizeStripType != 0) sh = stripFields15(src, int(w), sh, int(ResizeStripType));
    if (sh > 0)
      resizeFrame15(src, int(w), sh, reinterpret_cast<uint16_t*>(resized.data() + 40), int(W),
                    int(H), ResizeInterpolate);
    w = W;
    h = H;
    rh.width = int32_t(w);
    rh.height = int32_t(h);
    rh.sizeImage = 2 * w * h;
    result = std::move(resized);
  }

  // 6. Filters.
  if (applyFilters && rh.bitCount == 16) {
    SourceEnvironment env = environment();
    if (env.applyFilters)
      env.applyFilters(reinterpret_cast<uint16_t*>(result.data() + 40), int(w), int(h));
  }
  rh.packInto(result.data());

  // 7.
  if (keyFrame) *keyFrame = st->file->previousKeyFrame(frame) == frame;
  CurrentFrame = frame;
  return true;
}

int stripFields15(uint16_t* pixels, int w, int h, int stripType) {
  int half = h / 2;
  for (int k = 0; k < half; ++k) {
    int from = 2 * k + (stripType == 2 ? 1 : 0);
    if (from != k)
      std::memmove(pixels + size_t(w) * k, pixels + size_t(w) * from, sizeof(uint16_t) * w);
  }
  return half;
}

void resizeFrame15(const uint16_t* src, int w, int h, uint16_t* dst, int W, int H,
                   bool interpolate) {
  if (w <= 0 || h <= 0 || W <= 0 || H <= 0) return;
  const int64_t sx = int64_t(w) * 1024 / W, sy = int64_t(h) * 1024 / H;
  if (!interpolate) {
    int64_t py = 0;
    for (int Y = 0; Y < H; ++Y, py += sy) {
      const uint16_t* row = src + size_t(w) * std::min<int64_t>(py >> 10, h - 1);
      int64_t px = 0;
      for (int X = 0; X < W; ++X, px += sx)
        dst[size_t(W) * Y + X] = row[std::min<int64_t>(px >> 10, w - 1)];
    }
    return;
  }
  int64_t py = sy / 4;
  for (int Y = 0; Y < H; ++Y, py += sy) {
    const int row = int(std::min<int64_t>(py >> 10, h - 1));
    const int64_t fy = py & 1023;
    const bool lastRow = row >= h - 1;
    const uint16_t* up = src + size_t(w) * row;
    const uint16_t* down = lastRow ? up : up + w;
    int64_t px = sx / 4;
    for (int X = 0; X < W; ++X, px += sx) {
      const int col = int(std::min<int64_t>(px >> 10, w - 1));
      const int64_t fx = px & 1023;
      const bool lastCol = col >= w - 1;
      if (lastRow && lastCol) {
        dst[size_t(W) * Y + X] = up[col];
        continue;
      }
      const int right = lastCol ? col : col + 1;
      uint16_t p = up[col], q = up[right], s = down[col], t = down[right];
      uint16_t out = 0;
      for (int shift = 0; shift <= 10; shift += 5) {
        int64_t cp = (p >> shift) & 31, cq = (q >> shift) & 31, cs = (s >> shift) & 31,
                ct = (t >> shift) & 31;
        int64_t top = cp * 1024 + (cq - cp) * fx;
        int64_t bottom = cs * 1024 + (ct - cs) * fx;
        int64_t r = top + ((bottom - top) >> 10) * fy;
        int64_t c = r < 0 ? 0 : (r >> 10) & 31;
        out = uint16_t(out | c << shift);
      }
      dst[size_t(W) * Y + X] = out;
    }
  }
}

bool SourceFile::isKeyFrame(uint32_t frame) {
  return isKeyFrameAbsolute(ExtractionStart + frame);
}

bool SourceFile::isKeyFrameAbsolute(uint32_t frame) {
  std::lock_guard<std::mutex> lock(videoLock_);
  StatePtr st = ensureOpen();
  return st && frame < st->file->frameCount() && st->file->previousKeyFrame(frame) == frame;
}

int64_t SourceFile::rawFrameSize(uint32_t frame) {
  std::lock_guard<std::mutex> lock(videoLock_);
  StatePtr st = ensureOpen();
  int64_t size = st ? st->file->frameSize(frame) : -1;
  if (size < 0) report("AVC0024E Unable to get video frame size");
  return size;
}

bool SourceFile::readRawFrame(uint32_t frame, std::vector<uint8_t>& buffer, bool* keyFrame) {
  return readRawFrameAbsolute(ExtractionStart + frame, buffer, keyFrame);
}

bool SourceFile::readRawFrameAbsolute(uint32_t frame, std::vector<uint8_t>& buffer,
                                      bool* keyFrame) {
  std::lock_guard<std::mutex> lock(videoLock_);
  buffer.clear();
  StatePtr st = ensureOpen();
  if (!st) return false;
  return readRawLocked(st, frame, buffer, keyFrame);
}

bool SourceFile::readRawLocked(const StatePtr& st, uint32_t frame, std::vector<uint8_t>& buffer,
                               bool* keyFrame) {
  MediaFile& f = *st->file;
  int64_t size = f.frameSize(frame);
  if (size < 0) {
    report("AVC0025E Unable to get video frame size");
    return false;
  }
  std::vector<uint8_t> data;
  try {
    buffer.assign(40 + size_t(size), 0);
  } catch (const std::bad_alloc&) {
    report("AVC0026E Unable to allocate video frame");
    return false;
  }
  const std::vector<uint8_t>& fmt = f.videoFormat();
  if (fmt.size() < 40) {
    report("AVC0027E Unable to read video format");
    return false;
  }
  std::memcpy(buffer.data(), fmt.data(), 40);
  if (!f.readFrame(frame, data) || data.size() != size_t(size)) {
    report("AVC0028E Unable to read video frame");
    return false;
  }
  std::memcpy(buffer.data() + 40, data.data(), data.size());
  putLE32(buffer.data() + 20, uint32_t(size));
  if (keyFrame) *keyFrame = f.previousKeyFrame(frame) == frame;
  return true;
}

bool SourceFile::readVideoFormat(std::array<uint8_t, 40>& format) {
  std::lock_guard<std::mutex> lock(videoLock_);
  StatePtr st = ensureOpen();
  if (!st || st->file->videoFormat().size() < 40) return false;
  std::memcpy(format.data(), st->file->videoFormat().data(), 40);
  return true;
}

bool SourceFile::streamEndsBefore(uint32_t frame) {
  if (!Streamed) return false;
  if (frame >= framesToCompress()) return true;
  std::lock_guard<std::mutex> lock(videoLock_);
  StatePtr st = currentState();
  if (!st) return true;
  // A run asks for nothing before its range.
  st->file->forget(ExtractionStart);
  return st->file->endsBefore(ExtractionStart + frame);
}

// ---- Derived values ----

uint32_t SourceFile::pictureHeight() const {
  if (ResizeHeight) return ResizeHeight;
  return ResizeStripType ? CropHeight / 2 : CropHeight;
}

uint32_t SourceFile::downsampleFactor(const SourceAudioOptions& o) const {
  if (!AudioIsPcm || o.sampleRate == 0 || AudioRate < o.sampleRate || AudioRate % o.sampleRate)
    return 1;
  return AudioRate / o.sampleRate;
}

bool SourceFile::isPcm16() const {
  return AudioChannels && AudioBlockAlign / AudioChannels == 2;
}

uint32_t SourceFile::effectiveChannels() const {
  SourceAudioOptions o = currentAudioOptions();
  if (AudioIsPcm && o.mixToMono && AudioChannels == 2) return 1;
  return AudioChannels;
}

uint32_t SourceFile::effectiveSampleRate() const {
  return AudioRate / downsampleFactor(currentAudioOptions());
}

uint32_t SourceFile::effectiveBlockAlign() const {
  if (!AudioIsPcm) return AudioBlockAlign;
  SourceAudioOptions o = currentAudioOptions();
  uint32_t a = AudioBlockAlign;
  if (o.mixToMono && AudioChannels == 2) a /= 2;
  if (o.make8Bit && isPcm16()) a /= 2;
  return a;
}

double SourceFile::framesPerSecond() const {
  if (FileScale == 0 || FileRate == 0) return 0;
  return double(FileRate) / double(FileScale);
}

double SourceFile::audioSamplesPerFrame() const {
  double fps = framesPerSecond();
  return fps > 0 ? effectiveSampleRate() / fps : 0;
}

uint32_t SourceFile::audioSamplesForRange() const {
  if (!HasAudio) return 0;
  return uint32_t(audioSamplesPerFrame() * framesToCompress() + 0.5);
}

double SourceFile::sourceSamplesPerFrame() const {
  double fps = framesPerSecond();
  return fps > 0 ? AudioRate / fps : 0;
}

// ---- Audio ----

bool SourceFile::audioRange(uint32_t absFrame, uint64_t* start, uint64_t* count) const {
  double s = sourceSamplesPerFrame();
  double first = double(ExtractionStart) * s;
  double f = first - std::trunc(first);
  int64_t b = int64_t(double(absFrame) * s - f + 0.5);
  int64_t e = int64_t(double(absFrame + 1) * s - f + 0.5);
  if (b < 0) b = 0;
  int64_t c = e - b;
  if (b >= int64_t(AudioLength)) c = 0;
  if (c > int64_t(AudioLength) - b) c = int64_t(AudioLength) - b;
  if (c <= 0) return false;
  *start = uint64_t(b);
  *count = uint64_t(c);
  return true;
}

bool SourceFile::audioStreamInfo(AviStreamHeader& info) {
  std::lock_guard<std::mutex> lock(audioLock_);
  StatePtr st = ensureOpen();
  if (!st || !st->audio) return false;
  info = st->file->audioHeader();
  if (!AudioIsPcm) return true;
  // Derived from the effective format, so that scale/rate is the effective sample rate for any
  // way the source wrote its header.
  SourceAudioOptions o = currentAudioOptions();
  uint32_t k = downsampleFactor(o);
  uint32_t align = effectiveBlockAlign();
  info.scale = align;
  info.rate = align * (AudioRate / k);
  info.sampleSize = align;
  info.length = AudioLength / k;
  return true;
}

uint32_t SourceFile::audioFormatSize() {
  std::lock_guard<std::mutex> lock(audioLock_);
  StatePtr st = ensureOpen();
  if (!st || !st->audio) return 0;
  return uint32_t(std::min<size_t>(18, st->file->audioFormat().size()));
}

bool SourceFile::readAudioFormat(std::vector<uint8_t>& format) {
  std::lock_guard<std::mutex> lock(audioLock_);
  StatePtr st = ensureOpen();
  if (!st || !st->audio) return false;
  const std::vector<uint8_t>& src = st->file->audioFormat();
  format.assign(src.begin(), src.begin() + std::min<size_t>(18, src.size()));
  if (!AudioIsPcm || format.size() < 14) return true;
  SourceAudioOptions o = currentAudioOptions();
  uint16_t channels = getLE16(&format[2]);
  uint32_t rate = getLE32(&format[4]);
  uint32_t bytesPerSec = getLE32(&format[8]);
  uint16_t align = getLE16(&format[12]);
  if (o.mixToMono && AudioChannels == 2) {
    channels /= 2;
    align /= 2;
    bytesPerSec /= 2;
  }
  if (o.make8Bit && isPcm16()) {
    align /= 2;
    bytesPerSec /= 2;
    if (format.size() >= 16) putLE16(&format[14], 8);
  }
  uint32_t k = downsampleFactor(o);
  rate /= k;
  bytesPerSec /= k;
  putLE16(&format[2], channels);
  putLE32(&format[4], rate);
  putLE32(&format[8], bytesPerSec);
  putLE16(&format[12], align);
  return true;
}

uint32_t SourceFile::audioBytesForFrame(uint32_t frame) {
  std::lock_guard<std::mutex> lock(audioLock_);
  uint64_t start = 0, count = 0;
  if (!HasAudio || !audioRange(ExtractionStart + frame, &start, &count)) {
    report("AVC0031E No audio data");
    return 0;
  }
  if (!AudioIsPcm) return uint32_t(count * AudioBlockAlign);
  uint32_t k = downsampleFactor(currentAudioOptions());
  return uint32_t(count / k * effectiveBlockAlign());
}

bool SourceFile::readAudioForFrame(uint32_t frame, std::vector<uint8_t>& buffer, uint32_t* size) {
  std::lock_guard<std::mutex> lock(audioLock_);
  buffer.clear();
  if (size) *size = 0;
  uint64_t start = 0, count = 0;
  if (!HasAudio || !audioRange(ExtractionStart + frame, &start, &count)) {
    report("AVC0032E No audio data");
    return false;
  }
  StatePtr st = ensureOpen();
  if (!st || !st->audio) return false;
  const size_t expected = size_t(count) * AudioBlockAlign;
  std::vector<uint8_t> data;
  try {
    data.reserve(expected);
  } catch (const std::bad_alloc&) {
    report("AVC0033E Error allocating audio buffer");
    return false;
  }
  size_t got = st->file->readAudio(start, count, data);
  if (got < expected) {
    showSourceMessage(formatMessage(
        "AVC0035W Expected %u bytes of audio but received only %u bytes (continuing...)",
        unsigned(expected), unsigned(got)));
    data.resize(expected, isPcm16() ? 0 : 128);  // silence for what is missing
  }
  if (AudioIsPcm) {
    SourceAudioOptions o = currentAudioOptions();
    bool is16 = isPcm16();
    uint32_t channels = AudioChannels;
    size_t frames = size_t(count);
    // (a) Mix stereo to mono.
    if (o.mixToMono && channels == 2) {
      if (is16) {
        for (size_t i = 0; i < frames; ++i) {
          int l = int16_t(getLE16(&data[4 * i])), r = int16_t(getLE16(&data[4 * i + 2]));
          putLE16(&data[2 * i], uint16_t(int16_t((l + r) / 2)));
        }
      } else {
        for (size_t i = 0; i < frames; ++i) data[i] = uint8_t((data[2 * i] + data[2 * i + 1]) >> 1);
      }
      channels = 1;
    }
    // (b) 16-bit to 8-bit.
    if (o.make8Bit && is16) {
      size_t values = frames * channels;
      for (size_t i = 0; i < values; ++i)
        data[i] = uint8_t(int(int16_t(getLE16(&data[2 * i]))) / 256 + 128);
      is16 = false;
    }
    // (c) Integer downsampling: runs of k sample frames are averaged per channel.
    uint32_t k = downsampleFactor(o);
    if (k > 1) {
      size_t outFrames = frames / k;
      for (size_t i = 0; i < outFrames; ++i) {
        for (uint32_t c = 0; c < channels; ++c) {
          if (is16) {
            int64_t sum = 0;
            for (uint32_t j = 0; j < k; ++j)
              sum += int16_t(getLE16(&data[2 * ((i * k + j) * channels + c)]));
            putLE16(&data[2 * (i * channels + c)], uint16_t(int16_t(sum / int64_t(k))));
          } else {
            uint64_t sum = 0;
            for (uint32_t j = 0; j < k; ++j) sum += data[(i * k + j) * channels + c];
            data[i * channels + c] = uint8_t(sum / k);
          }
        }
      }
      frames = outFrames;
    }
    data.resize(frames * channels * (is16 ? 2 : 1));
  }
  if (size) *size = uint32_t(data.size());
  buffer = std::move(data);
  return true;
}

bool SourceFile::readAudioForDisplay(uint32_t frame, std::vector<uint8_t>& buffer, uint32_t* size,
                                     int channel) {
  std::lock_guard<std::mutex> lock(audioLock_);
  buffer.clear();
  if (size) *size = 0;
  uint64_t start = 0, count = 0;
  if (!HasAudio || AudioChannels == 0 || !audioRange(frame, &start, &count)) {
    report("AVC0036E No audio data");
    return false;
  }
  StatePtr st = ensureOpen();
  if (!st || !st->audio) return false;
  const size_t expected = size_t(count) * AudioBlockAlign;
  std::vector<uint8_t> data;
  try {
    data.reserve(expected);
  } catch (const std::bad_alloc&) {
    report("AVC0037E Error allocating audio buffer");
    return false;
  }
  size_t got = st->file->readAudio(start, count, data);
  const bool is16 = isPcm16();
  if (got < expected) {
    showSourceMessage(formatMessage(
        "AVC0038W Expected %u bytes of audio but received only %u bytes (continuing...)",
        unsigned(expected), unsigned(got)));
    data.resize(expected, is16 ? 0 : 128);
  }
  std::vector<uint8_t> mono(static_cast<size_t>(count), 0);
  for (size_t i = 0; i < count; ++i) {
    int v;
    if (is16) {
      int l = int16_t(getLE16(&data[i * AudioBlockAlign]));
      int r = AudioChannels == 2 ? int16_t(getLE16(&data[i * AudioBlockAlign + 2])) : l;
      v = AudioChannels != 2 ? l : channel == 1 ? l : channel == 2 ? r : (l + r) / 2;
      v = v / 256 + 128;
    } else {
      int l = data[i * AudioBlockAlign];
      int r = AudioChannels == 2 ? data[i * AudioBlockAlign + 1] : l;
      v = AudioChannels != 2 ? l : channel == 1 ? l : channel == 2 ? r : (l + r) >> 1;
    }
    mono[i] = uint8_t(v);
  }
  if (AudioRate >= 11025 && AudioRate % 11025 == 0) {
    uint32_t k = AudioRate / 11025;
    size_t n = mono.size() / k;
    for (size_t i = 0; i < n; ++i) {
      uint32_t sum = 0;
      for (uint32_t j = 0; j < k; ++j) sum += mono[i * k + j];
      mono[i] = uint8_t(sum / k);
    }
    mono.resize(n);
  }
  if (size) *size = uint32_t(mono.size());
  buffer = std::move(mono);
  return true;
}

// ---- Data rate ----

bool SourceFile::sampleDataRate() {
  std::lock_guard<std::mutex> lock(videoLock_);
  if (CachedFirstFrame == int64_t(ExtractionStart) && CachedLastFrame == int64_t(ExtractionEnd))
    return true;
  CachedFirstFrame = ExtractionStart;
  CachedLastFrame = ExtractionEnd;
  RateSamples.clear();
  RateSampleCount = 0;
  RateMinKB = RateMaxKB = RateAverageKB = 0;
  StatePtr st = ensureOpen();
  if (!st || framesPerSecond() <= 0 || ExtractionEnd < ExtractionStart) return false;

  const double fps = framesPerSecond();
  const uint32_t n = framesToCompress();
  const double seconds = n / fps;
  uint32_t count = uint32_t(seconds);
  if (uint32_t(count * fps) != n) ++count;
  try {
    RateSamples.assign(count, 0);
  } catch (const std::bad_alloc&) {
    report("AVC0039E Unable to allocate datarate sample array");
    return false;
  }
  uint64_t total = 0;  // bytes actually read: the average is not swayed by the extrapolation
  uint32_t next = 0;   // first frame of the current second
  uint32_t minKB = 0, maxKB = 0;
  for (uint32_t j = 0; j < count; ++j) {
    int64_t last = int64_t((j + 1) * fps + 0.5) - 1;
    int64_t cut = 0;
    if (last > int64_t(n) - 1) {
      cut = last - (int64_t(n) - 1);
      last = int64_t(n) - 1;
    }
    uint64_t sum = 0;
    uint32_t read = 0;
    for (int64_t fr = next; fr <= last; ++fr, ++read) {
      int64_t size = st->file->frameSize(ExtractionStart + uint32_t(fr));
      if (size < 0) {
        report("AVC0040E Unable to get video frame size");
        RateSamples.clear();
        return false;
      }
      sum += uint64_t(size);
    }
    total += sum;
    if (cut > 0 && read > 0) sum += uint64_t(double(sum) / read * cut);
    next = uint32_t(std::max<int64_t>(last + 1, next));
    uint32_t kb = uint32_t(std::min<uint64_t>(std::max<uint64_t>(sum, 1024) >> 10, 0xFFFF));
    RateSamples[j] = uint16_t(kb);
    if (kb && (minKB == 0 || kb < minKB)) minKB = kb;
    maxKB = std::max(maxKB, kb);
  }
  RateSampleCount = count;
  RateMinKB = minKB;
  RateMaxKB = maxKB;
  RateAverageKB = seconds > 0 ? uint32_t(total * (1.0 / 1024) / seconds) : 0;
  return true;
}

}  // namespace zov
