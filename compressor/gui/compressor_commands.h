// The command numbers of the compressor's menu "Main", its accelerators and its toolbar, and the
// toolbar's buttons with their tooltips and enable rules.
#pragma once

#include <array>
#include <cstddef>

namespace zov {

enum CompressorCommand : int {
  kCmdExit = 201,
  kCmdHelp = 202,
  kCmdAbout = 203,
  kCmdOpen = 204,
  kCmdClose = 205,
  kCmdCompressAs = 207,
  kCmdStop = 208,
  kCmdNextFrame = 210,
  kCmdPreviousFrame = 211,
  kCmdFirstFrame = 212,
  kCmdLastFrame = 213,
  kCmdSuspend = 215,
  kCmdMultiple = 216,
  kCmdNoRecompression = 222,
  kCmdShowFiltering = 223,
  kCmdShowOutputWindow = 237,
  kCmdShowRmsWindow = 238,
  kCmdNextView = 239,
  kCmdPreviousView = 240,
  kCmdRecall1 = 250,  // 250..257: "FileRecall1".."FileRecall8"
  kCmdTile = 258,
  kCmdCascade = 259,
  kCmdArrangeIcons = 260,
  kCmdAllSettings = 262,
  kCmdGotoFrame = 266,
  kCmdBack15 = 267,
  kCmdForward15 = 268,
  kCmdShowTrack = 269,
  kCmdShowAudio = 270,
  kCmdShowFilterWindow = 271,
  kCmdShowToolbar = 272,
  kCmdAudioOptions = 283,
  kCmdChromaKeying = 284,
  kCmdDataRate = 285,
  kCmdVideoCompression = 286,
  kCmdExtractCrop = 287,
  kCmdFiltering = 288,
  kCmdFileSizeCutoff = 289,
  kCmdPadding = 290,
  kCmdGotoOutput = 292,
  kCmdGotoError = 293,
  kCmdGotoFilter = 294,
  kCmdShowDataRateWindow = 296,
  kCmdGotoDataRate = 297,
  kCmdNextSegment = 298,
  kCmdPreviousSegment = 299,
  // Ours: the job as a "zovcomp compress" line.
  kCmdSaveCommandLine = 300,
  // The input window's own buttons.
  kCmdMarkIn = 301,
  kCmdMarkOut = 302,
};

// The configuration page a settings command opens (287 .. 290), or -1.
int configurationPageOf(int command);

// What the enable rules look at.
struct CommandState {
  bool compressing = false;
  size_t sourceCount = 0;
  bool allSourcesZov2 = false;  // every source of the list is ZOV2
  bool currentSourceZov2 = false;
  bool filterViewExists = false;
};

struct ToolbarButton {
  const char* bitmap;
  const char* tooltip;
  int command;
  bool separatorAfter;
};

inline constexpr std::array<ToolbarButton, 17> kToolbarButtons = {{
    {"FileOpen", "Open a single AVI file", kCmdOpen, false},
    {"ControlMultiple", "Control multiple AVI files", kCmdMultiple, false},
    {"FileSave", "Compress as...", kCmdCompressAs, false},
    {"NoRecompress", "No recompress as...", kCmdNoRecompression, true},
    {"ExtractCrop", "Extraction & cropping", kCmdExtractCrop, false},
    {"Filtering", "Video filtering", kCmdFiltering, false},
    {"Compression", "Video compression", kCmdVideoCompression, false},
    {"Chroma", "Chroma keying", kCmdChromaKeying, false},
    {"Datarate", "Video data rate", kCmdDataRate, false},
    {"KbCutoff", "File size cutoff", kCmdFileSizeCutoff, false},
    {"Audio", "Audio options", kCmdAudioOptions, false},
    {"Padding", "CD-ROM padding", kCmdPadding, true},
    {"WindowOutput", "Show / goto output window", kCmdGotoOutput, false},
    {"WindowError", "Show / goto error window", kCmdGotoError, false},
    {"WindowFilter", "Show / goto filter window", kCmdGotoFilter, false},
    {"WindowDataRate", "Show / goto datarate window", kCmdGotoDataRate, true},
    {"HideFilter", "Toggle filtering in filter window", kCmdShowFiltering, false},
}};

// The enable rule of a command (toolbar rules; menu entries follow the same rules). Commands
// without a rule are always enabled.
bool commandEnabled(int command, const CommandState& state);

}  // namespace zov
