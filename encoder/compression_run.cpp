#include "encoder/compression_run.h"

#include <algorithm>
#include <chrono>
#include <cstdarg>
#include <cstring>
#include <ctime>
#include <memory>
#include <new>

#include "encoder/block_file.h"
#include "encoder/frame_read_ahead.h"
#include "encoder/zov2_encoder.h"

namespace zov {

namespace {

std::string format(const char* fmt, ...) {
  char text[512];
  va_list args;
  va_start(args, fmt);
  std::vsnprintf(text, sizeof text, fmt, args);
  va_end(args);
  return text;
}

double nowSeconds() {
  using namespace std::chrono;
  return duration<double>(steady_clock::now().time_since_epoch()).count();
}

// Date and time of day as the run's start and end lines show them.
void dateAndTime(std::string* date, std::string* time) {
  std::time_t t = std::time(nullptr);
  std::tm tm{};
  localtime_r(&t, &tm);
  char d[32], h[32];
  std::strftime(d, sizeof d, "%m/%d/%y", &tm);
  std::strftime(h, sizeof h, "%H:%M:%S", &tm);
  *date = d;
  *time = h;
}

std::string hms(uint64_t seconds) {
  return format("%02lu:%02lu:%02lu", (unsigned long)(seconds / 3600),
                (unsigned long)(seconds / 60 % 60), (unsigned long)(seconds % 60));
}

int component(uint16_t p, int shift) {
  return (p >> shift) & 31;
}
int sumRgb(uint16_t p) {
  return component(p, 10) + component(p, 5) + component(p, 0);
}

// The 40-byte format of a stream the encoder writes.
std::array<uint8_t, 40> codedFormat(uint32_t width, uint32_t height, uint32_t compressionWord) {
  DibHeader bih;
  bih.width = int32_t(width);
  bih.height = int32_t(height);
  bih.planes = 1;
  bih.bitCount = 16;
  bih.compression = compressionWord;
  bih.sizeImage = width * height * 2;
  return bih.pack();
}

}  // namespace

// ---- Message log ----

RunMessageLog::~RunMessageLog() {
  closeLog();
}

void RunMessageLog::add(const std::string& line) {
  std::string l = line.substr(0, kMaxChars);
  std::lock_guard lock(mutex_);
  lines_.push_back(l);
  while (lines_.size() > kMaxLines) lines_.pop_front();
  if (log_) {
    std::fprintf(log_, "%s\n", l.c_str());
    std::fflush(log_);
  }
}

std::vector<std::string> RunMessageLog::lines() const {
  std::lock_guard lock(mutex_);
  return {lines_.begin(), lines_.end()};
}

bool RunMessageLog::openLog(const std::string& path) {
  std::lock_guard lock(mutex_);
  if (log_) std::fclose(log_);
  log_ = std::fopen(path.c_str(), "a");
  return log_ != nullptr;
}

void RunMessageLog::closeLog() {
  std::lock_guard lock(mutex_);
  if (log_) std::fclose(log_);
  log_ = nullptr;
}

// ---- Checks and figures ----

bool CheckCompressible(const uint8_t* header,
                       const std::function<bool(const std::string&)>& report);

bool CheckCompressible(const uint8_t* header) {
  auto fail = [](const std::string& text) {
    std::fprintf(stderr, "ZOV Compressor: %s\n", text.c_str());
    return false;
  };
  return CheckCompressible(header, fail);
}

bool CheckCompressible(const uint8_t* header,
                       const std::function<bool(const std::string&)>& report) {
  if (!header) return report("CTR0058E Unable to query null image");
  const uint32_t compression = getLE32(header + 16);
  const uint32_t bits = getLE16(header + 14);
  const int32_t width = int32_t(getLE32(header + 4));
  const int32_t height = std::abs(int32_t(getLE32(header + 8)));
  if (compression != 0)
    return report("CTR0059E Unable to compress an image which is already compressed");
  if (bits != 8 && bits != 16 && bits != 24 && bits != 32)
    return report(
        format("CTR0060E Unable to compress an image with a color depth of %lu. Valid "
               "depths are 16, 24 and 32.",
               (unsigned long)bits));
  if (width < 80 || height < 60)
    return report("CTR0061E The image size must be 80x60 or greater for Orvane Compression");
  if (width > 640 || height > 480)
    return report("CTR0062E The image size must be 640x480 or less for Orvane Compression");
  if (width % 4 != 0 || height % 4 != 0)
    return report(
        "CTR0063E The width and height must both be multiples of 4 for Orvane Compression");
  return true;
}

uint64_t rmsDifference(const uint16_t* source, const uint16_t* decoded, int width, int height,
                       uint32_t letterTop, uint32_t letterBottom, uint32_t fieldType,
                       std::vector<uint16_t>* picture, uint64_t* compared) {
  // Decoded lines per source line: two in wide-field mode (each compared), else one.
  const int per = fieldType == kFieldWide ? 2 : 1;
  const int codedLines = height * per;
  const int total = codedLines + int(letterTop + letterBottom);
  if (picture) picture->assign(size_t(width) * size_t(total), 0x7FFF);
  uint64_t sum = 0, count = 0;
  for (int y = 0; y < codedLines; ++y) {
    // Bottom-up: the bottom letterbox lines come first.
    const int row = y + int(letterBottom);
    // A single-field stream codes the odd stored lines only; the other field stays white.
    if (fieldType == kFieldSingle && !(y & 1)) continue;
    const uint16_t* s = source + size_t(width) * size_t(y / per);
    const uint16_t* d = decoded + size_t(width) * size_t(y);
    for (int x = 0; x < width; ++x) {
      const int diff = std::abs(sumRgb(s[x]) - sumRgb(d[x]));
      sum += uint64_t(diff);
      ++count;
      if (picture) {
        const uint16_t level = uint16_t(31 - diff / 3);
        (*picture)[size_t(width) * size_t(row) + size_t(x)] =
            uint16_t(level << 10 | level << 5 | level);
      }
    }
  }
  if (compared) *compared = count;
  return sum;
}

double rmsPercent(uint64_t sum, uint64_t compared) {
  if (compared == 0) return 0.0;
  return 100.0 * double(sum) / (93.0 * double(compared));
}

// ---- Control ----

CompressionRun::~CompressionRun() {
  if (worker_.joinable()) {
    stop();
    worker_.join();
  }
}

bool CompressionRun::start(RunRequest request, RunCallbacks callbacks) {
  if (worker_.joinable()) {
    if (!runMutex_.try_lock()) return false;  // still running
    runMutex_.unlock();
    worker_.join();
  }
  req_ = std::move(request);
  cb_ = std::move(callbacks);
  stopRequested_ = false;
  // The worker takes the run lock itself; wait here until it holds it so that active() is true
  // as soon as start returns.
  std::mutex m;
  std::condition_variable cv;
  bool holding = false;
  worker_ = std::thread([this, &m, &cv, &holding] {
    runMutex_.lock();
    {
      // Notify under the lock: start() returns (and its locals go) only after this block.
      std::lock_guard lock(m);
      holding = true;
      cv.notify_one();
    }
    result_ = compressionThread();
    runMutex_.unlock();
  });
  std::unique_lock lock(m);
  cv.wait(lock, [&] { return holding; });
  return true;
}

int CompressionRun::runHere(RunRequest request, RunCallbacks callbacks) {
  std::lock_guard run(runMutex_);
  req_ = std::move(request);
  cb_ = std::move(callbacks);
  stopRequested_ = false;
  result_ = compressionThread();
  return result_;
}

int CompressionRun::wait() {
  if (worker_.joinable()) worker_.join();
  return result_;
}

void CompressionRun::suspend() {
  std::lock_guard lock(gateMutex_);
  suspended_ = true;
}

void CompressionRun::resume() {
  {
    std::lock_guard lock(gateMutex_);
    suspended_ = false;
  }
  gate_.notify_all();
}

void CompressionRun::stop() {
  stopRequested_ = true;
  resume();
}

bool CompressionRun::active() {
  if (!runMutex_.try_lock()) return true;
  runMutex_.unlock();
  return false;
}

bool CompressionRun::activeAfter(std::chrono::milliseconds timeout) {
  if (!runMutex_.try_lock_for(timeout)) return true;
  runMutex_.unlock();
  return false;
}

std::string CompressionRun::status(int pane) const {
  std::lock_guard lock(statusMutex_);
  return pane >= 0 && pane < int(status_.size()) ? status_[size_t(pane)] : std::string();
}

void CompressionRun::passSuspendGate() {
  std::unique_lock lock(gateMutex_);
  gate_.wait(lock, [&] { return !suspended_; });
}

void CompressionRun::add(const std::string& line) {
  log_.add(line);
  if (cb_.line) cb_.line(line.substr(0, RunMessageLog::kMaxChars));
}

void CompressionRun::setStatus(int pane, const std::string& text) {
  {
    std::lock_guard lock(statusMutex_);
    if (pane >= 0 && pane < int(status_.size())) status_[size_t(pane)] = text;
  }
  if (cb_.status) cb_.status(pane, text);
}

void CompressionRun::report(const std::string& text) {
  if (cb_.error)
    cb_.error(text);
  else
    std::fprintf(stderr, "ZOV Compressor: %s\n", text.c_str());
}

// ---- Look-ups over the batch ----

bool CompressionRun::locate(uint32_t n, size_t* file, uint32_t* local) {
  for (size_t k = 0; k < req_.sources.size(); ++k) {
    const uint32_t count = req_.sources[k]->info().frameCount;
    if (n < count) {
      *file = k;
      *local = n;
      return true;
    }
    n -= count;
  }
  return false;
}

bool CompressionRun::locate(uint32_t n, size_t* file, uint32_t* local, const char* code) {
  if (locate(n, file, local)) return true;
  std::string text = code;
  text.append(" Effective frame not located");
  report(text);
  return false;
}

std::unique_lock<std::mutex> CompressionRun::sourceLock() {
  return ahead_ ? std::unique_lock<std::mutex>(sourceMutex_) : std::unique_lock<std::mutex>();
}

bool CompressionRun::getSourceFrame(uint32_t n, std::vector<uint8_t>& bitmap) {
  if (!ahead_) return readSourceFrame(n, bitmap);
  if (ahead_->get(n, bitmap)) return true;
  // A frame the read-ahead could not locate is read again here, so that "not located" comes
  // in the run's order (or a streamed source that has grown since delivers it).
  std::lock_guard<std::mutex> lock(sourceMutex_);
  const auto at = std::find(unlocated_.begin(), unlocated_.end(), n);
  if (at == unlocated_.end()) return false;  // the source's own failure, reported as it was read
  unlocated_.erase(at);
  return readSourceFrame(n, bitmap);
}

bool CompressionRun::readSourceFrame(uint32_t n, std::vector<uint8_t>& bitmap) {
  size_t f;
  uint32_t l;
  if (!locate(n, &f, &l, "CTR0001E")) return false;
  RunStageTimes::Scope timer(times_, RunStage::Read);
  return req_.sources[f]->frame(l, bitmap);
}

bool CompressionRun::readAheadFrame(uint32_t n, std::vector<uint8_t>& bitmap) {
  size_t f;
  uint32_t l;
  if (!locate(n, &f, &l)) {
    // Not reported yet: the run may stop before it gets there.
    unlocated_.push_back(n);
    return false;
  }
  RunStageTimes::Scope timer(times_, RunStage::Read);
  return req_.sources[f]->frame(l, bitmap);
}

bool CompressionRun::getCompressedFrame(uint32_t n, std::vector<uint8_t>& data, bool* key) {
  size_t f;
  uint32_t l;
  if (!locate(n, &f, &l, "CTR0002E")) return false;
  auto lock = sourceLock();
  RunStageTimes::Scope timer(times_, RunStage::Read);
  return req_.sources[f]->storedFrame(l, data, key);
}

bool CompressionRun::getAudioBlock(uint32_t n, std::vector<uint8_t>& data) {
  data.clear();
  size_t f;
  uint32_t l;
  if (!locate(n, &f, &l, "CTR0005E")) return false;
  auto lock = sourceLock();
  RunStageTimes::Scope timer(times_, RunStage::Read);
  return req_.sources[f]->audio(l, data);
}

bool CompressionRun::getAudioRange(uint32_t first, uint32_t last, std::vector<uint8_t>& data) {
  data.clear();
  auto lock = sourceLock();
  RunStageTimes::Scope timer(times_, RunStage::Read);
  try {
    for (uint32_t n = first; n <= last; ++n) {
      size_t f;
      uint32_t l;
      if (!locate(n, &f, &l, "CTR0006E")) return false;
      if (!req_.sources[f]->audio(l, data)) return false;
    }
  } catch (const std::bad_alloc&) {
    report("CTR0004E Unable to allocate storage for Effective audio block");
    return false;
  }
  return true;
}

void CompressionRun::showFrame(uint32_t n) {
  size_t f;
  uint32_t l;
  if (!locate(n, &f, &l, "CTR0007E")) return;
  auto lock = sourceLock();
  req_.sources[f]->show(l);
}

bool CompressionRun::endsBefore(uint32_t n) {
  if (!streamed_) return false;
  size_t f;
  uint32_t l;
  if (!locate(n, &f, &l)) return true;
  auto lock = sourceLock();
  return req_.sources[f]->ended(l);
}

bool CompressionRun::isKeyFrame(uint32_t n) {
  CompressionSettings& s = *req_.settings;
  if (!coding()) {
    size_t f;
    uint32_t l;
    if (!locate(n, &f, &l, "CTR0008E")) return false;
    auto lock = sourceLock();
    return req_.sources[f]->isKeyFrame(l);
  }
  if (n == 0) return true;
  if (n == 1 && req_.options.DualInitialKeyFrames) return true;
  // A countdown of 0 (no interframes) wraps and never reaches 0 again within a run.
  --s.KeyCountdown;
  if (s.KeyCountdown == 0) {
    s.KeyCountdown = s.KeyRate + 1;
    return true;
  }
  return false;
}

// ---- The worker ----

void CompressionRun::cleanup() {
  ahead_.reset();
  if (req_.settings && req_.settings->EncoderStarted) {
    EndEncoder(*req_.settings);
    req_.settings->KeyCountdown = 0;
  }
}

int CompressionRun::compressionThread() {
  if (!req_.settings || req_.sources.empty()) {
    report("CTR0024E Cannot begin compression - bad input video format");
    return -1;
  }
  cleanup();
  times_.clear();
  CompressionSettings& s = *req_.settings;
  s.updateDerived();
  const RunSourceInfo first = req_.sources[0]->info();
  if (first.letterBoxTop != 0 || first.letterBoxBottom != 0) {
    s.LetterboxPresent = true;
    s.LetterboxTopLines = first.letterBoxTop;
    s.LetterboxBottomLines = first.letterBoxBottom;
  } else {
    s.LetterboxPresent = false;
    s.LetterboxTopLines = s.LetterboxBottomLines = 0;
  }
  s.VerifyFrames = req_.verify;
  const int rc = req_.mode == RunMode::BlockFile ? runBlockFile() : runCompression();
  if (rc != 0) add("Compression aborted");
  cleanup();
  return rc;
}

WriterCallbacks CompressionRun::writerCallbacks() {
  WriterCallbacks wc;
  wc.error = [this](const std::string& t) { report(t); };
  wc.status = [this](const std::string& t) { setStatus(2, t); };
  wc.message = [this](const std::string& t) { add(t); };
  return wc;
}

bool CompressionRun::fillWriterSettings(AviWriterSettings& w, uint32_t width, uint32_t height) {
  CompressionSettings& s = *req_.settings;
  const RunSourceInfo first = req_.sources[0]->info();
  w.mode = req_.mode;
  w.path = req_.outputPath;
  w.microSecPerFrame = first.microSecPerFrame;
  w.fileScale = first.fileScale;
  w.fileRate = first.fileRate;
  w.width = width;
  w.height = height;
  w.audioPreloadFrames = first.audioPreloadFrames;
  w.cdromTarget = req_.options.CDROMTarget;
  w.reportPad = req_.options.ReportPad;
  w.cutOffKBLimit = req_.options.CutOffKBLimit;
  w.cutOffKBLimitNotify = req_.options.CutOffKBLimitNotify;
  w.compressionWord = outputCompressionWord(s);
  w.backgroundBitmap = backgroundBitmap_;
  w.sourceVideoFormat = first.videoFormat;
  if (req_.compressFirst) {
    // The stream or block file describes the frames the encoder makes.
    w.sourceVideoFormat = codedFormat(width, height, w.compressionWord);
  }
  w.withAudio = first.hasAudio && !req_.options.NoAudio;
  if (w.withAudio) {
    w.audioStreamInfo = first.audioStreamInfo;
    w.audioFormat = first.audioFormat;
  }
  // Room for the OpenDML indexes when the movie could pass the first RIFF's limit: every frame
  // at most an uncompressed 32-bit picture with a record's padding, the sound at twice its
  // stated rate (or, without a rate to go by, always).
  uint64_t frames = 0;
  for (RunSource* src : req_.sources) frames += src->info().frameCount;
  uint64_t bound = frames * (uint64_t(width) * height * 4 + 3 * 2048 + 128);
  if (w.withAudio) {
    const uint32_t rate = w.audioFormat.size() >= 12 ? getLE32(w.audioFormat.data() + 8) : 0;
    if (rate == 0 || w.microSecPerFrame == 0)
      bound = UINT64_MAX;
    else
      bound += uint64_t(2.0 * rate * double(frames) * w.microSecPerFrame / 1e6) + frames * 64;
  }
  w.firstRiffLimit = req_.firstRiffLimit;
  const uint64_t limit = w.firstRiffLimit ? w.firstRiffLimit : 0xFFFFFFFFull;
  w.openDmlReserve = bound > limit / 2;
  return true;
}

void CompressionRun::reportRecord(uint32_t i, uint32_t length, bool key, uint32_t bitmapLength,
                                  uint32_t imageSize) {
  const double picture = double(width_) * double(height_) * 2.0;
  auto pct = [&](uint32_t len) { return picture > 0 ? 100.0 * double(len) / picture : 0.0; };
  rawBytes_ += imageSize;
  outputBytes_ += length;
  if (bitmapLength != 0) {
    // The first record of a run with a background bitmap carries two pictures.
    rawBytes_ += imageSize;
    add(format("Chroma BitMap - %ld bytes (%1.2f%%)", long(bitmapLength), pct(bitmapLength)));
    const uint32_t rest = length - bitmapLength;
    add(format("KFrame %ld - %ld bytes (%1.2f%%)", long(i + 1), long(rest), pct(rest)));
  } else if (length == 0) {
    add(format("IFrame %ld - Skipped (Data rate too high)", long(i + 1)));
  } else {
    add(format("%s %ld - %ld bytes (%1.2f%%)", key ? "KFrame" : "IFrame", long(i + 1), long(length),
               pct(length)));
  }
}

void CompressionRun::reportStatus(uint32_t i) {
  const uint64_t out = outputBytes_, raw = rawBytes_;
  std::string total = format("Total = %ld bytes (%1.2f%%)", long(out),
                             raw ? 100.0 * double(out) / double(raw) : 0.0);
  const uint32_t usPerFrame = req_.sources[0]->info().microSecPerFrame;
  if (i >= 1 && usPerFrame != 0) {
    const double seconds = double(i + 1) / (1000000.0 / double(usPerFrame));
    total += format(", Avg. Data Rate = %1.0fKB per second",
                    double(out - audioBytes_) / seconds / 1024.0);
  }
  setStatus(3, total);
  const double elapsed = nowSeconds() - startSeconds_;
  if (streamed_) {
    // A stream's length is known only at its end.
    setStatus(4, format("%d completed", int(i + 1)));
  } else {
    const uint64_t remaining = uint64_t(double(frameCount_ - (i + 1)) * elapsed / double(i + 1));
    setStatus(4, format("%d of %d completed, est. time remaining = %s", int(i + 1),
                        int(frameCount_), hms(remaining).c_str()));
  }
  if (cb_.progress) {
    RunProgress p;
    p.done = i + 1;
    p.frameCount = streamed_ ? 0 : frameCount_;
    p.rawBytes = raw;
    p.outputBytes = out;
    p.audioBytes = audioBytes_;
    p.elapsedSeconds = elapsed;
    p.microSecPerFrame = usPerFrame;
    cb_.progress(p);
  }
}

bool CompressionRun::compressOneFrame(uint32_t n, ZeroedBuffer<uint8_t>& out, uint32_t* length,
                                      bool* key, uint32_t* bitmapLength) {
  CompressionSettings& s = *req_.settings;
  *bitmapLength = 0;
  *length = 0;
  std::vector<uint8_t> bitmapData;
  // The background bitmap is coded first, on the encoder's first call, and travels behind the
  // first frame's data.
  const bool codeBitmap = backgroundBitmap_ && firstEncoderCall_;
  if (codeBitmap) {
    const uint16_t* bg = encoderBackground(s);
    if (!bg) {
      report("CTR0064E Error allocating chroma buffer - compression halted");
      return false;
    }
    std::vector<uint16_t> picture;
    try {
      picture.assign(bg, bg + size_t(width_) * height_);
      bitmapData.resize(maxFrameBytes(int(width_), int(height_)));
    } catch (const std::bad_alloc&) {
      report("CTR0064E Error allocating chroma buffer - compression halted");
      return false;
    }
    if (cb_.applyFilters) cb_.applyFilters(picture.data(), int(width_), int(height_));
    s.KeyFrame = 1;
    s.CodingBackground = true;
    CompressParams bp;
    bp.input = picture.data();
    bp.output = bitmapData.data();
    bp.outputCapacity = bitmapData.size();
    bool ok;
    {
      RunStageTimes::Scope timer(times_, RunStage::Encode);
      ok = EncodeFrame(s, bp);
    }
    s.CodingBackground = false;
    if (!ok) return false;
    bitmapData.resize(bp.outputLength);
  }
  const bool enhanced = s.EnhancedInterframe;
  // Picture for this call: frame n, or frame n + 1 in enhanced mode (the encoder codes one call
  // late); the last frame's call carries no picture.
  // The picture the call after this one hands in, while it is read ahead: the encoder takes
  // it in beside this frame's coding (only a hint: it checks the next call's picture).
  auto nextPicture = [&](uint32_t frame) -> const uint16_t* {
    const std::vector<uint8_t>* next =
        ahead_ && frame < frameCount_ ? ahead_->peek(frame) : nullptr;
    if (!next || next->size() < 40 || getLE32(next->data() + 4) != width_ ||
        uint32_t(std::abs(int32_t(getLE32(next->data() + 8)))) != height_ ||
        next->size() < 40 + size_t(width_) * height_ * 2)
      return nullptr;
    return reinterpret_cast<const uint16_t*>(next->data() + 40);
  };
  auto encode = [&](const uint16_t* input, bool finalCall, uint32_t nextFrame) -> bool {
    s.FinalCall = finalCall;
    CompressParams p;
    p.input = input;
    p.next = input ? nextPicture(nextFrame) : nullptr;
    p.output = out.data();
    p.outputCapacity = out.size();
    bool ok;
    {
      RunStageTimes::Scope timer(times_, RunStage::Encode);
      ok = EncodeFrame(s, p);
    }
    s.FinalCall = false;
    *length = uint32_t(p.outputLength);
    return ok;
  };
  auto picture = [&](uint32_t frame) -> const uint16_t* {
    // Frame 0 is still in hand from reading the movie's format.
    const bool held = firstFrameHeld_ && frame == 0;
    firstFrameHeld_ = false;
    if (!held && !getSourceFrame(frame, sourceBitmap_)) return nullptr;
    // The encoder reads the picture at the movie's size: a frame of another size (a batch of
    // mismatched sources) halts the run instead of being read past its end.
    const uint32_t w = sourceBitmap_.size() >= 40 ? getLE32(sourceBitmap_.data() + 4) : 0;
    const uint32_t h = sourceBitmap_.size() >= 40
                           ? uint32_t(std::abs(int32_t(getLE32(sourceBitmap_.data() + 8))))
                           : 0;
    if (w != width_ || h != height_ || sourceBitmap_.size() < 40 + size_t(w) * h * 2) {
      report(format("Frame %u is %ux%u, the movie is %ux%u - compression halted", frame + 1, w, h,
                    width_, height_));
      return nullptr;
    }
    return reinterpret_cast<const uint16_t*>(sourceBitmap_.data() + 40);
  };
  if (enhanced && firstEncoderCall_) {
    const uint16_t* p0 = picture(n);
    if (!p0) return false;
    if (!encode(p0, false, n + 1)) return false;
  }
  const bool firstCall = firstEncoderCall_;
  firstEncoderCall_ = false;
  if (!codeBitmap || !firstCall)
    s.KeyFrame = isKeyFrame(n) ? 1 : 0;
  else
    s.KeyFrame = 1;
  const uint16_t* input = nullptr;
  bool finalCall = false;
  if (!enhanced) {
    input = picture(n);
    if (!input) return false;
  } else if (n + 1 < frameCount_ && !endsBefore(n + 1)) {
    input = picture(n + 1);
    if (!input) return false;
  } else {
    finalCall = true;
  }
  const uint32_t imageSize = input ? getLE32(sourceBitmap_.data() + 20) : 1;
  if (imageSize == 0) {
    *length = 1;
  } else if (!encode(input, finalCall, enhanced ? n + 2 : n + 1)) {
    return false;
  }
  *key = s.KeyFrame != 0;
  if (codeBitmap && !bitmapData.empty()) {
    // Bitmap data after the frame's data, then the offset of the bitmap part.
    const uint32_t frameLength = *length;
    const size_t need = size_t(frameLength) + bitmapData.size() + 4;
    if (out.size() < need) {
      ZeroedBuffer<uint8_t> larger;
      larger.assign(need, 0);
      std::memcpy(larger.data(), out.data(), frameLength);
      out.swap(larger);
    }
    std::memcpy(out.data() + frameLength, bitmapData.data(), bitmapData.size());
    putLE32(out.data() + frameLength + bitmapData.size(), frameLength);
    *length = uint32_t(need);
    *bitmapLength = uint32_t(bitmapData.size() + 4);
  }
  if (req_.computeRms || cb_.rms) {
    const uint16_t* rec = encoderReconstruction(s);
    std::vector<uint8_t> src;
    if (rec && *length != 0 && getSourceFrame(n, src) &&
        src.size() >= 40 + size_t(width_) * height_ * 2) {
      uint64_t compared = 0;
      const uint64_t sum =
          rmsDifference(reinterpret_cast<const uint16_t*>(src.data() + 40), rec, int(width_),
                        int(height_), 0, 0, kFieldNormal, nullptr, &compared);
      if (cb_.rms) cb_.rms(n, rmsPercent(sum, compared));
    }
  }
  return true;
}

// The encoder, before the output: its start checks the chroma background, and a run that fails
// at its start must leave an existing file at the output path as it was.
bool CompressionRun::startEncoder(ZeroedBuffer<uint8_t>& out) {
  CompressionSettings& s = *req_.settings;
  EncoderSetup setup;
  setup.width = int(width_);
  setup.height = int(height_);
  setup.frameCount = frameCount_;
  std::function<void(const std::string&)> sink = [this](const std::string& t) { report(t); };
  s.EncoderMessages = sink;
  if (!StartEncoder(s, setup)) {
    report("CTR0024E Cannot begin compression - bad input video format");
    return false;
  }
  add(s.EnhancedInterframe ? "Enhanced interframe compression active"
                           : "Enhanced interframe compression NOT active");
  // Zero pages: only what the frames write is ever touched.
  out.assign(maxFrameBytes(int(width_), int(height_)), 0);
  return true;
}

void CompressionRun::startReadAhead() {
  // The next frames are read on a thread of their own while this one is coded (on one encoder
  // thread as on several: the reading is not the encoder's work). Started before
  // the first frame is read, so that frames 1 and 2 are decoded while the encoder starts.
  unlocated_.clear();
  if (coding())
    ahead_ = std::make_unique<FrameReadAhead>(
        [this](uint32_t n, std::vector<uint8_t>& bitmap) { return readAheadFrame(n, bitmap); },
        sourceMutex_, frameCount_);
}

bool CompressionRun::prepareSettings(const RunSourceInfo& first, ZeroedBuffer<uint8_t>& out) {
  CompressionSettings& s = *req_.settings;
  s.prepareRun(!s.ChromaBackground.empty());
  s.FrameRate = first.fileRate;
  s.FrameScale = first.fileScale ? first.fileScale : 1;
  backgroundBitmap_ = coding() && s.ChromaKeying && !s.ChromaBackground.empty();
  return !coding() || startEncoder(out);
}

void CompressionRun::countFrames() {
  frameCount_ = 0;
  streamed_ = false;
  for (RunSource* src : req_.sources) {
    const RunSourceInfo info = src->info();
    frameCount_ = uint32_t(std::min<uint64_t>(uint64_t(frameCount_) + info.frameCount, 0xFFFFFFFE));
    streamed_ = streamed_ || info.streamed;
  }
}

int CompressionRun::runCompression() {
  std::string startDate, startTime;
  dateAndTime(&startDate, &startTime);
  startSeconds_ = nowSeconds();
  add("Compressing...");
  rawBytes_ = outputBytes_ = 0;
  audioBytes_ = 0;
  framesWritten_ = 0;
  stopFlag_ = false;
  firstEncoderCall_ = true;

  countFrames();
  const RunSourceInfo first = req_.sources[0]->info();

  // 2. The first frame tells the format; the first call of the encoder codes it from here.
  startReadAhead();
  if (frameCount_ == 0 || !getSourceFrame(0, sourceBitmap_) || sourceBitmap_.size() < 40) {
    report("CTR0024E Cannot begin compression - bad input video format");
    return -1;
  }
  firstFrameHeld_ = true;
  width_ = getLE32(sourceBitmap_.data() + 4);
  height_ = uint32_t(std::abs(int32_t(getLE32(sourceBitmap_.data() + 8))));
  const uint32_t outHeight = height_ + first.letterBoxTop + first.letterBoxBottom;
  const bool withAudio = first.hasAudio && !req_.options.NoAudio;
  const uint32_t preload = withAudio ? first.audioPreloadFrames : 0;

  // 3. and 4. Run settings and the encoder.
  ZeroedBuffer<uint8_t> out;
  if (!prepareSettings(first, out)) return -1;

  // 5. The output file up to the movie list.
  AviWriterSettings ws;
  fillWriterSettings(ws, width_, outHeight);
  // The stream's format as the writer stores it, for the previews of each record.
  std::array<uint8_t, 40> previewFormat = ws.sourceVideoFormat;
  if (ws.mode == RunMode::Compress)
    previewFormat = codedFormat(ws.width, ws.height, ws.compressionWord);
  AviWriter writer;
  if (!openWriter(writer, ws)) return -1;
  // Any failure from here on closes the output: a partial file stays in modes 0 and 1.
  struct Abandon {
    AviWriter& w;
    bool armed = true;
    ~Abandon() {
      if (armed) w.abandon();
    }
  } abandonOnFailure{writer};

  const bool padReport = req_.options.CDROMTarget && req_.options.ReportPad != 0;
  std::vector<uint8_t> audio;
  // 6. Audio preload.
  if (withAudio) {
    for (uint32_t k = 0; k < preload && !stopFlag_; ++k) {
      audio.clear();
      if (k < frameCount_ && !getAudioBlock(k, audio)) return -1;
      int r;
      {
        RunStageTimes::Scope timer(times_, RunStage::Write);
        r = writer.writeAudioRecord(audio.data(), uint32_t(audio.size()), k);
      }
      if (r == kRecordError) return -1;
      if (r == kRecordSizeLimit) {
        add("CutOff KB Limit reached");
        stopFlag_ = true;
        break;
      }
      if (!audio.empty()) {
        rawBytes_ += audio.size();
        outputBytes_ += audio.size();
        audioBytes_ += audio.size();
        add(format("Audio %u - %ld bytes", k + 1, long(audio.size())));
      }
      if (padReport && writer.lastPadding() != 0)
        add(format("Padding - %ld bytes", long(writer.lastPadding())));
    }
  }

  // 7. Frames.
  std::vector<uint8_t> stored;
  uint32_t packedAudioEnd = 0;  // PackPadding: audio frames up to here are written
  for (uint32_t i = 0; i < frameCount_ && !stopFlag_; ++i) {
    passSuspendGate();
    if (endsBefore(i)) break;
    showFrame(i);
    const uint8_t* video = nullptr;
    uint32_t length = 0, bitmapLength = 0, imageSize = 0;
    bool key = false;
    if (coding()) {
      if (!compressOneFrame(i, out, &length, &key, &bitmapLength)) return -1;
      video = out.data();
      imageSize = width_ * height_ * 2;
    } else {
      if (!getCompressedFrame(i, stored, &key)) return -1;
      // The stored frame follows its 40-byte format.
      video = stored.size() > 40 ? stored.data() + 40 : nullptr;
      length = stored.size() > 40 ? uint32_t(stored.size() - 40) : 0;
      imageSize = width_ * height_ * 2;
    }
    // c. Audio running `preload` frames ahead of the video.
    audio.clear();
    bool audioWritten = false, skipAudio = false;
    if (withAudio && uint64_t(i) + preload < frameCount_ && !endsBefore(i + preload)) {
      const uint32_t a = i + preload;
      bool ok;
      if (req_.mode == RunMode::NoRecompression && req_.options.CDROMTarget &&
          req_.options.PackPadding != 0) {
        // Gather the audio up to the next key frame into one block, so that the records between
        // key frames need no padding of their own. The frames in between then carry no audio:
        // their blocks already travelled in the gathered one.
        ok = true;
        if (packedAudioEnd <= a) {
          uint32_t next = i + 1;
          while (next + preload < frameCount_ && !isKeyFrame(next)) ++next;
          const uint32_t end = std::min(next + preload, frameCount_);  // exclusive
          ok = getAudioRange(std::max(a, packedAudioEnd), end - 1, audio);
          packedAudioEnd = end;
        } else {
          skipAudio = true;
        }
      } else {
        ok = getAudioBlock(a, audio);
      }
      if (!ok) return -1;
      audioWritten = !skipAudio;
    }
    // d. A stop request ends the run after this record.
    if (stopRequested_) stopFlag_ = true;
    // e. The record.
    int r;
    {
      RunStageTimes::Scope timer(times_, RunStage::Write);
      r = writer.writeFrameRecord(length ? video : nullptr, length, audio.data(),
                                  uint32_t(audio.size()), key, i);
    }
    if (r == kRecordError) return -1;
    if (r == kRecordSizeLimit) {
      size_t f;
      uint32_t local = i;
      locate(i, &f, &local);
      if (req_.options.CutOffKBLimit != 0)
        add(format("CutOff KB Limit reached, last frame = %u", local));
      else
        add(format("The file can hold no more (its index is full), last frame = %u", local));
      stopFlag_ = true;
      break;
    }
    ++framesWritten_;
    if (cb_.record) cb_.record(i, previewFormat, length ? video : nullptr, length, key);
    // f. and g. Report.
    reportRecord(i, length, key, bitmapLength, imageSize);
    if (audioWritten) {
      rawBytes_ += audio.size();
      outputBytes_ += audio.size();
      audioBytes_ += audio.size();
      add(format("Audio %u - %ld bytes", i + 1 + preload, long(audio.size())));
    }
    if (padReport && writer.lastPadding() != 0 && req_.mode != RunMode::ZevStream)
      add(format("Padding - %ld bytes", long(writer.lastPadding())));
    // h. and i. Status panes.
    reportStatus(i);
  }

  // 8. End.
  cleanup();
  bool finished;
  {
    RunStageTimes::Scope timer(times_, RunStage::Write);
    finished = writer.finish();
  }
  if (!finished) return -1;
  abandonOnFailure.armed = false;

  // 9. Times.
  std::string endDate, endTime;
  dateAndTime(&endDate, &endTime);
  add(format("Started %s %s  Ended %s %s", startDate.c_str(), startTime.c_str(), endDate.c_str(),
             endTime.c_str()));
  add(format("Elapsed %s", hms(uint64_t(nowSeconds() - startSeconds_)).c_str()));
  return 0;
}

int CompressionRun::runBlockFile() {
  std::string startDate, startTime;
  dateAndTime(&startDate, &startTime);
  startSeconds_ = nowSeconds();
  add("Compressing...");
  rawBytes_ = outputBytes_ = 0;
  audioBytes_ = 0;
  framesWritten_ = 0;
  stopFlag_ = false;
  firstEncoderCall_ = true;
  countFrames();
  const RunSourceInfo first = req_.sources[0]->info();
  std::vector<uint8_t> stored;
  ZeroedBuffer<uint8_t> out;
  bool key = false;
  startReadAhead();
  const bool ok = coding() ? getSourceFrame(0, sourceBitmap_) && sourceBitmap_.size() >= 40
                           : getCompressedFrame(0, stored, &key) && stored.size() >= 40;
  if (frameCount_ == 0 || !ok) {
    report("CTR0024E Cannot begin compression - bad input video format");
    return -1;
  }
  firstFrameHeld_ = coding();
  const uint8_t* frameFormat = coding() ? sourceBitmap_.data() : first.videoFormat.data();
  width_ = getLE32(frameFormat + 4);
  height_ = uint32_t(std::abs(int32_t(getLE32(frameFormat + 8))));
  // Coded frames carry the letterbox lines; stored ones are as they were.
  const uint32_t outHeight =
      coding() ? height_ + first.letterBoxTop + first.letterBoxBottom : height_;
  if (coding() && !prepareSettings(first, out)) return -1;
  AviWriterSettings ws;
  fillWriterSettings(ws, width_, outHeight);
  // Audio and video are separate block sequences: the audio goes in frame order, with no lead.
  ws.audioPreloadFrames = 0;
  BlockFileWriter writer;
  if (!openWriter(writer, ws)) return -1;
  std::vector<uint8_t> audio;
  for (uint32_t i = 0; i < frameCount_ && !stopFlag_; ++i) {
    passSuspendGate();
    if (endsBefore(i)) break;
    showFrame(i);
    const uint8_t* video = nullptr;
    uint32_t length = 0, bitmapLength = 0;
    if (coding()) {
      if (!compressOneFrame(i, out, &length, &key, &bitmapLength)) {
        writer.abandon();
        return -1;
      }
      video = out.data();
    } else {
      if (!getCompressedFrame(i, stored, &key)) {
        writer.abandon();
        return -1;
      }
      // The stored frame follows its 40-byte format.
      length = stored.size() > 40 ? uint32_t(stored.size() - 40) : 0;
      video = stored.data() + 40;
    }
    audio.clear();
    if (ws.withAudio && !getAudioBlock(i, audio)) {
      writer.abandon();
      return -1;
    }
    if (stopRequested_) stopFlag_ = true;
    int r;
    {
      RunStageTimes::Scope timer(times_, RunStage::Write);
      r = writer.writeFrame(length ? video : nullptr, length, key, audio.data(),
                            uint32_t(audio.size()), i);
    }
    if (r != kRecordWritten) {
      writer.abandon();
      return -1;
    }
    ++framesWritten_;
    reportRecord(i, length, key, bitmapLength, width_ * height_ * 2);
    if (!audio.empty()) {
      rawBytes_ += audio.size();
      outputBytes_ += audio.size();
      audioBytes_ += audio.size();
      add(format("Audio %u - %ld bytes", i + 1, long(audio.size())));
    }
    reportStatus(i);
  }
  bool finished;
  {
    RunStageTimes::Scope timer(times_, RunStage::Write);
    finished = writer.finish();
  }
  if (!finished) {
    writer.abandon();
    return -1;
  }
  std::string endDate, endTime;
  dateAndTime(&endDate, &endTime);
  add(format("Started %s %s  Ended %s %s", startDate.c_str(), startTime.c_str(), endDate.c_str(),
             endTime.c_str()));
  add(format("Elapsed %s", hms(uint64_t(nowSeconds() - startSeconds_)).c_str()));
  return 0;
}

}  // namespace zov
