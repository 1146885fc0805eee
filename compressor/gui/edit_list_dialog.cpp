#include "compressor/gui/edit_list_dialog.h"

#include <QCheckBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QPainter>
#include <QPushButton>
#include <QVBoxLayout>

#include "compressor/edit_list.h"
#include "compressor/gui/config_frame_image.h"
#include "encoder/compression_settings.h"
#include "media/source_file.h"
#include "platform/ui.h"

namespace zov {

namespace {

constexpr int kThumbWidth = 64, kThumbHeight = 48;
const char* const kButtonTexts[] = {"&Add...",       "&Remove",       "&Insert...", "&Open / Edit",
                                    "&Load List...", "&Save List...", "Ok!",        "Cancel"};
enum { kAdd, kRemove, kInsert, kOpenEdit, kLoad, kSave, kOk, kCancel };

// The "QUESTION" picture shown while a segment has no thumbnail.
QPixmap questionPicture() {
  QPixmap pixmap(kThumbWidth, kThumbHeight);
  pixmap.fill(Qt::lightGray);
  QPainter painter(&pixmap);
  QFont font = painter.font();
  font.setPixelSize(kThumbHeight * 2 / 3);
  font.setBold(true);
  painter.setFont(font);
  painter.drawText(pixmap.rect(), Qt::AlignCenter, "?");
  return pixmap;
}

QPixmap thumbnailOf(SourceFile& segment) {
  // A segment's current frame is the file's frame number the input window showed.
  uint32_t frame = segment.CurrentFrame.load();
  std::vector<uint16_t> pixels;
  int w = 0, h = 0;
  if (!fetchFrame15(segment, frame, pixels, w, h, true)) return questionPicture();
  QImage image = imageFrom15Bit(pixels.data(), w, h);
  return QPixmap::fromImage(
      image.scaled(kThumbWidth, kThumbHeight, Qt::KeepAspectRatio, Qt::SmoothTransformation));
}

// The file dialogs of the list, in Qt's own form so they look alike on every desktop.
std::string askOpen(QWidget* parent, const std::string& title, const std::string& folder,
                    const char* filter) {
  return QFileDialog::getOpenFileName(parent, QString::fromStdString(title),
                                      QString::fromStdString(folder), filter, nullptr,
                                      QFileDialog::DontUseNativeDialog)
      .toStdString();
}

}  // namespace

EditListDialog::EditListDialog(QWidget* parent, const EditListContext& context)
    : QDialog(parent), context_(context) {
  setWindowTitle("Input AVI File List");
  openSource_ = [this](const std::string& title, const std::string& folder) {
    return askOpen(this, title, folder, "Video Files (*.avi)");
  };
  loadList_ = [this](const std::string& title, const std::string& folder) {
    return askOpen(this, title, folder, "Edit List Files (*.ini)");
  };
  saveList_ = [this](const std::string& title, const std::string& folder) {
    QFileDialog dialog(this, QString::fromStdString(title), QString::fromStdString(folder),
                       "Edit List Files (*.ini)");
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setDefaultSuffix("INI");
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
      return std::string();
    return dialog.selectedFiles().front().toStdString();
  };

  auto* layout = new QGridLayout(this);
  // The list's own label is replaced by the caption that tells the thumbnail switch.
  caption_ = new QLabel(this);
  layout->addWidget(caption_, 1, 0);
  list_ = new QListWidget(this);
  list_->setAccessibleName("Source AVI Files:");
  list_->setIconSize(QSize(kThumbWidth, kThumbHeight));
  list_->setMinimumSize(520, 300);
  list_->setWordWrap(false);
  layout->addWidget(list_, 2, 0);
  auto* buttons = new QVBoxLayout;
  for (const char* text : kButtonTexts) {
    auto* b = new QPushButton(text, this);
    b->setAutoDefault(false);
    buttons_.push_back(b);
    buttons->addWidget(b);
    if (buttons_.size() == size_t(kLoad) + 1) buttons->addSpacing(12);
  }
  buttons_[kOk]->setDefault(true);
  buttons->addStretch(1);
  layout->addLayout(buttons, 2, 1);
  thumbnails_ = new QCheckBox("Show &Thumbnails", this);
  layout->addWidget(thumbnails_, 3, 0);
  thumbnails_->setChecked(context_.options->ShowInputAVIThumbnails);

  connect(buttons_[kAdd], &QPushButton::clicked, this, [this] { add(); });
  connect(buttons_[kInsert], &QPushButton::clicked, this, [this] { insert(); });
  connect(buttons_[kRemove], &QPushButton::clicked, this, [this] { remove(); });
  connect(buttons_[kOpenEdit], &QPushButton::clicked, this, [this] {
    if (list_->currentRow() < 0) {
      messageBeep(MB_OK);
      return;
    }
    done(1);
  });
  connect(list_, &QListWidget::itemDoubleClicked, this, [this] { done(1); });
  connect(buttons_[kSave], &QPushButton::clicked, this, [this] { saveList(); });
  connect(buttons_[kLoad], &QPushButton::clicked, this, [this] { loadList(); });
  connect(buttons_[kOk], &QPushButton::clicked, this, [this] { done(1); });
  connect(buttons_[kCancel], &QPushButton::clicked, this, [this] { done(0); });
  connect(thumbnails_, &QCheckBox::toggled, this, [this](bool on) {
    context_.options->ShowInputAVIThumbnails = on;
    refill(list_->currentRow());
  });
  refill(context_.segments->empty() ? -1 : 0);
}

EditListDialog::~EditListDialog() = default;

QPushButton* EditListDialog::button(const char* text) const {
  for (QPushButton* b : buttons_) {
    if (b->text() == text) return b;
  }
  return nullptr;
}

size_t EditListDialog::currentSegment() const {
  int row = list_->currentRow();
  return row >= 0 && size_t(row) < context_.segments->size() ? size_t(row) : 0;
}

void EditListDialog::refill(int select) {
  bool thumbnails = thumbnails_->isChecked();
  caption_->setText(QString::fromStdString(editListCaption(thumbnails)));
  list_->clear();
  for (const std::unique_ptr<SourceFile>& segment : *context_.segments) {
    auto* item = new QListWidgetItem(QString::fromStdString(editListLineText(*segment)), list_);
    if (thumbnails) item->setIcon(thumbnailOf(*segment));
  }
  if (select >= list_->count()) select = list_->count() - 1;
  list_->setCurrentRow(select);
  updateButtons();
}

void EditListDialog::updateButtons() {
  bool any = !context_.segments->empty();
  for (int b : {kRemove, kOpenEdit, kInsert, kSave}) buttons_[size_t(b)]->setEnabled(any);
}

void EditListDialog::add() {
  addAt(context_.segments->size());
}

void EditListDialog::insert() {
  int row = list_->currentRow();
  if (row < 0) {
    messageBeep(MB_ICONHAND);
    return;
  }
  addAt(size_t(row));
}

void EditListDialog::addAt(size_t index) {
  std::string path = openSource_("Open", context_.options->SourceFilePath);
  if (path.empty()) return;
  std::unique_ptr<SourceFile> segment = openSegment(path);
  if (!segment) return;
  auto& segments = *context_.segments;
  index = std::min(index, segments.size());
  segments.insert(segments.begin() + std::ptrdiff_t(index), std::move(segment));
  refill(int(index));
}

void EditListDialog::remove() {
  int row = list_->currentRow();
  auto& segments = *context_.segments;
  if (row < 0 || size_t(row) >= segments.size()) {
    messageBeep(MB_ICONHAND);
    return;
  }
  segments.erase(segments.begin() + row);
  refill(segments.empty() ? -1 : std::min(row, int(segments.size()) - 1));
}

void EditListDialog::saveList() {
  auto& segments = *context_.segments;
  if (segments.empty()) {
    messageBeep(MB_ICONHAND);
    return;
  }
  std::string path = saveList_("Save Edit List As", context_.options->IniFilePath);
  if (path.empty()) return;
  context_.options->IniFilePath =
      QFileInfo(QString::fromStdString(path)).absolutePath().toStdString();
  std::vector<SourceFile*> list;
  for (auto& s : segments) list.push_back(s.get());
  saveEditList(path, list);
}

void EditListDialog::loadList() {
  std::string path = loadList_("Load Edit List", context_.options->IniFilePath);
  if (path.empty()) return;
  context_.options->IniFilePath =
      QFileInfo(QString::fromStdString(path)).absolutePath().toStdString();
  auto loaded = loadEditList(path);
  if (!loaded) return;
  *context_.segments = std::move(*loaded);
  refill(context_.segments->empty() ? -1 : 0);
}

int runEditListDialog(QWidget* parent, const EditListContext& context, size_t& current) {
  EditListDialog dialog(parent, context);
  int result = dialog.exec() == 1 ? 1 : 0;
  current = dialog.currentSegment();
  return result;
}

}  // namespace zov
