// The codec's dialogs as data for a dialog host (platform/ui.h), and the way a host hands the
// codec library its message-box sink and dialog host.
//
// The codec library keeps its own copy of the platform layer, so a program that wants to see the
// codec's boxes and dialogs installs its sink and host in the library with ZOVSetUiHost (the
// Qt programs do so at start; tests install recorders). The dialogs' logic (initial control
// states, enabling rules, scroll bars, what OK stores) lives in these records; a host shows the
// controls, forwards clicks to the member functions and ends the dialog with IDOK or IDCANCEL.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <string>

#include "platform/ui.h"
#include "zov/zovcod32.h"

namespace zov::codec {

// What ZOVMCIWndConfigure needs of a host's frame window and the movie window inside it (the
// MCI window of the original platform). The host passes a pointer to its implementation as the
// frame window.
class ZOVCOD32_API MovieFrameHost {
 public:
  virtual ~MovieFrameHost() = default;
  virtual ZOVRect movieSource() = 0;  // the movie's source rectangle
  virtual ZOVRect movieDestination() = 0;
  virtual void putMovieDestination(const ZOVRect& rect) = 0;
  // Height of the movie window's toolbar child, or -1 when it has none.
  virtual int toolbarHeight() = 0;
  // The frame rectangle around a client rectangle, for the frame's style with a menu.
  virtual ZOVRect adjustFrameRect(const ZOVRect& client) = 0;
  // The frame's normal (restored) position.
  virtual ZOVRect normalPosition() = 0;
  virtual void setNormalPosition(const ZOVRect& rect) = 0;
  virtual void invalidateAndUpdate() = 0;
};

}  // namespace zov::codec

extern "C" {
// Resizes the host's frame around its movie window, after the configuration dialog when
// `configure` is non-zero; frameWindow is a zov::codec::MovieFrameHost*. Returns 0, or the
// style or configuration result that stopped it.
ZOVCOD32_API uint32_t ZOVMCIWndConfigure(void* frameWindow, void* mciWindow, int configure);
// Installs the sink for the codec's message boxes and the host for its dialogs (null: the
// defaults, boxes on stderr and dialogs answering Cancel). Both must outlive their use.
ZOVCOD32_API void ZOVSetUiHost(zov::MessageBoxSink* sink, zov::DialogHost* host);
}

namespace zov::codec {

// Dialog names as the host receives them (the dialogs' captions).
inline constexpr const char* kAboutDialog = "About the Orvane Codec";            // 101
inline constexpr const char* kStatusDialog = "Orvane Status";                    // 103
inline constexpr const char* kConfigurationDialog = "ZOV Configuration";         // 104
inline constexpr const char* kAdvancedDialog = "ZOV Advanced Configuration";     // 105
inline constexpr const char* kHiColorDialog = "Orvane: Display is not HiColor";  // 106

struct ControlState {
  bool checked = false;
  bool enabled = true;
  std::string text;
};

// Dialog 101: a logo, the version line and the button "Wow!" (command 1).
struct ZOVCOD32_API AboutDialogData : DialogData {
  std::string versionLine = "Version 4.11";
  std::string buttonText = "Wow!";
};

// Dialog 106, shown at driver load on a display that is not 15 or 16 bits deep.
struct ZOVCOD32_API HiColorDialogData : DialogData {
  std::array<std::string, 3> lines = {"Your display is not currently in HiColor mode.",
                                      "Orvane looks and plays video MUCH better in HiColor.",
                                      "Please set your display to HiColor (15 or 16-bit) mode."};
  std::string checkBoxText = "&Don't show me this message again";  // control 4011
  bool dontShowAgain = false;
};

// Dialog 103: the processor (control 4022) and whether extended output was used (4002).
struct ZOVCOD32_API StatusDialogData : DialogData {
  std::string processor;  // "Pentium MMX" ...; empty keeps the dialog's own text
  std::string fastVideo;  // "Yes" or "No"
};

// Dialog 105, on the data of dialog 104.
class ZOVCOD32_API AdvancedDialogData : public DialogData {
 public:
  enum Control : int {
    kAdapterList = 4017,
    kDetectChipset = 3304,
    kNoCache = 3301,
    kDisableAutoResizing = 3303,
    kSaveVideoState = 4015,
    kInterpolate = 4019,
    kDisableLinearVideo = 4020,
    kGammaBar = 3310,
    kGammaText = 3311,
    kBrightnessBar = 3312,
    kBrightnessText = 3313,
    kResetTone = 3314,
  };
  enum class Scroll { LineUp, LineDown, PageUp, PageDown, Thumb };

  // Values edited (in and out).
  uint32_t videoManufacturer = 0;
  uint32_t videoChipset = 1;
  bool noCache = false;
  bool disableAutoResizing = false;
  bool saveVideoState = false;
  bool interpolate = false;
  bool disableLinearVideo = false;
  int brightness = 0;
  int gammaIndex = 40;

  // Control states after initialise().
  std::map<int, ControlState> controls;
  int adapterSelection = 0;
  int brightnessPosition = 0;  // -15..15
  int gammaPosition = 0;       // -40..40

  static int adapterCount();
  static const char* adapterName(int entry);
  static int adapterCode(int entry);  // manufacturer * 256 + chipset

  void initialise();
  void setCheck(int control, bool checked) { controls[control].checked = checked; }
  // A scroll bar event on kBrightnessBar or kGammaBar; thumb gives the new position.
  void scroll(int bar, Scroll action, int thumb = 0);
  void resetTone();
  // Stores the controls into the values (OK). Cancel stores nothing.
  void ok();
};

// Dialog 104.
class ZOVCOD32_API ConfigurationDialogData : public DialogData {
 public:
  enum Control : int {
    kWindowedFirst = 1000,  // 1000..1012: method = id - 1000
    kFullscreenFirst = 2000,
    kResolutionFirst = 3000,  // 3000..3004
    kUseHardware = 3050,
    kAdvanced = 3100,
  };

  int windowedMethod = 0;
  int fullscreenMethod = 0;
  int resolution = 2;
  bool useHardware = false;
  AdvancedDialogData advanced;
  // The stream flags of the first instance and the display depth decide what may be chosen.
  uint32_t streamFlags = 0;
  bool display8Bit = false;

  std::map<int, ControlState> controls;

  void initialise();
  // Checks one radio button and clears the others of its group.
  void select(int control);
  void setUseHardware(bool checked);  // the check box was clicked into this state
  // Runs dialog 105 over owner on the advanced values; they change only on its OK.
  intptr_t openAdvanced(WindowHandle owner);
  void ok();

 private:
  void applyUseHardware();
};

}  // namespace zov::codec
