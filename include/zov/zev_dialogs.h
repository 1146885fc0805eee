// The network movie source's dialogs as data for a dialog host (platform/ui.h): the site and
// movie choices (modal) and the loading and cache status progress dialogs (modeless).
//
// The source lives inside the codec library and reaches a host's dialogs through the host the
// program installed with ZOVSetUiHost; the records are exported so that hosts can find them with
// dynamic_cast.
#pragma once

#include <atomic>
#include <functional>
#include <string>
#include <vector>

#include "platform/ui.h"
#include "zov/zovcod32.h"

namespace zov::network {

// Dialog names as the host receives them, and the dialogs' controls.
inline constexpr char kSiteDialog[] = "ZEVSite";
inline constexpr char kMovieDialog[] = "ZEVMovie";
inline constexpr char kLoadingDialog[] = "Loading Video...";
inline constexpr char kCacheStatusDialog[] = "ZEVCacheStatus";
inline constexpr int kSiteCombo = 4060;
inline constexpr int kMovieList = 4058;
inline constexpr int kLoadingProgress = 4117;
inline constexpr int kCacheProgress = 4118;

// Site dialog: the recall list (most recent first) and the edit text the user leaves. OK is
// offered only while the text is not empty.
struct ZOVCOD32_API SiteDialogData : DialogData {
  std::vector<std::string> recall;
  std::string text;  // starts as the first recall entry
};

// Movie dialog: the names the server listed and the one chosen.
struct ZOVCOD32_API MovieDialogData : DialogData {
  std::vector<std::string> movies;
  int selected = 0;  // index into movies; -1 for no selection
};

// A modeless progress dialog: whether the source has it open, and its bar (control `bar`,
// 0..rangeMax). The source updates the fields from its own threads; hosts read them. A host of
// the cache status dialog calls refresh every refreshMs (on its window thread) to bring the bar
// up to date; the loading dialog is updated by the source itself (updateModelessDialog).
// A dialog with `cancellable` offers Cancel: the host sets `cancelled` when the user presses
// it (or closes the dialog), and the source ends what it was doing.
struct ZOVCOD32_API ProgressDialogData : DialogData {
  explicit ProgressDialogData(int barControl) : bar(barControl) {}

  const int bar;
  std::atomic<bool> open{false};
  std::atomic<int> rangeMax{100};
  std::atomic<int> position{0};
  int refreshMs = 0;
  std::function<void()> refresh;
  bool cancellable = false;
  std::atomic<bool> cancelled{false};
};

}  // namespace zov::network
