// The compressor's configuration dialog, "Compressor Configuration [Tessel Studio LE - 4.11]":
// eight tab pages over a working copy of the compression settings, the options the pages edit,
// the filter list and the current source's extraction fields. Nothing changes until "Ok!".
#pragma once

#include <QDialog>
#include <cstdint>
#include <functional>
#include <memory>

#include "encoder/compression_settings.h"

class QTabBar;
class QPushButton;
class QVBoxLayout;

namespace zov {

class SourceFile;
class ConfigWorkingCopy;
class ConfigPage;

// What the dialog edits besides the settings record: the options (the filter list, the audio,
// size and padding options, "TabSettingsLastActive", the preview's zoom and position) and the
// current source, whose extraction fields page 0 edits and whose frame the previews show.
struct ConfigurationContext {
  CompressionSettings* settings = nullptr;
  CompressorOptions* options = nullptr;
  SourceFile* source = nullptr;  // null: no source open (page 0 shows nothing to edit)
  uint32_t currentFrame = 0;     // the input window's frame, relative to ExtractionStart
  // Every source of the list is a ZOV2 file (filters are not applied to such sources).
  bool allSourcesZov2 = false;
};

// Opens the dialog modally over parent. startPage (0..7) becomes "TabSettingsLastActive" unless
// it is -1. Returns 1 when the user pressed "Ok!" (everything committed) and 0 otherwise (nothing
// changed but the preview's zoom and position and the filter dialogs' last choices).
int runConfigurationDialog(QWidget* parent, const ConfigurationContext& context,
                           int startPage = -1);

// The dialog itself, for the window tests and the screenshot program.
class ConfigurationDialog : public QDialog {
  Q_OBJECT
 public:
  // The preset question of "Restore ALL pages to &defaults" and of the compression page: 0 video,
  // 1 smoke/clouds/rain, 2 animation, -1 cancelled. Tests replace the dialog that asks it.
  using PresetQuestion = std::function<int(QWidget* parent)>;

  ConfigurationDialog(QWidget* parent, const ConfigurationContext& context);
  ~ConfigurationDialog() override;

  int currentPageIndex() const { return pageIndex_; }
  ConfigPage* currentPage() const { return page_; }
  // Asks the page on screen to validate and, when it accepts, shows another page (as a click on
  // the tab does). False when the page on screen refused.
  bool selectPage(int index);
  QTabBar* tabBar() const { return tabs_; }
  QPushButton* okButton() const { return ok_; }
  QPushButton* cancelButton() const { return cancel_; }
  QPushButton* restorePageButton() const { return restorePage_; }
  QPushButton* restoreAllButton() const { return restoreAll_; }
  ConfigWorkingCopy& workingCopy() { return *copy_; }

  void setPresetQuestion(PresetQuestion question);
  const PresetQuestion& presetQuestion() const { return presetQuestion_; }

 private:
  void onTabChanged(int index);
  void onOk();
  void onCancel();
  void onRestorePage();
  void onRestoreAll();
  void showPage(int index);
  void destroyPage();
  void orderTabStops();

  ConfigurationContext context_;
  std::unique_ptr<ConfigWorkingCopy> copy_;
  QTabBar* tabs_ = nullptr;
  QVBoxLayout* pageArea_ = nullptr;
  ConfigPage* page_ = nullptr;
  int pageIndex_ = -1;
  bool switching_ = false;
  QPushButton* ok_ = nullptr;
  QPushButton* cancel_ = nullptr;
  QPushButton* restorePage_ = nullptr;
  QPushButton* restoreAll_ = nullptr;
  PresetQuestion presetQuestion_;
};

// The dialog "Compression Defaults": its three preset buttons and "Cancel". Returns the preset
// (0 video, 1 smoke/clouds/rain, 2 animation) or -1.
int askCompressionPreset(QWidget* parent);

}  // namespace zov
