#include "compressor/gui/compressor_session.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <thread>

#include "compressor/edit_list.h"
#include "compressor/filter_list.h"
#include "compressor/run_file_checks.h"
#include "compressor/run_source.h"
#include "compressor/settings_validation.h"
#include "media/source_messages.h"
#include "platform/ui.h"

namespace zov {

namespace {

// The run's view of a source that also moves the input window along with the run.
class WindowRunSource : public SourceFileRunSource {
 public:
  WindowRunSource(SourceFile& source, std::function<void(uint32_t)> shown)
      : SourceFileRunSource(source), shown_(std::move(shown)) {}
  void show(uint32_t frame) override {
    SourceFileRunSource::show(frame);
    if (shown_) shown_(frame);
  }

 private:
  std::function<void(uint32_t)> shown_;
};

bool isZov2(const SourceFile& s) {
  std::string h = s.Handler;
  for (char& c : h) c = char(std::tolower(uint8_t(c)));
  return h == "zov2";
}

std::string fileNameOf(const std::string& path) {
  return std::filesystem::path(path).filename().string();
}

uint32_t getLE32At(const uint8_t* p) {
  return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

}  // namespace

// ---- Free functions ----

StopResult runStopProtocol(const StopProtocol& p, bool confirm, std::atomic<bool>& inProgress) {
  // 1. One stop at a time; nothing to stop without a thread.
  if (inProgress.exchange(true)) return StopResult::Refused;
  struct Clear {
    std::atomic<bool>& flag;
    ~Clear() { flag = false; }
  } clear{inProgress};
  if (!p.threadRunning()) return StopResult::NoRun;
  // 2. The question.
  if (confirm && p.box("MCP0035Q Compression in progress!\rDo you wish to abort?", kCompressorTitle,
                       MB_YESNO | MB_ICONSTOP) != IDYES)
    return StopResult::Cancelled;
  // 3. The request.
  p.addMessage("Halting compression, please wait...");
  p.requestStop();
  // 4. Wait for the thread, keeping the window alive.
  for (int pass = 0; pass < p.passes; ++pass) {
    if (!p.threadRunning()) {
      p.sleep(500);
      return StopResult::Stopped;
    }
    p.pump();
    p.sleep(500);
  }
  if (!p.threadRunning()) return StopResult::Stopped;
  p.box("MCP0036E 2 minutes inactivity - terminating compression thread", kCompressorTitle,
        MB_OK | MB_ICONSTOP);
  if (p.abandon) p.abandon();
  p.sleep(1000);
  return StopResult::TimedOut;
}

std::string inputInfoLine0(uint32_t sourceNumber, uint32_t width, uint32_t height, uint32_t frame,
                           uint32_t frameCount, bool keyFrame) {
  return formatMessage("%u: Size=%ldx%ld, Frame=%ld/%ld, %s", sourceNumber, long(width),
                       long(height), long(frame), long(frameCount),
                       keyFrame ? "(Keyframe in source AVI)" : "");
}

std::string inputInfoLine1(double framesPerSecond, uint32_t rawSize) {
  return formatMessage("%2.4f FPS, Raw Source Frame Size = %u", framesPerSecond, rawSize);
}

std::string inputInfoLine2(const SourceFile& s, const uint8_t* header, size_t size,
                           bool keyInIndex) {
  std::string line;
  if (!isZov2(s)) {
    line = "(Not an ZOV2 file) ";
  } else if (!s.FormatV4) {
    line = "(ZOV2 pre-V4) ";
  } else if (!header || size < 4) {
    line = "(ZOV2 Data Error) ";
  } else {
    // The header's fields run from the most significant bit of the first 32-bit word.
    const uint32_t word = getLE32At(header);
    if (keyInIndex && !(word & 0x80000000u)) {
      line = "(ZOV2 KeyFrame != Index Error) ";
    } else {
      line = "Video=";
      if (word & 0x01000000u) line += "LBOX ";
      if (word & 0x02000000u) line += "FLAT ";
      if (word & 0x04000000u) line += "EDGE ";
      if (word & 0x08000000u) line += "ENPY ";
      static const char* const kSchemes[] = {"RGB", "422", "411", "811", "1611"};
      const uint32_t scheme = (word >> 28) & 7;
      line += scheme < 5 ? kSchemes[scheme] : "???";
      if (s.Chroma) line += ", Chroma";
      if (s.Chroma1st) line += ", Chroma1st";
      if (s.SingleFieldSource) line += ", SField";
      if (s.WideFieldSource) line += ", WField";
    }
  }
  if (s.HasAudio)
    line += formatMessage(
        ", Audio=%u %s %s", s.effectiveSampleRate(), s.effectiveChannels() == 1 ? "Mono" : "Stereo",
        s.AudioBlockAlign / std::max(1u, s.AudioChannels) >= 2 ? "16-Bit" : "8-Bit");
  else
    line += ", Audio=NONE";
  return line;
}

std::string frameTitle(const std::string& sourcePath, const std::string& targetPath) {
  if (sourcePath.empty()) return "(no file open)";
  std::string title = fileNameOf(sourcePath);
  if (!targetPath.empty()) title += " --> " + fileNameOf(targetPath);
  return title;
}

std::string folderOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  if (slash == std::string::npos) return "/";
  return path.substr(0, slash + 1);
}

void rememberRecentFile(std::array<std::string, 8>& recall, const std::string& path) {
  std::vector<std::string> list{path};
  for (const std::string& p : recall)
    if (!p.empty() && p != path && list.size() < recall.size()) list.push_back(p);
  for (size_t i = 0; i < recall.size(); ++i) recall[i] = i < list.size() ? list[i] : "";
}

// ---- The session ----

CompressorSession::CompressorSession() {
  settings_ = defaultCompressionSettings();
  options_ = defaultCompressorOptions();
  hooks_.box = [](const std::string& text, const std::string& title, uint32_t style) {
    return messageBox(nullptr, text, title, style);
  };
  hooks_.beep = [](int, int) { messageBeep(kSimpleBeep); };
  hooks_.pump = [] {};
  hooks_.sleep = [](int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); };
}

CompressorSession::~CompressorSession() {
  if (run_.active()) run_.stop();
  run_.wait();
}

SourceFile* CompressorSession::currentSource() const {
  return current_ < sources_.size() ? sources_[current_].get() : nullptr;
}

bool CompressorSession::allSourcesZov2() const {
  if (sources_.empty()) return false;
  return std::all_of(sources_.begin(), sources_.end(), [](const auto& s) { return isZov2(*s); });
}

CommandState CompressorSession::commandState(bool filterViewExists) const {
  CommandState st;
  st.compressing = const_cast<CompressionRun&>(run_).active();
  st.sourceCount = sources_.size();
  st.allSourcesZov2 = allSourcesZov2();
  st.currentSourceZov2 = currentSource() && isZov2(*currentSource());
  st.filterViewExists = filterViewExists;
  return st;
}

void CompressorSession::notifyFrame() {
  if (observer_.frameChanged) observer_.frameChanged();
}

void CompressorSession::notifyMessages() {
  if (observer_.messagesChanged) observer_.messagesChanged();
}

void CompressorSession::beep(int hz, int ms) {
  if (hooks_.beep) hooks_.beep(hz, ms);
}

bool CompressorSession::openSource(const std::string& path) {
  if (run_.active() || sources_.size() > 1) return false;
  options_.SourceFilePath = folderOf(path);
  auto source = std::make_unique<SourceFile>(path);
  if (!source->Opened) return false;
  sources_.clear();
  sources_.push_back(std::move(source));
  current_ = 0;
  currentFrame_ = 0;
  // The settings file keeps paths of at most 259 characters: a longer one is opened but not
  // remembered (cut, it would name another file).
  if (path.size() > kPathMaxChars) {
    hooks_.box("\"" + path + "\" is " + std::to_string(path.size()) +
                   " characters long: it is opened, but not kept among the recent files (at "
                   "most " +
                   std::to_string(kPathMaxChars) + " characters)",
               kCompressorTitle, MB_OK | MB_ICONINFORMATION);
  } else {
    rememberRecentFile(options_.FileRecall, path);
  }
  sources_[0]->sampleDataRate();
  refreshInputInfo();
  notifyFrame();
  return true;
}

bool CompressorSession::closeSource() {
  if (run_.active() || sources_.size() != 1) return false;
  sources_.clear();
  current_ = 0;
  currentFrame_ = 0;
  for (int i = 0; i < 3; ++i) setStatusLine(i, "");
  notifyFrame();
  return true;
}

void CompressorSession::listChanged(size_t current) {
  current_ = current < sources_.size() ? current : 0;
  SourceFile* s = currentSource();
  currentFrame_ =
      s ? std::min<uint32_t>(s->CurrentFrame, s->FrameCount ? s->FrameCount - 1 : 0) : 0;
  for (auto& src : sources_)
    if (src->RateSampleCount == 0) src->sampleDataRate();
  refreshInputInfo();
  notifyFrame();
}

void CompressorSession::stepSegment(bool forward) {
  auto next = zov::stepSegment(current_, sources_.size(), forward, run_.active());
  if (!next) {
    beep(1000, 500);
    return;
  }
  if (SourceFile* s = currentSource()) s->CurrentFrame = currentFrame_.load();
  listChanged(*next);
}

bool CompressorSession::navigate(int command) {
  SourceFile* s = currentSource();
  const bool forward15 = command == kCmdForward15;
  if (!s || run_.active() || s->FrameCount == 0) {
    forward15 ? beep(500, 250) : beep(1000, 500);
    return false;
  }
  const uint32_t last = s->FrameCount - 1;
  const uint32_t now = currentFrame_;
  uint32_t to = now;
  switch (command) {
    case kCmdFirstFrame:
      to = 0;
      break;
    case kCmdBack15:
      to = now >= 15 ? now - 15 : 0;
      break;
    case kCmdPreviousFrame:
      to = now > 0 ? now - 1 : 0;
      break;
    case kCmdNextFrame:
      to = now < last ? now + 1 : last;
      break;
    case kCmdForward15:
      to = last - now >= 15 ? now + 15 : last;
      break;
    case kCmdLastFrame:
      to = last;
      break;
    default:
      return false;
  }
  if (to == now) {
    forward15 ? beep(500, 250) : beep(1000, 500);
    return false;
  }
  currentFrame_ = to;
  s->CurrentFrame = to;
  refreshInputInfo();
  notifyFrame();
  return true;
}

bool CompressorSession::gotoFrame(uint32_t frame) {
  SourceFile* s = currentSource();
  if (!s || run_.active() || frame >= s->FrameCount) {
    beep(1000, 500);
    return false;
  }
  currentFrame_ = frame;
  s->CurrentFrame = frame;
  refreshInputInfo();
  notifyFrame();
  return true;
}

void CompressorSession::markIn() {
  SourceFile* s = currentSource();
  if (!s || run_.active()) return;
  s->ExtractionStart = currentFrame_;
  if (s->ExtractionEnd < s->ExtractionStart) s->ExtractionEnd = s->ExtractionStart;
  s->sampleDataRate();
  notifyFrame();
}

void CompressorSession::markOut() {
  SourceFile* s = currentSource();
  if (!s || run_.active()) return;
  s->ExtractionEnd = currentFrame_;
  if (s->ExtractionStart > s->ExtractionEnd) s->ExtractionStart = s->ExtractionEnd;
  s->sampleDataRate();
  notifyFrame();
}

void CompressorSession::refreshInputInfo() {
  SourceFile* s = currentSource();
  if (!s) return;
  const uint32_t f = currentFrame_;
  const bool key = s->isKeyFrameAbsolute(f);
  const uint32_t width = s->Width, height = s->Height;
  setStatusLine(0,
                inputInfoLine0(uint32_t(current_ + 1), width, height, f + 1, s->FrameCount, key));
  const int64_t raw = s->rawFrameSize(f);
  setStatusLine(1, inputInfoLine1(s->framesPerSecond(), raw > 0 ? uint32_t(raw) : 0));
  if (key) {
    std::vector<uint8_t> stored;
    const bool ok = isZov2(*s) && s->FormatV4 && s->readRawFrameAbsolute(f, stored, nullptr);
    const uint8_t* header = ok && stored.size() >= 44 ? stored.data() + 40 : nullptr;
    setStatusLine(2, inputInfoLine2(*s, header, header ? stored.size() - 40 : 0, true));
  }
}

void CompressorSession::addMessage(const std::string& line) {
  messages_.add(line);
  notifyMessages();
}

std::string CompressorSession::statusLine(int line) const {
  std::lock_guard lock(statusMutex_);
  return line >= 0 && line < kStatusLineCount ? status_[size_t(line)] : std::string();
}

void CompressorSession::setStatusLine(int line, const std::string& text) {
  {
    std::lock_guard lock(statusMutex_);
    if (line < 0 || line >= kStatusLineCount) return;
    status_[size_t(line)] = text.substr(0, 80);
  }
  notifyMessages();
}

bool CompressorSession::prepareCompression(RunMode mode) {
  if (sources_.empty() || run_.active()) return false;
  std::vector<MixSegment> segments;
  for (auto& s : sources_) segments.push_back(mixSegmentOf(*s));
  MixRun kind = MixRun::Compress;
  if (mode == RunMode::NoRecompression) kind = MixRun::NoRecompression;
  if (mode == RunMode::ZevStream) kind = MixRun::ZevFile;
  if (mode == RunMode::BlockFile) kind = MixRun::MltFile;
  if (!checkMix(segments, kind, options_.NoAudio)) return false;
  // Copied frames keep their stored pictures: a source cropped, letterboxed, resized or
  // stripped of a field (or filters) would give headers that disagree with its frames.
  if (mode != RunMode::Compress) {
    for (const auto& s : sources_) {
      if (!isZov2(*s)) continue;  // only stored ZOV2 frames are copied
      const std::string changes = pictureChanges(extractionValuesOf(*s), s->Width, s->Height);
      if (changes.empty() && options_.Filters.empty()) continue;
      hooks_.box("The frames of " + s->Path +
                     " are copied as they are, without recompression, but " +
                     (changes.empty() ? std::string("filters are set")
                                      : "the source is set to be " + changes) +
                     ".\rUse Compress As... to apply them.",
                 kCompressorTitle, MB_OK | MB_ICONSTOP);
      return false;
    }
  }
  // The first segment becomes current at its first frame, fetched once to prepare the run.
  if (SourceFile* s = currentSource()) s->CurrentFrame = currentFrame_.load();
  current_ = 0;
  currentFrame_ = sources_[0]->ExtractionStart;
  std::vector<uint8_t> frame;
  const bool converted = mode == RunMode::Compress;
  if (!sources_[0]->getFrame(0, frame, nullptr, converted, converted, converted) ||
      frame.size() < 40)
    return false;
  if (mode == RunMode::Compress && !CheckCompressible(frame.data())) return false;
  refreshInputInfo();
  notifyFrame();
  return true;
}

bool CompressorSession::startCompression(RunMode mode, const std::string& path) {
  if (sources_.empty() || run_.active()) return false;
  std::vector<std::string> paths;
  for (auto& s : sources_) {
    paths.push_back(s->Path);
    if (!s->AudioPath.empty()) paths.push_back(s->AudioPath);
  }
  if (!settings_.ChromaBackground.empty()) paths.push_back(settings_.ChromaBackground);
  const std::string refusal = outputIsInputRefusal(path, paths);
  if (!refusal.empty()) {
    hooks_.box(refusal, kCompressorTitle, MB_OK | MB_ICONSTOP);
    return false;
  }
  run_.wait();  // the previous worker, when one ended
  options_.TargetFilePath = folderOf(path);
  mode_ = mode;
  target_ = path;
  runSources_.clear();
  for (size_t i = 0; i < sources_.size(); ++i) {
    SourceFile* src = sources_[i].get();
    runSources_.push_back(std::make_unique<WindowRunSource>(*src, [this, i, src](uint32_t f) {
      current_ = i;
      currentFrame_ = src->ExtractionStart + f;
      refreshInputInfo();
      notifyFrame();
    }));
  }
  runLetterTop_ = sources_[0]->LetterBoxTop;
  runLetterBottom_ = sources_[0]->LetterBoxBottom;
  if (mode == RunMode::Compress && settings_.ChromaKeying) chromaRunBegun_ = true;
  framesDone_ = 0;
  framesTotal_ = 0;
  runStarted_ = std::chrono::steady_clock::now();
  runSeconds_ = 0;
  stopRequested_ = false;
  lastEnd_.clear();
  for (auto& s : sources_) framesTotal_ += s->framesToCompress();

  RunRequest req;
  req.mode = mode;
  req.outputPath = path;
  req.settings = &settings_;
  req.options = options_;
  for (auto& rs : runSources_) req.sources.push_back(rs.get());
  RunCallbacks cb;
  cb.line = [this](const std::string& line) {
    messages_.add(line);
    notifyMessages();
  };
  // The writer's size-limit notice goes to the sixth line, which the message window shows while
  // "CutOffKBLimitNotify" is on; lines 0 to 2 belong to the input window.
  cb.status = [this](int pane, const std::string& text) {
    setStatusLine(pane == 2 ? 5 : pane, text);
  };
  cb.progress = [this](const RunProgress& p) {
    framesDone_ = p.done;
    framesTotal_ = p.frameCount;
    if (observer_.runStateChanged) observer_.runStateChanged();
  };
  cb.error = [](const std::string& text) {
    messageBox(nullptr, text, kCompressorTitle, MB_OK | MB_ICONSTOP);
  };
  const std::vector<FilterEntry> filters = options_.Filters;
  cb.applyFilters = [filters](uint16_t* pixels, int w, int h) {
    applyFilterList(filters, false, pixels, w, h, FilterCaller::CompressionRun);
  };
  if (observer_.record) cb.record = observer_.record;
  if (!run_.start(std::move(req), std::move(cb))) {
    messageBox(nullptr, "MCP0026E Unable to create compression thread", kCompressorTitle,
               MB_OK | MB_ICONSTOP);
    target_.clear();
    return false;
  }
  if (observer_.runStateChanged) observer_.runStateChanged();
  return true;
}

std::string CompressorSession::windowTitle() {
  SourceFile* s = currentSource();
  std::string title = frameTitle(s ? s->Path : std::string(), target_);
  if (run_.active() && framesTotal_ > 0) {
    const uint32_t done = framesDone_, total = framesTotal_;
    title += formatMessage("  [%u of %u, %u%%%s]", done, total, unsigned(100ull * done / total),
                           run_.suspended() ? ", suspended" : "");
  }
  return title;
}

void CompressorSession::suspend() {
  if (!run_.active()) return;
  addMessage("Suspend compression request issued, please wait...");
  run_.suspend();
  if (observer_.runStateChanged) observer_.runStateChanged();
  hooks_.box("MCP0027I Compression suspended\rClick on OK to resume compression", kCompressorTitle,
             MB_OK | MB_ICONINFORMATION);
  run_.resume();
  if (observer_.runStateChanged) observer_.runStateChanged();
}

StopResult CompressorSession::stop(bool confirm) {
  StopProtocol p;
  p.threadRunning = [this] { return run_.active(); };
  p.requestStop = [this] {
    stopRequested_ = true;
    run_.stop();
  };
  p.pump = hooks_.pump;
  p.sleep = [this](int ms) {
    // Short naps so that a quick end is seen at once.
    for (int t = 0; t < ms && run_.active(); t += 20) hooks_.sleep(20);
  };
  p.addMessage = [this](const std::string& line) { addMessage(line); };
  p.box = hooks_.box;
  const StopResult r = runStopProtocol(p, confirm, stopping_);
  if (r == StopResult::Stopped) finishRun();
  return r;
}

int CompressorSession::waitForRun() {
  const int rc = run_.wait();
  finishRun();
  return rc;
}

void CompressorSession::finishRun() {
  if (run_.active() || target_.empty()) return;
  const int rc = run_.wait();
  const RunProgressFigures figures = runFigures();
  runSeconds_ = figures.elapsedSeconds;
  std::error_code sizeError;
  const auto bytes = std::filesystem::file_size(target_, sizeError);
  const RunEnd end = rc == 0 && !stopRequested_     ? RunEnd::Finished
                     : stopRequested_ && !sizeError ? RunEnd::Stopped
                                                    : RunEnd::Failed;
  lastEnd_ = runEndText(end, figures, sizeError ? 0 : uint64_t(bytes));
  // The stream and block outputs are no use partly written; an AVI target stays on disk.
  if (rc != 0 && (mode_ == RunMode::ZevStream || mode_ == RunMode::BlockFile)) {
    std::error_code ec;
    std::filesystem::remove(target_, ec);
  }
  target_.clear();
  if (observer_.runStateChanged) observer_.runStateChanged();
  notifyFrame();
}

SourceFile* CompressorSession::locateRunFrame(uint32_t frame, uint32_t* local) const {
  for (const auto& s : sources_) {
    const uint32_t n = s->framesToCompress();
    if (frame < n) {
      *local = frame;
      return s.get();
    }
    frame -= n;
  }
  return nullptr;
}

RunProgressFigures CompressorSession::runFigures() const {
  RunProgressFigures f;
  f.done = framesDone_;
  f.total = framesTotal_;
  f.elapsedSeconds =
      lastEnd_.empty() && runStarted_ != std::chrono::steady_clock::time_point{}
          ? std::chrono::duration<double>(std::chrono::steady_clock::now() - runStarted_).count()
          : runSeconds_;
  return f;
}

std::string CompressorSession::runStateText() const {
  if (!lastEnd_.empty()) return lastEnd_;
  if (runStarted_ == std::chrono::steady_clock::time_point{}) return {};
  return runProgressText(runFigures());
}

}  // namespace zov
