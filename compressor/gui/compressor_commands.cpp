#include "compressor/gui/compressor_commands.h"

namespace zov {

int configurationPageOf(int command) {
  switch (command) {
    case kCmdExtractCrop:
      return 0;
    case kCmdFiltering:
      return 1;
    case kCmdVideoCompression:
      return 2;
    case kCmdChromaKeying:
      return 3;
    case kCmdDataRate:
      return 4;
    case kCmdFileSizeCutoff:
      return 5;
    case kCmdAudioOptions:
      return 6;
    case kCmdPadding:
      return 7;
    default:
      return -1;
  }
}

bool commandEnabled(int command, const CommandState& s) {
  const bool sources = s.sourceCount > 0;
  switch (command) {
    case kCmdOpen:
      return !s.compressing && s.sourceCount <= 1;
    case kCmdMultiple:
      return !s.compressing;
    case kCmdCompressAs:
      return sources && !s.compressing && !s.allSourcesZov2;
    case kCmdNoRecompression:
      return sources && !s.compressing && s.allSourcesZov2;
    case kCmdFiltering:
    case kCmdVideoCompression:
    case kCmdChromaKeying:
    case kCmdDataRate:
      return sources && !s.compressing && !s.currentSourceZov2;
    case kCmdExtractCrop:
    case kCmdFileSizeCutoff:
    case kCmdAudioOptions:
    case kCmdPadding:
    case kCmdAllSettings:
      return sources && !s.compressing;
    case kCmdShowFiltering:
      return s.filterViewExists;
    // Menu entries beyond the toolbar.
    case kCmdClose:
      return s.sourceCount == 1 && !s.compressing;
    case kCmdSuspend:
    case kCmdStop:
      return s.compressing;
    case kCmdSaveCommandLine:
      return sources;
    case kCmdNextSegment:
    case kCmdPreviousSegment:
      return s.sourceCount > 1 && !s.compressing;
    default:
      if (command >= kCmdRecall1 && command < kCmdRecall1 + 8)
        return !s.compressing && s.sourceCount <= 1;
      return true;
  }
}

}  // namespace zov
