// The dialog "Input AVI File List": the process's list of source AVI files (segments), each with
// its own extraction settings, built, reordered, saved and loaded in place (there is no undo).
#pragma once

#include <QDialog>
#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <vector>

class QListWidget;
class QPushButton;
class QCheckBox;
class QLabel;

namespace zov {

class SourceFile;
struct CompressorOptions;

// The process's source list as the main window keeps it.
struct EditListContext {
  std::vector<std::unique_ptr<SourceFile>>* segments = nullptr;
  CompressorOptions* options =
      nullptr;  // "ShowInputAVIThumbnails", "SourceFilePath", "IniFilePath"
};

// Runs the dialog modally over parent. Returns 1 for "Ok!" (also "&Open / Edit" and a double
// click) and 0 for "Cancel"; either way the list stays as edited and `current` is the index of
// the segment that becomes current (the selected one, or 0), whose CurrentFrame is the frame to
// show. An empty list means every source is closed.
int runEditListDialog(QWidget* parent, const EditListContext& context, size_t& current);

class EditListDialog : public QDialog {
  Q_OBJECT
 public:
  // The file dialogs: (title, filter, default extension, folder) -> chosen path or "" when
  // cancelled. Tests replace them.
  using OpenFileQuestion =
      std::function<std::string(const std::string& title, const std::string& folder)>;
  using SaveFileQuestion = OpenFileQuestion;

  EditListDialog(QWidget* parent, const EditListContext& context);
  ~EditListDialog() override;

  // The segment that becomes current when the dialog ends.
  size_t currentSegment() const;

  QListWidget* list() const { return list_; }
  QLabel* caption() const { return caption_; }
  QCheckBox* thumbnailsBox() const { return thumbnails_; }
  QPushButton* button(const char* text) const;

  // Replace the "Open" file question of "&Add..." / "&Insert..." and the two edit-list questions.
  void setOpenSourceQuestion(OpenFileQuestion q) { openSource_ = std::move(q); }
  void setSaveListQuestion(SaveFileQuestion q) { saveList_ = std::move(q); }
  void setLoadListQuestion(OpenFileQuestion q) { loadList_ = std::move(q); }

  void add();
  void insert();
  void remove();
  void saveList();
  void loadList();

 private:
  void refill(int select);
  void updateButtons();
  void addAt(size_t index);

  EditListContext context_;
  QListWidget* list_ = nullptr;
  QLabel* caption_ = nullptr;
  QCheckBox* thumbnails_ = nullptr;
  std::vector<QPushButton*> buttons_;
  OpenFileQuestion openSource_;
  SaveFileQuestion saveList_;
  OpenFileQuestion loadList_;
};

}  // namespace zov
