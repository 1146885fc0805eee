// Page 1, "Video Filtering": the working filter list ("Current Filter List:"), its four buttons
// and, for sources that are not ZOV2, the before/after preview.
#pragma once

#include <functional>

#include "compressor/filter_list.h"
#include "compressor/gui/config_page.h"

class QListWidget;
class QPushButton;

namespace zov {

class FilterPreview;
struct CompressorOptions;

class FilterPage : public ConfigPage {
  Q_OBJECT
 public:
  FilterPage(QWidget* parent, ConfigWorkingCopy& copy, const ConfigurationContext& context);

  void store() override;
  bool resetOnScreen() override;

  // The selection dialog (combined kind and level, or -1) and a kind's level dialog (the level,
  // or the kind's minimum minus 1); tests replace them.
  std::function<int32_t(QWidget*)> selectFilter;
  std::function<int32_t(QWidget*, int32_t kind)> editLevel;

  QListWidget* list() const { return list_; }
  FilterPreview* preview() const { return preview_; }  // null for ZOV2 sources
  QPushButton* addButton() const { return add_; }
  QPushButton* insertButton() const { return insert_; }
  QPushButton* editButton() const { return edit_; }
  QPushButton* deleteButton() const { return delete_; }

 private:
  void addFilter();
  void insertFilter();
  void editFilter();
  void deleteFilter();
  void showModel();

  FilterListPage model_;
  QListWidget* list_ = nullptr;
  QPushButton* add_ = nullptr;
  QPushButton* insert_ = nullptr;
  QPushButton* edit_ = nullptr;
  QPushButton* delete_ = nullptr;
  FilterPreview* preview_ = nullptr;
  bool showing_ = false;
};

}  // namespace zov
