// Edit lists: an ordered list of source AVI files (segments), each with its own extraction
// settings, compressed one after the other into one output file.
//
// This file holds what needs no window: saving and loading the edit-list file (a private-profile
// file with one section "ZOVComp Edit List"), the texts of the list dialog's lines, moving
// between segments, and the mix check that every segment shares what one output stream needs.
// Every message is a box titled "ZOV Compressor" with a stop icon; the source reader reports its
// own failures when a segment's file can't be opened.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace zov {

class SourceFile;

inline constexpr const char* kEditListSection = "ZOVComp Edit List";

// ---- The edit-list file ----

// Writes every segment's keys, then "TotalFiles". The section is emptied first ("MCP0041E ..."
// and nothing saved when that fails); the first failing write ends saving ("MCP0042E ...").
bool saveEditList(const std::string& path, const std::vector<SourceFile*>& segments);

// Opens a segment's file; null (after the reader's own messages) when it can't be opened.
using SegmentOpener = std::function<std::unique_ptr<SourceFile>(const std::string& path)>;
std::unique_ptr<SourceFile> openSegment(const std::string& path);

// Reads a list: each segment's file is opened and its keys read with the freshly opened values
// as defaults. Nothing (after its message) when the file holds no list ("MCP0038E"), a position
// has no file name or values the segment's file can't serve ("MCP0040E"), or a file can't be
// opened; every segment opened so far is then closed again.
std::optional<std::vector<std::unique_ptr<SourceFile>>> loadEditList(
    const std::string& path, const SegmentOpener& open = openSegment);

// ---- The list dialog ----

// The two-line text of a segment's list line.
std::string editListLineText(const SourceFile& segment);
// The caption above the list, by the "Show &Thumbnails" switch.
std::string editListCaption(bool showThumbnails);

// Previous / next segment: the new index, wrapping at both ends; nothing (the caller beeps)
// with fewer than two segments or while compressing.
std::optional<size_t> stepSegment(size_t current, size_t count, bool forward, bool compressing);

// ---- The mix check ----

// Which run is about to start. Plain compression checks the common rules; the copy runs
// (no recompression, and the ZEV and MLT outputs) check the copy rules too.
enum class MixRun { Compress, NoRecompression, ZevFile, MltFile };

// What the mix check compares of a segment.
struct MixSegment {
  std::string name;  // the file path, as messages show it
  bool startsWithKeyFrame = true;
  uint32_t width = 0, height = 0;  // output size
  uint32_t microSecPerFrame = 0;
  double framesPerSecond = 0;
  uint32_t outputBitCount = 0;
  bool hasAudio = false;
  uint32_t audioPreloadFrames = 0;
  uint32_t sampleRate = 0;  // effective
  uint32_t blockAlign = 0;  // effective bytes per sample frame
  double samplesPerFrame = 0;
  uint32_t letterBoxTop = 0, letterBoxBottom = 0;
  bool needsSpecial = false, singleField = false, wideField = false;
  uint32_t framesToCompress = 0;
  uint32_t audioSamples = 0;
};
MixSegment mixSegmentOf(SourceFile& segment);

struct MixTotals {
  uint64_t frames = 0;
  uint64_t audioSamples = 0;
};

// Compares every segment with the first and stops at the first difference (after its
// message). A passing check returns the run's totals. A stream or block file whose frames are
// compressed first (`compressFirst`) mixes as a compression does.
std::optional<MixTotals> checkMix(const std::vector<MixSegment>& segments, MixRun run, bool noAudio,
                                  bool compressFirst = false);

}  // namespace zov
