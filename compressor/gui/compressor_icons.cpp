#include "compressor/gui/compressor_icons.h"

#include <cstring>

#include "compressor/gui/compressor_commands.h"
#include "platform/qt/desktop_icons.h"

namespace zov {

namespace {

struct NamedIcon {
  const char* name;
  const char* theme;    // freedesktop name, "" for our drawing alone
  const char* drawing;  // platform/qt/icons
};

constexpr NamedIcon kIcons[] = {
    // The toolbar.
    {"FileOpen", "document-open", "open"},
    {"ControlMultiple", "", "multiple"},
    {"FileSave", "document-save-as", "compress-as"},
    {"NoRecompress", "", "no-recompress"},
    {"ExtractCrop", "transform-crop", "extract-crop"},
    {"Filtering", "view-filter", "filter"},
    {"Compression", "", "compression"},
    {"Chroma", "", "chroma"},
    {"Datarate", "", "data-rate"},
    {"KbCutoff", "", "size-cutoff"},
    {"Audio", "audio-volume-high", "audio"},
    {"Padding", "media-optical", "padding"},
    {"WindowOutput", "", "view-output"},
    {"WindowError", "", "view-error"},
    {"WindowFilter", "", "view-filter"},
    {"WindowDataRate", "", "view-data-rate"},
    {"HideFilter", "", "show-filtering"},
    // The input window's buttons.
    {"BmpLeft", "go-previous", "previous"},
    {"BmpRight", "go-next", "next"},
    {"BmpMarkIn", "", "mark-in"},
    {"BmpMarkOut", "", "mark-out"},
    // The views.
    {"AFrame", "com.orvane.zovcomp", "zovcomp"},
    {"Input", "", "input"},
    {"Output", "", "view-output"},
    {"Filter", "", "view-filter"},
    {"RMS", "", "view-error"},
    {"Messages", "", "messages"},
    {"DataRate", "", "view-data-rate"},
    // Menu items without a button.
    {"Close", "window-close", "close"},
    {"Suspend", "media-playback-pause", "pause"},
    {"Stop", "process-stop", "stop"},
    {"CommandLine", "utilities-terminal", "command-line"},
    {"Exit", "application-exit", "exit"},
    {"Settings", "preferences-system", "settings"},
    {"PreviousSegment", "media-skip-backward", "skip-backward"},
    {"NextSegment", "media-skip-forward", "skip-forward"},
    {"FirstFrame", "go-first", "first"},
    {"Back15", "media-seek-backward", "seek-backward"},
    {"Forward15", "media-seek-forward", "seek-forward"},
    {"LastFrame", "go-last", "last"},
    {"GotoFrame", "go-jump", "goto"},
    {"Help", "help-contents", "help"},
    {"About", "help-about", "about"},
};

struct CommandPicture {
  int command;
  const char* name;
};

constexpr CommandPicture kCommandPictures[] = {
    {kCmdMultiple, "ControlMultiple"},
    {kCmdOpen, "FileOpen"},
    {kCmdClose, "Close"},
    {kCmdCompressAs, "FileSave"},
    {kCmdNoRecompression, "NoRecompress"},
    {kCmdSuspend, "Suspend"},
    {kCmdStop, "Stop"},
    {kCmdSaveCommandLine, "CommandLine"},
    {kCmdExit, "Exit"},
    {kCmdAllSettings, "Settings"},
    {kCmdExtractCrop, "ExtractCrop"},
    {kCmdFiltering, "Filtering"},
    {kCmdVideoCompression, "Compression"},
    {kCmdChromaKeying, "Chroma"},
    {kCmdDataRate, "Datarate"},
    {kCmdFileSizeCutoff, "KbCutoff"},
    {kCmdAudioOptions, "Audio"},
    {kCmdPadding, "Padding"},
    {kCmdPreviousSegment, "PreviousSegment"},
    {kCmdNextSegment, "NextSegment"},
    {kCmdFirstFrame, "FirstFrame"},
    {kCmdBack15, "Back15"},
    {kCmdPreviousFrame, "BmpLeft"},
    {kCmdNextFrame, "BmpRight"},
    {kCmdForward15, "Forward15"},
    {kCmdLastFrame, "LastFrame"},
    {kCmdGotoFrame, "GotoFrame"},
    {kCmdHelp, "Help"},
    {kCmdAbout, "About"},
};

}  // namespace

QIcon compressorIcon(const char* name) {
  for (const NamedIcon& i : kIcons)
    if (std::strcmp(i.name, name) == 0)
      return desktopIcon(QString::fromLatin1(i.theme), QString::fromLatin1(i.drawing));
  return {};
}

QIcon commandIcon(int command) {
  for (const CommandPicture& c : kCommandPictures)
    if (c.command == command) return compressorIcon(c.name);
  return {};
}

}  // namespace zov
