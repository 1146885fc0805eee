#include "compressor/edit_list.h"

#include <cstdarg>
#include <cstdio>
#include <filesystem>
#include <new>

#include "compressor/run_file_checks.h"
#include "compressor/settings_validation.h"
#include "media/source_file.h"
#include "platform/profile.h"
#include "platform/ui.h"

namespace zov {
namespace {

constexpr const char* kTitle = "ZOV Compressor";
constexpr size_t kFileNameChars = 260;  // 259 characters and the terminator

std::string format(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
std::string format(const char* fmt, ...) {
  char buf[2048];
  va_list args;
  va_start(args, fmt);
  std::vsnprintf(buf, sizeof buf, fmt, args);
  va_end(args);
  return buf;
}

void stop(const std::string& text) {
  messageBox(nullptr, text, kTitle, MB_OK | MB_ICONSTOP);
}

// The numeric keys of a segment after "FileName%d", in the file's order.
struct SegmentKey {
  const char* name;
  uint32_t SourceFile::*field;
};
constexpr SegmentKey kNumberKeys[] = {
    {"CropX", &SourceFile::CropX},
    {"CropY", &SourceFile::CropY},
    {"CropWidth", &SourceFile::CropWidth},
    {"CropHeight", &SourceFile::CropHeight},
    {"ExtractionStart", &SourceFile::ExtractionStart},
    {"ExtractionEnd", &SourceFile::ExtractionEnd},
    {"LetterBoxTop", &SourceFile::LetterBoxTop},
    {"LetterBoxBottom", &SourceFile::LetterBoxBottom},
    {"ResizeWidth", &SourceFile::ResizeWidth},
    {"ResizeHeight", &SourceFile::ResizeHeight},
};

std::string key(const char* name, size_t index) {
  return name + std::to_string(index);
}

// The values an edit list may give a segment must describe pictures and frames its file can
// serve: a damaged or hand-edited list must not drive the reader outside the file or make it
// build giant pictures.
bool segmentValuesUsable(const SourceFile& s) {
  return s.ExtractionStart <= s.ExtractionEnd && s.ExtractionEnd < s.FrameCount &&
         s.CropX < s.Width && s.CropY < s.Height && s.CropWidth >= 1 && s.CropHeight >= 1 &&
         s.CropWidth <= s.Width && s.CropHeight <= s.Height && s.LetterBoxTop <= 255 &&
         s.LetterBoxBottom <= 255 && s.ResizeWidth <= 640 && s.ResizeHeight <= 480 &&
         s.ResizeStripType <= 2;
}

}  // namespace

// ---- Saving and loading ----

bool saveEditList(const std::string& path, const std::vector<SourceFile*>& segments) {
  // The whole list is written in one replacement of the file.
  ProfileUpdate file(path);
  auto fail = [&](const char* code) {
    stop(format("%s Unable to save settings into \"%s\", rc=%d", code, path.c_str(),
                file.lastError()));
    return false;
  };
  if (!file.emptySection(kEditListSection)) return fail("MCP0041E");
  auto write = [&](const std::string& k, const std::string& value) {
    if (file.writeString(kEditListSection, k, value)) return true;
    fail("MCP0042E");
    // What was written before the failing key is kept, as when each key went to disk alone;
    // without "TotalFiles" the list does not load.
    file.commit();
    return false;
  };
  for (size_t i = 0; i < segments.size(); ++i) {
    const SourceFile& s = *segments[i];
    if (!write(key("FileName", i), s.Path)) return false;
    for (const SegmentKey& k : kNumberKeys) {
      if (!write(key(k.name, i), std::to_string(s.*k.field))) return false;
    }
    if (!write(key("ResizeInterpolate", i), s.ResizeInterpolate ? "1" : "0") ||
        !write(key("ResizeStripType", i), std::to_string(s.ResizeStripType)) ||
        !write(key("CurrentFrame", i), std::to_string(s.CurrentFrame.load()))) {
      return false;
    }
  }
  if (!write("TotalFiles", std::to_string(segments.size()))) return false;
  return file.commit() || fail("MCP0042E");
}

std::unique_ptr<SourceFile> openSegment(const std::string& path) {
  auto s = std::make_unique<SourceFile>(path);
  if (!s->Opened) return nullptr;
  return s;
}

std::optional<std::vector<std::unique_ptr<SourceFile>>> loadEditList(const std::string& path,
                                                                     const SegmentOpener& open) {
  ProfileFile file(path);
  uint32_t total = file.getInt(kEditListSection, "TotalFiles", 0);
  if (total == 0) {
    stop(format("MCP0038E No valid settings located in \"%s\"", path.c_str()));
    return std::nullopt;
  }
  std::vector<std::unique_ptr<SourceFile>> list;
  try {
    // A damaged count may be huge: the list grows as positions are read, so reserve only what
    // a real list could hold.
    list.reserve(std::min<uint32_t>(total, 4096));
  } catch (const std::bad_alloc&) {
    stop("MCP0039E Unable to allocate an AVI list!");
    return std::nullopt;
  }
  for (uint32_t i = 0; i < total; ++i) {
    std::string name;
    file.lookup(kEditListSection, key("FileName", i), name);
    if (name.size() >= kFileNameChars) {
      // Cut to 259 characters it would name another file.
      stop(
          format("MCP0040E Invalid settings in \"%s\"\rSegment %u: its file name is longer than "
                 "%u characters",
                 path.c_str(), i + 1, unsigned(kFileNameChars - 1)));
      return std::nullopt;
    }
    if (name.empty()) {
      stop(format("MCP0040E Invalid settings in \"%s\"", path.c_str()));
      return std::nullopt;
    }
    // A relative segment name is taken from the list's own folder, wherever the list is used.
    if (std::filesystem::path(name).is_relative())
      name = (file.path().parent_path() / name).lexically_normal().string();
    const std::string problem = inputFileProblem(name);
    if (!problem.empty()) {
      stop(format("MCP0040E Invalid settings in \"%s\"\rSegment %u: %s", path.c_str(), i + 1,
                  problem.c_str()));
      return std::nullopt;
    }
    std::unique_ptr<SourceFile> s = open(name);
    if (!s) return std::nullopt;
    for (const SegmentKey& k : kNumberKeys) {
      s.get()->*k.field = file.getInt(kEditListSection, key(k.name, i), int32_t(s.get()->*k.field));
    }
    s->ResizeInterpolate =
        file.getInt(kEditListSection, key("ResizeInterpolate", i), s->ResizeInterpolate) != 0;
    s->ResizeStripType =
        file.getInt(kEditListSection, key("ResizeStripType", i), int32_t(s->ResizeStripType));
    uint32_t current =
        file.getInt(kEditListSection, key("CurrentFrame", i), int32_t(s->CurrentFrame.load()));
    if (!segmentValuesUsable(*s)) {
      stop(
          format("MCP0040E Invalid settings in \"%s\"\rSegment %u (\"%s\"): its values lie "
                 "outside the file's frames or picture",
                 path.c_str(), i + 1, name.c_str()));
      return std::nullopt;
    }
    // The segment passes the dialog's own checks, letterbox rules included; a value the dialog
    // would correct is refused, since nobody sees the correction here.
    const ExtractionCheck check =
        validateExtraction(extractionValuesOf(*s), extractionSourceOf(*s));
    if (!check.passed) {
      stop(format("MCP0040E Invalid settings in \"%s\"\rSegment %u (\"%s\"): %s", path.c_str(),
                  i + 1, name.c_str(), check.message.c_str()));
      return std::nullopt;
    }
    s->CurrentFrame = current < s->FrameCount ? current : s->FrameCount - 1;
    list.push_back(std::move(s));
  }
  return list;
}

// ---- The list dialog ----

std::string editListLineText(const SourceFile& s) {
  std::string text = s.Path + "\n";
  double fps = s.framesPerSecond();
  if (!s.HasAudio) {
    return text + format("Size=%ux%u  Frames=%u to %u\n%2.4f FPS, Audio=NONE", s.outputWidth(),
                         s.outputHeight(), s.ExtractionStart + 1, s.ExtractionEnd + 1, fps);
  }
  uint32_t channels = s.effectiveChannels();
  uint32_t bytesPerSample = channels ? s.effectiveBlockAlign() / channels : 0;
  return text + format("Size=%ux%u  Frames=%u to %u\n%2.4f FPS, Audio=%u %s %s", s.outputWidth(),
                       s.outputHeight(), s.ExtractionStart + 1, s.ExtractionEnd + 1, fps,
                       s.effectiveSampleRate(), channels == 1 ? "Mono" : "Stereo",
                       bytesPerSample == 1 ? "8-Bit" : "16-Bit");
}

std::string editListCaption(bool showThumbnails) {
  return showThumbnails ? "[From] [To] [Source AVI File] List:" : "[Source AVI File] List:";
}

std::optional<size_t> stepSegment(size_t current, size_t count, bool forward, bool compressing) {
  if (count < 2 || compressing) return std::nullopt;
  if (current >= count) current = 0;
  return forward ? (current + 1) % count : (current + count - 1) % count;
}

// ---- Mix check ----

MixSegment mixSegmentOf(SourceFile& s) {
  MixSegment m;
  m.name = s.Path;
  m.startsWithKeyFrame = s.isKeyFrameAbsolute(s.ExtractionStart);
  m.width = s.outputWidth();
  m.height = s.outputHeight();
  m.microSecPerFrame = s.MicroSecPerFrame;
  m.framesPerSecond = s.framesPerSecond();
  m.outputBitCount = s.OutputBitCount;
  m.hasAudio = s.HasAudio;
  m.audioPreloadFrames = s.AudioPreloadFrames;
  if (s.HasAudio) {
    m.sampleRate = s.effectiveSampleRate();
    m.blockAlign = s.effectiveBlockAlign();
    m.samplesPerFrame = s.audioSamplesPerFrame();
    m.audioSamples = s.audioSamplesForRange();
  }
  m.letterBoxTop = s.LetterBoxTop;
  m.letterBoxBottom = s.LetterBoxBottom;
  m.needsSpecial = s.NeedsSpecial;
  m.singleField = s.SingleFieldSource;
  m.wideField = s.WideFieldSource;
  m.framesToCompress = s.framesToCompress();
  return m;
}

std::optional<MixTotals> checkMix(const std::vector<MixSegment>& segments, MixRun run, bool noAudio,
                                  bool compressFirst) {
  if (segments.empty()) return MixTotals{};
  const bool copy = run != MixRun::Compress && !compressFirst;
  const MixSegment& first = segments[0];
  const char* n0 = first.name.c_str();
  if (copy && !first.startsWithKeyFrame) {
    stop(
        format("MCP0011E You are attempting to do a no recompression,\r"
               "but %s does not start with a keyframe (it must).",
               n0));
    return std::nullopt;
  }
  for (size_t i = 1; i < segments.size(); ++i) {
    const MixSegment& s = segments[i];
    const char* n = s.name.c_str();
    if (copy && !s.startsWithKeyFrame) {
      stop(
          format("MCP0012E You are attempting to do a no recompression mix,\r"
                 "but %s does not start with a keyframe (it must).",
                 n));
      return std::nullopt;
    }
    if (s.width != first.width || s.height != first.height) {
      stop(
          format("MCP0013E You are attempting to mix files which have different sizes.\r"
                 "The size of %s is %dx%d\rThe size of %s is %dx%d\r"
                 "You can use cropping or resizing to attain an identical width and height.",
                 n, int(s.width), int(s.height), n0, int(first.width), int(first.height)));
      return std::nullopt;
    }
    if (s.microSecPerFrame != first.microSecPerFrame) {
      stop(
          format("MCP0014E You are attempting to mix files which have different frames per "
                 "second (FPS).\rThe FPS of %s is %2.2f\rThe FPS of %s is %2.2f",
                 n, s.framesPerSecond, n0, first.framesPerSecond));
      return std::nullopt;
    }
    if (s.outputBitCount != first.outputBitCount) {
      stop(
          format("MCP0015E You are attempting to mix files which have different bitcounts.\r"
                 "The bitcount if %s is %d\rThe bitcount if %s is %d",
                 n, int(s.outputBitCount), n0, int(first.outputBitCount)));
      return std::nullopt;
    }
    if (!noAudio) {
      if (s.hasAudio != first.hasAudio) {
        stop(format(
            "MCP0016E You are attempting to mix files which have audio with files which "
            "have no audio.\rThe file %s %s audio\rThe file %s %s audio\r"
            "You can select 'No Audio' in the compressor settings dialog to mix these "
            "files.",
            n, s.hasAudio ? "has" : "does not have", n0, first.hasAudio ? "has" : "does not have"));
        return std::nullopt;
      }
      // Two silent segments have no audio properties to differ in.
      if (s.hasAudio) {
        if (s.audioPreloadFrames != first.audioPreloadFrames) {
          stop(
              format("MCP0017E You are attempting to mix files which have different leading "
                     "audio counts.\rThe leading audio count for %s is %d\r"
                     "The leading audio count for %s is %d",
                     n, int(s.audioPreloadFrames), n0, int(first.audioPreloadFrames)));
          return std::nullopt;
        }
        if (s.sampleRate != first.sampleRate) {
          stop(
              format("MCP0018E You are attempting to mix files which have different audio "
                     "frequencies.\rThe audio frequency of %s is %d\r"
                     "The audio frequency of %s is %d",
                     n, int(s.sampleRate), n0, int(first.sampleRate)));
          return std::nullopt;
        }
        if (s.blockAlign != first.blockAlign) {
          stop(
              format("MCP0019E You are attempting to mix files which have different audio "
                     "sample sizes.\rThe audio sample size of %s is %d\r"
                     "The audio sample size of %s is %d",
                     n, int(s.blockAlign), n0, int(first.blockAlign)));
          return std::nullopt;
        }
        if (s.samplesPerFrame != first.samplesPerFrame) {
          stop(
              format("MCP0020E You are attempting to mix files which have different audio per "
                     "frame sizes.\rThe audio per frame of %s is %f\r"
                     "The audio per frame of %s is %f",
                     n, s.samplesPerFrame, n0, first.samplesPerFrame));
          return std::nullopt;
        }
      }
    }
    if (s.letterBoxTop != first.letterBoxTop || s.letterBoxBottom != first.letterBoxBottom) {
      stop(
          format("MCP0021E You are attempting to mix different LetterBox settings.\r"
                 "The file %s has LetterBox settings of top=%lu and bottom=%lu\r"
                 "The file %s has LetterBox settings of top=%lu and bottom=%lu\r"
                 "You can control LetterBoxing in the Extract/Crop dialog.",
                 n, (unsigned long)s.letterBoxTop, (unsigned long)s.letterBoxBottom, n0,
                 (unsigned long)first.letterBoxTop, (unsigned long)first.letterBoxBottom));
      return std::nullopt;
    }
    if (copy) {
      if (s.needsSpecial) {
        stop(format("MCP0022E The file %s is not suitable for mixing with other files.", n));
        return std::nullopt;
      }
      if (s.singleField != first.singleField) {
        stop(
            format("MCP0023E You are attempting to mix a single field file with a non-single "
                   "field file.\r%s %s single-field\r%s %s single-field",
                   n, s.singleField ? "is" : "is not", n0, first.singleField ? "is" : "is not"));
        return std::nullopt;
      }
      if (s.wideField != first.wideField) {
        stop(
            format("MCP0024E You are attempting to mix a wide field file with a non-wide field "
                   "file.\r%s %s wide-field\r%s %s wide-field",
                   n, s.wideField ? "is" : "is not", n0, first.wideField ? "is" : "is not"));
        return std::nullopt;
      }
    }
  }
  MixTotals totals;
  for (const MixSegment& s : segments) {
    totals.frames += s.framesToCompress;
    totals.audioSamples += s.audioSamples;
  }
  if ((run == MixRun::ZevFile || run == MixRun::MltFile) &&
      totals.frames < first.audioPreloadFrames) {
    stop("MCP0025E ZEV file too small (must have at least 3/4 second of data)");
    return std::nullopt;
  }
  return totals;
}

}  // namespace zov
