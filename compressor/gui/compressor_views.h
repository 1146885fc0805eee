// The views inside the compressor's window: the input view (frame, track bar, buttons, audio
// bar), the message window, the picture views of the running compression (filtered source,
// output, error) and the data-rate graph. They paint what the session and the view slots hold.
#pragma once

#include <QImage>
#include <QSlider>
#include <QWidget>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

class QLabel;
class QPlainTextEdit;
class QToolButton;

namespace zov {

class CompressorSession;
class ViewSlots;
class SourceFile;

// A 15-bit bottom-up picture as an image the right way up.
QImage pictureImage(const uint16_t* pixels, int width, int height);

// The track bar: a slider that shows the extraction range as its selection.
class TrackBar : public QSlider {
  Q_OBJECT
 public:
  explicit TrackBar(QWidget* parent);
  void setSelection(int first, int last);
  int selectionStart() const { return selFirst_; }
  int selectionEnd() const { return selLast_; }

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  int selFirst_ = 0, selLast_ = -1;
};

// The level of the current frame's audio, 0..128.
class AudioBar : public QWidget {
  Q_OBJECT
 public:
  explicit AudioBar(QWidget* parent);
  void setLevel(int level);
  int level() const { return level_; }
  QSize sizeHint() const override { return {16, 60}; }

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  int level_ = 0;
};

// The peak level of 8-bit unsigned audio samples (128 is silence): 0..128.
int audioPeakLevel(const uint8_t* samples, size_t count);

// The largest rectangle of the picture's shape inside `area`, centred in it.
QRect fittedRect(const QSize& picture, const QRect& area);
// Whole-number zooms (1x, 2x, ...) are drawn pixel for pixel; any other is smoothed.
bool nearestNeighbourZoom(const QSize& picture, const QRect& target);

// Paints a picture slot (black without a picture), fitted to the view keeping its shape, or
// stretched over it when `stretch`.
class PictureCanvas : public QWidget {
  Q_OBJECT
 public:
  PictureCanvas(QWidget* parent, ViewSlots& viewSlots, int view);
  void setStretch(bool stretch) { stretch_ = stretch; }
  void setOverlayText(const QString& text) { overlay_ = text; }
  QSize sizeHint() const override;

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  ViewSlots& slots_;
  int view_;
  bool stretch_ = false;
  QString overlay_;
};

class InputView : public QWidget {
  Q_OBJECT
 public:
  InputView(QWidget* parent, CompressorSession& session, ViewSlots& viewSlots);
  // Reads the current frame and its audio level, and updates the track bar.
  void refresh();
  void setTrackShown(bool shown);
  void setAudioShown(bool shown);

  TrackBar* trackBar() const { return track_; }
  AudioBar* audioBar() const { return audio_; }
  QToolButton* button(int command) const;

 signals:
  void command(int id);

 private:
  CompressorSession& session_;
  ViewSlots& slots_;
  PictureCanvas* canvas_ = nullptr;
  TrackBar* track_ = nullptr;
  AudioBar* audio_ = nullptr;
  QWidget* trackRow_ = nullptr;
  std::vector<QToolButton*> buttons_;
  bool updatingTrack_ = false;
};

// The message window: the status lines above the last messages. Both can be selected with the
// mouse or the keyboard and copied; the messages scroll, and new ones follow at the bottom unless
// the reader has scrolled up.
class MessageView : public QWidget {
  Q_OBJECT
 public:
  MessageView(QWidget* parent, CompressorSession& session);
  QSize sizeHint() const override { return {480, 300}; }
  // Shows the session's status lines and messages as they are now.
  void refresh();
  // The lines as shown, status lines first (for tests).
  QStringList paintedLines() const;
  // Puts every line on the clipboard.
  void copyLines();
  QLabel* statusLines() const { return status_; }
  QPlainTextEdit* messageLines() const { return text_; }

 private:
  CompressorSession& session_;
  QLabel* status_ = nullptr;
  QPlainTextEdit* text_ = nullptr;
  std::vector<std::string> shown_;  // the messages in text_
};

// The data-rate graph of the current source.
class DataRateView : public QWidget {
  Q_OBJECT
 public:
  DataRateView(QWidget* parent, CompressorSession& session);
  QSize sizeHint() const override { return {420, 200}; }
  // The title line as painted.
  QString titleLine() const;

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  CompressorSession& session_;
};

// The graph's title line for a source and the current frame (absolute).
std::string dataRateTitle(const SourceFile* source, uint32_t currentFrame);

}  // namespace zov
