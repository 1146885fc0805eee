// The movie window: shows the playback engine's picture in its destination rectangle above a
// small toolbar (play, stop, position), runs the engine's timer, and is the frame host through
// which the codec resizes the player around it. Keys it does not use go on to the main window,
// so the accelerators work while it has the focus.
#pragma once

#include <QElapsedTimer>
#include <QImage>
#include <QTimer>
#include <QWidget>

#include "player/playback_engine.h"
#include "zov/zovcod32_dialogs.h"

class QLabel;
class QSlider;
class QToolButton;

namespace zov::player {

class MovieWidget : public QWidget, public codec::MovieFrameHost {
  Q_OBJECT
 public:
  static constexpr int kToolbarHeight = 26;

  MovieWidget(PlaybackEngine& engine, QWidget* parent = nullptr);

  // The picture as drawn (the engine's current picture, before scaling to the destination).
  QImage currentImage() const { return image_; }
  // The area the picture is drawn into, in widget coordinates.
  QRect pictureRect() const;
  // Sets the destination to the picture's own size (after opening or renegotiating).
  void fitDestinationToPicture();
  // Let the destination follow the widget's size (hardware scaling).
  void setFollowSize(bool follow) { followSize_ = follow; }
  bool followSize() const { return followSize_; }
  QSize preferredSize() const;

  // Starts or stops the timer after a command changed the engine's state.
  void engineChanged();

  // ---- codec::MovieFrameHost ----
  ZOVRect movieSource() override;
  ZOVRect movieDestination() override;
  void putMovieDestination(const ZOVRect& rect) override;
  int toolbarHeight() override { return kToolbarHeight; }
  ZOVRect adjustFrameRect(const ZOVRect& client) override;
  ZOVRect normalPosition() override;
  void setNormalPosition(const ZOVRect& rect) override;
  void invalidateAndUpdate() override;

 signals:
  void playButton();
  void stopButton();
  void doubleClicked();

 protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;

 private:
  void timerFired();
  void pictureChanged();
  void scheduleTick();
  void showTimes();

  PlaybackEngine& engine_;
  QImage image_;
  QRect destination_;
  bool followSize_ = false;
  QTimer timer_;
  QWidget* toolbar_ = nullptr;
  QSlider* slider_ = nullptr;
  QLabel* currentTime_ = nullptr;
  QLabel* totalTime_ = nullptr;
};

// A time on the movie's clock: "m:ss.t", or "h:mm:ss" from an hour on.
QString movieTime(double seconds);

}  // namespace zov::player
