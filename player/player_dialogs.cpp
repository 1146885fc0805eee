#include "player/player_dialogs.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QTimer>
#include <QVBoxLayout>

#include "platform/profile.h"
#include "platform/qt/qt_platform.h"
#include "platform/ui.h"
#include "player/player_controller.h"
#include "zov/version.h"

namespace zov::player {

namespace {

constexpr uint32_t kSpeeds[5] = {0, 2500, 5000, 7500, 10000};

QDialogButtonBox* okCancel(QDialog* dialog) {
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, dialog);
  QObject::connect(buttons, &QDialogButtonBox::accepted, dialog, &QDialog::accept);
  QObject::connect(buttons, &QDialogButtonBox::rejected, dialog, &QDialog::reject);
  return buttons;
}

uint32_t number(const QLineEdit* edit) {
  uint32_t v = 0;
  return parseProfileUnsigned(edit->text().toStdString(), v) ? v : 0;
}

}  // namespace

OptionsDialog::OptionsDialog(const PlayerSettings& s, QWidget* parent) : QDialog(parent) {
  setObjectName("DlgOptions");
  setWindowTitle("Player Options");
  auto* layout = new QVBoxLayout(this);
  auto* group = new QGroupBox("Rewind and Fast Forward Speed", this);
  auto* groupLayout = new QVBoxLayout(group);
  const char* labels[5] = {"As &fast as possible without skipping frames", "&2.5x", "&5x", "&7.5x",
                           "&10x"};
  for (int i = 0; i < 5; ++i) {
    speeds_[i] = new QRadioButton(labels[i], group);
    speeds_[i]->setObjectName(QString::number(400 + i));
    speeds_[i]->setChecked(s.rewFFSpeed == kSpeeds[i]);
    groupLayout->addWidget(speeds_[i]);
  }
  layout->addWidget(group);
  auto box = [&](const char* text, int id, bool checked) {
    auto* c = new QCheckBox(text, this);
    c->setObjectName(QString::number(id));
    c->setChecked(checked);
    layout->addWidget(c);
    return c;
  };
  rewFFMute_ = box("&Mute audio during rewind and fast forward", 405, s.rewFFMute);
  slowMoMute_ = box("M&ute audio during slow motion", 5016, s.slowMoMute);
  autoLoop_ = box("Auto &loop video", 5010, s.autoLoop);
  alwaysOnTop_ = box("Always on &top", 5011, s.alwaysOnTop);
  boostPriority_ = box("&Boost priority while playing", 5015, s.boostPriority);
  layout->addWidget(okCancel(this));
}

QCheckBox* OptionsDialog::checkBox(int id) const {
  return findChild<QCheckBox*>(QString::number(id));
}

void OptionsDialog::store(PlayerSettings& s) const {
  for (int i = 0; i < 5; ++i)
    if (speeds_[i]->isChecked()) s.rewFFSpeed = kSpeeds[i];
  s.rewFFMute = rewFFMute_->isChecked();
  s.slowMoMute = slowMoMute_->isChecked();
  s.autoLoop = autoLoop_->isChecked();
  s.alwaysOnTop = alwaysOnTop_->isChecked();
  s.boostPriority = boostPriority_->isChecked();
}

GotoDialog::GotoDialog(uint32_t gotoFrame, long total, std::function<long()> current,
                       QWidget* parent)
    : QDialog(parent), currentFrame_(std::move(current)) {
  setObjectName("DlgGotoFrame");
  setWindowTitle("Goto Frame");
  auto* grid = new QGridLayout(this);
  grid->addWidget(new QLabel("Current frame:", this), 0, 0);
  current_ = new QLabel(this);
  grid->addWidget(current_, 0, 1);
  grid->addWidget(new QLabel("Total frames:", this), 1, 0);
  grid->addWidget(new QLabel(QString::number(total), this), 1, 1);
  auto* gotoLabel = new QLabel("&Goto frame:", this);
  edit_ = new QLineEdit(QString::number(gotoFrame), this);
  gotoLabel->setBuddy(edit_);  // Alt+G goes to the field; the label shows its mnemonic
  grid->addWidget(gotoLabel, 2, 0);
  grid->addWidget(edit_, 2, 1);
  grid->addWidget(okCancel(this), 3, 0, 1, 2);
  refresh();
  auto* timer = new QTimer(this);
  connect(timer, &QTimer::timeout, this, &GotoDialog::refresh);
  timer->start(500);
}

void GotoDialog::refresh() {
  current_->setText(QString::number(currentFrame_() + 1));
}

uint32_t GotoDialog::frame() const {
  return number(edit_);
}

ReplayDialog::ReplayDialog(const PlayerSettings& s, std::function<long()> current, QWidget* parent)
    : QDialog(parent) {
  setObjectName("DlgReplayFrame");
  setWindowTitle("Replay");
  auto* grid = new QGridLayout(this);
  // Made row by row, so that Tab goes along each row in turn.
  auto* startLabel = new QLabel("&Start frame:", this);
  start_ = new QLineEdit(QString::fromStdString(s.replayStartFrame), this);
  auto* setStart = new QPushButton("Set to current frame", this);
  auto* endLabel = new QLabel("&End frame:", this);
  end_ = new QLineEdit(QString::fromStdString(s.replayEndFrame), this);
  auto* setEnd = new QPushButton("Set to current frame", this);
  startLabel->setBuddy(start_);
  endLabel->setBuddy(end_);
  grid->addWidget(startLabel, 0, 0);
  grid->addWidget(start_, 0, 1);
  grid->addWidget(setStart, 0, 2);
  grid->addWidget(endLabel, 1, 0);
  grid->addWidget(end_, 1, 1);
  grid->addWidget(setEnd, 1, 2);
  connect(setStart, &QPushButton::clicked, this,
          [this, current] { start_->setText(QString::number(current() + 1)); });
  connect(setEnd, &QPushButton::clicked, this,
          [this, current] { end_->setText(QString::number(current() + 1)); });
  auto* loopWindow = new QPushButton("Loop in &window", this);
  auto* loopFullscreen = new QPushButton("Loop &fullscreen", this);
  grid->addWidget(loopWindow, 2, 0);
  grid->addWidget(loopFullscreen, 2, 1);
  connect(loopWindow, &QPushButton::clicked, this, [this] { finish(LoopInWindow); });
  connect(loopFullscreen, &QPushButton::clicked, this, [this] { finish(LoopFullscreen); });
  auto* buttons = okCancel(this);
  disconnect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::accepted, this, [this] { finish(QDialog::Accepted); });
  grid->addWidget(buttons, 3, 0, 1, 3);
}

uint32_t ReplayDialog::startFrame() const {
  return number(start_);
}

uint32_t ReplayDialog::endFrame() const {
  return number(end_);
}

void ReplayDialog::finish(int code) {
  if (endFrame() < startFrame()) {
    messageBox(toHandle(this), "The start frame must be before the end frame", kPlayerTitle,
               MB_OK | MB_ICONEXCLAMATION);
    return;
  }
  done(code);
}

void showAboutPlayer(QWidget* parent) {
  // The program's own version (as `brindle --version` gives it); the codec's about box tells
  // the codec's.
  QMessageBox::about(parent, "About Orvane Player",
                     QString("Orvane Player (brindle)\nVersion %1\n\nPlays movies compressed "
                             "with the Orvane codec.")
                         .arg(ZOV_VERSION_STRING));
}

}  // namespace zov::player
