#include "player/movie_widget.h"

#include <QApplication>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QMainWindow>
#include <QMenuBar>
#include <QPainter>
#include <QSlider>
#include <QStyle>
#include <QToolButton>
#include <cmath>

#include "player/player_icons.h"
#include "player/player_window.h"

namespace zov::player {

MovieWidget::MovieWidget(PlaybackEngine& engine, QWidget* parent)
    : QWidget(parent), engine_(engine) {
  setFocusPolicy(Qt::StrongFocus);
  setAttribute(Qt::WA_OpaquePaintEvent);
  timer_.setSingleShot(true);
  timer_.setTimerType(Qt::PreciseTimer);
  connect(&timer_, &QTimer::timeout, this, &MovieWidget::timerFired);

  toolbar_ = new QWidget(this);
  toolbar_->setObjectName("MCIWndToolbar");
  toolbar_->setAutoFillBackground(true);
  auto* layout = new QHBoxLayout(toolbar_);
  layout->setContentsMargins(2, 1, 2, 1);
  layout->setSpacing(2);
  auto* play = new QToolButton(toolbar_);
  play->setObjectName("PlayButton");
  play->setIcon(playerCommandIcon(kPlayInWindow));
  play->setToolTip("Play");
  // The toolbar's controls are reached by Tab but not focused by a click, so that the movie
  // window keeps the focus a mouse user gave it. The window's accelerators (Space, the arrows)
  // still work while one of them has the focus.
  play->setFocusPolicy(Qt::TabFocus);
  auto* stop = new QToolButton(toolbar_);
  stop->setObjectName("StopButton");
  stop->setIcon(playerCommandIcon(kStop));
  stop->setToolTip("Stop");
  stop->setFocusPolicy(Qt::TabFocus);
  slider_ = new QSlider(Qt::Horizontal, toolbar_);
  slider_->setObjectName("SeekBar");
  slider_->setFocusPolicy(Qt::TabFocus);
  slider_->setToolTip("Position");
  currentTime_ = new QLabel(toolbar_);
  currentTime_->setObjectName("CurrentTime");
  totalTime_ = new QLabel(toolbar_);
  totalTime_->setObjectName("TotalTime");
  layout->addWidget(play);
  layout->addWidget(stop);
  layout->addWidget(currentTime_);
  layout->addWidget(slider_, 1);
  layout->addWidget(totalTime_);
  connect(play, &QToolButton::clicked, this, &MovieWidget::playButton);
  connect(stop, &QToolButton::clicked, this, &MovieWidget::stopButton);
  // Dragging the handle and clicking the groove (a page step, or a jump where the style sets
  // the position absolutely) both move the picture.
  auto seekTo = [this](int value) {
    if (engine_.isOpen() && value != engine_.position()) engine_.seek(value);
  };
  connect(slider_, &QSlider::sliderMoved, this, seekTo);
  connect(slider_, &QSlider::actionTriggered, this,
          [this, seekTo](int) { seekTo(slider_->sliderPosition()); });
  showTimes();
  engine_.onPicture = [this] { pictureChanged(); };
}

void MovieWidget::pictureChanged() {
  const MovieFile* movie = engine_.movie();
  if (!movie) return;
  const Picture& p = movie->picture();
  if (p.pixels.empty()) return;
  image_ = QImage(reinterpret_cast<const uchar*>(p.pixels.data()), p.width, p.height, p.width * 4,
                  QImage::Format_RGB32)
               .copy();
  if (!slider_->isSliderDown()) {
    slider_->setRange(0, int(engine_.length() - 1));
    slider_->setValue(int(engine_.position()));
  }
  showTimes();
  update(pictureRect());
}

QString movieTime(double seconds) {
  const long tenths = std::lround(std::max(0.0, seconds) * 10);
  const long s = tenths / 10, m = s / 60, h = m / 60;
  if (h > 0) return QString::asprintf("%ld:%02ld:%02ld", h, m % 60, s % 60);
  return QString::asprintf("%ld:%02ld.%ld", m, s % 60, tenths % 10);
}

void MovieWidget::showTimes() {
  const MovieFile* movie = engine_.movie();
  if (!movie || movie->framesPerSecond() <= 0) {
    currentTime_->setText(movieTime(0));
    totalTime_->setText(movieTime(0));
    return;
  }
  const double fps = movie->framesPerSecond();
  currentTime_->setText(movieTime(double(engine_.position()) / fps));
  totalTime_->setText(movieTime(double(engine_.length()) / fps));
}

QRect MovieWidget::pictureRect() const {
  const QRect area(0, 0, width(), height() - kToolbarHeight);
  if (followSize_) {
    // Full screen keeps the movie's shape, with black bands where the screen's differs.
    const MovieFile* movie = engine_.movie();
    if (!window()->isFullScreen() || !movie || movie->width() <= 0 || movie->height() <= 0)
      return area;
    const QSize size =
        QSize(movie->width(), movie->height()).scaled(area.size(), Qt::KeepAspectRatio);
    return QRect(QPoint((area.width() - size.width()) / 2, (area.height() - size.height()) / 2),
                 size);
  }
  // A window larger than the movie (maximised) shows it centred.
  QRect r = destination_;
  if (area.width() > r.width() || area.height() > r.height())
    r.moveTo(std::max(0, (area.width() - r.width()) / 2),
             std::max(0, (area.height() - r.height()) / 2));
  return r;
}

void MovieWidget::fitDestinationToPicture() {
  const MovieFile* movie = engine_.movie();
  if (!movie) {
    destination_ = QRect();
    return;
  }
  const Picture& p = movie->picture();
  const int w = p.width ? p.width : movie->width();
  const int h = p.height ? p.height : movie->height();
  destination_ = QRect(0, 0, w, h);
}

QSize MovieWidget::preferredSize() const {
  return QSize(std::max(destination_.width(), 160), destination_.height() + kToolbarHeight);
}

void MovieWidget::engineChanged() {
  scheduleTick();
  showTimes();
  if (!image_.isNull()) update();
}

void MovieWidget::scheduleTick() {
  if (engine_.mode() != MovieMode::Playing) {
    timer_.stop();
    return;
  }
  const int64_t wait = engine_.microsUntilNextFrame();
  // Wake a little early and often enough to keep the audio queue filled.
  timer_.start(int(std::clamp<int64_t>(wait / 1000, 1, 20)));
}

void MovieWidget::timerFired() {
  engine_.tick();
  scheduleTick();
}

void MovieWidget::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  const QRect area(0, 0, width(), height() - kToolbarHeight);
  const QRect target = pictureRect();
  painter.fillRect(area, Qt::black);
  if (!image_.isNull() && engine_.isOpen()) {
    // Whole-number enlargements stay sharp; any other zoom is smoothed.
    painter.setRenderHint(
        QPainter::SmoothPixmapTransform,
        target.width() % image_.width() != 0 || target.height() % image_.height() != 0);
    if (target.size() == image_.size())
      painter.drawImage(target.topLeft(), image_);
    else
      painter.drawImage(target, image_);
  }
}

void MovieWidget::resizeEvent(QResizeEvent*) {
  toolbar_->setGeometry(0, height() - kToolbarHeight, width(), kToolbarHeight);
  if (followSize_) destination_ = QRect(0, 0, width(), std::max(0, height() - kToolbarHeight));
}

void MovieWidget::keyPressEvent(QKeyEvent* event) {
  // Unused keys travel on to the main window and its accelerators.
  event->ignore();
}

void MovieWidget::mouseDoubleClickEvent(QMouseEvent* event) {
  if (event->button() == Qt::LeftButton) emit doubleClicked();
}

ZOVRect MovieWidget::movieSource() {
  const MovieFile* movie = engine_.movie();
  if (!movie) return ZOVRect{0, 0, 0, 0};
  return ZOVRect{0, 0, movie->width(), movie->height()};
}

ZOVRect MovieWidget::movieDestination() {
  return ZOVRect{destination_.left(), destination_.top(), destination_.right() + 1,
                 destination_.bottom() + 1};
}

void MovieWidget::putMovieDestination(const ZOVRect& r) {
  destination_ = QRect(r.left, r.top, std::max(0, r.right - r.left), std::max(0, r.bottom - r.top));
  update();
}

ZOVRect MovieWidget::adjustFrameRect(const ZOVRect& client) {
  // The frame here is the main window's inside: the movie window plus the menu bar above it.
  const int above = mapTo(window(), QPoint(0, 0)).y();
  return ZOVRect{client.left, client.top - above, client.right, client.bottom};
}

ZOVRect MovieWidget::normalPosition() {
  const QRect g =
      window()->normalGeometry().isValid() ? window()->normalGeometry() : window()->geometry();
  return ZOVRect{g.left(), g.top(), g.right() + 1, g.bottom() + 1};
}

void MovieWidget::setNormalPosition(const ZOVRect& r) {
  QWidget* frame = window();
  const int w = std::max(160, r.right - r.left), h = std::max(40, r.bottom - r.top);
  if (frame->isMaximized() || frame->isFullScreen()) return;
  frame->resize(w, h);
}

void MovieWidget::invalidateAndUpdate() {
  window()->update();
}

}  // namespace zov::player
