#include "compressor/gui/goto_frame_dialog.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpressionValidator>
#include <QVBoxLayout>
#include <algorithm>
#include <cctype>

#include "compressor/settings_file.h"

namespace zov {

uint32_t gotoFrameTarget(const std::string& text, uint32_t frameCount) {
  // "%lu": leading blanks, then digits; a value too large for 32 bits saturates.
  size_t i = 0;
  while (i < text.size() && std::isspace(uint8_t(text[i]))) ++i;
  uint64_t v = 0;
  for (; i < text.size() && std::isdigit(uint8_t(text[i])); ++i)
    v = std::min<uint64_t>(v * 10 + uint64_t(text[i] - '0'), 0xFFFFFFFFull);
  uint32_t frame = uint32_t(v);
  if (frame == 0) frame = 1;
  if (frame > frameCount) frame = frameCount;
  return frame;
}

GotoFrameDialog::GotoFrameDialog(QWidget* parent, uint32_t current, uint32_t frameCount,
                                 uint32_t last)
    : QDialog(parent), frameCount_(frameCount) {
  setWindowTitle("ZOVComp - Goto Frame");
  auto* layout = new QVBoxLayout(this);
  auto* form = new QFormLayout;
  form->addRow(new QLabel("Current Frame:", this), new QLabel(QString::number(current), this));
  form->addRow(new QLabel("Total Frames", this), new QLabel(QString::number(frameCount), this));
  edit_ = new QLineEdit(QString::number(last ? last : 1), this);
  edit_->setValidator(new QRegularExpressionValidator(QRegularExpression("[0-9]*"), edit_));
  edit_->selectAll();
  form->addRow(edit_);
  layout->addLayout(form);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  buttons->button(QDialogButtonBox::Ok)->setText("OK");
  buttons->button(QDialogButtonBox::Cancel)->setText("Cancel");
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  layout->addWidget(buttons);
}

uint32_t GotoFrameDialog::target() const {
  return gotoFrameTarget(edit_->text().toStdString(), frameCount_);
}

std::optional<uint32_t> runGotoFrameDialog(QWidget* parent, uint32_t current, uint32_t frameCount,
                                           const std::string& settingsFile) {
  GotoFrameDialog dialog(parent, current, frameCount, readGotoFrame(settingsFile, kGeneralSection));
  if (dialog.exec() != QDialog::Accepted) return std::nullopt;
  const uint32_t frame = dialog.target();
  writeGotoFrame(settingsFile, kGeneralSection, frame);
  return frame;
}

}  // namespace zov
