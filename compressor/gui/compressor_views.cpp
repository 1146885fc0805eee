#include "compressor/gui/compressor_views.h"

#include <QAction>
#include <QClipboard>
#include <QFontDatabase>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QPainter>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QStyleOptionSlider>
#include <QTextBlock>
#include <QToolButton>
#include <QVBoxLayout>
#include <algorithm>
#include <cstdlib>

#include "compressor/gui/compressor_commands.h"
#include "compressor/gui/compressor_icons.h"
#include "compressor/gui/compressor_session.h"
#include "compressor/gui/view_slots.h"
#include "media/source_messages.h"

namespace zov {

QImage pictureImage(const uint16_t* pixels, int width, int height) {
  QImage image(width, height, QImage::Format_RGB555);
  for (int y = 0; y < height; ++y) {
    const uint16_t* row = pixels + size_t(height - 1 - y) * size_t(width);
    std::copy(row, row + width, reinterpret_cast<uint16_t*>(image.scanLine(y)));
  }
  return image;
}

// ---- Track bar ----

TrackBar::TrackBar(QWidget* parent) : QSlider(Qt::Horizontal, parent) {
  // Reached by Tab, not by a click: the arrow keys stay the window's accelerators.
  setFocusPolicy(Qt::TabFocus);
  setTickPosition(QSlider::NoTicks);
  setMinimumHeight(24);
}

void TrackBar::setSelection(int first, int last) {
  selFirst_ = first;
  selLast_ = last;
  update();
}

void TrackBar::paintEvent(QPaintEvent* event) {
  QSlider::paintEvent(event);
  if (selLast_ < selFirst_ || maximum() < minimum()) return;
  // The selection: a band along the bottom edge, under the groove's span.
  QPainter p(this);
  QStyleOptionSlider opt;
  initStyleOption(&opt);
  const QRect groove =
      style()->subControlRect(QStyle::CC_Slider, &opt, QStyle::SC_SliderGroove, this);
  const int span = std::max(1, maximum() - minimum());
  auto xOf = [&](int v) { return groove.left() + (groove.width() - 1) * (v - minimum()) / span; };
  const int left = xOf(selFirst_), right = std::max(xOf(selLast_), left + 1);
  p.fillRect(QRect(QPoint(left, height() - 4), QPoint(right, height() - 1)),
             palette().color(QPalette::Highlight));
}

// ---- Audio bar ----

AudioBar::AudioBar(QWidget* parent) : QWidget(parent) {
  setMinimumWidth(12);
}

void AudioBar::setLevel(int level) {
  level_ = std::clamp(level, 0, 128);
  update();
}

void AudioBar::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.fillRect(rect(), palette().base());
  p.setPen(palette().color(QPalette::Mid));
  p.drawRect(rect().adjusted(0, 0, -1, -1));
  // Near full scale the bar turns red, whatever the palette, as level meters do.
  const int h = (height() - 2) * level_ / 128;
  p.fillRect(QRect(1, height() - 1 - h, width() - 2, h),
             level_ > 112 ? QColor(Qt::red) : palette().color(QPalette::Highlight));
}

int audioPeakLevel(const uint8_t* samples, size_t count) {
  int peak = 0;
  for (size_t i = 0; i < count; ++i) peak = std::max(peak, std::abs(int(samples[i]) - 128));
  return peak;
}

// ---- Picture canvas ----

QRect fittedRect(const QSize& picture, const QRect& area) {
  if (picture.isEmpty() || area.isEmpty()) return {};
  const QSize size = picture.scaled(area.size(), Qt::KeepAspectRatio);
  return QRect(area.left() + (area.width() - size.width()) / 2,
               area.top() + (area.height() - size.height()) / 2, size.width(), size.height());
}

bool nearestNeighbourZoom(const QSize& picture, const QRect& target) {
  if (picture.isEmpty()) return true;
  return target.width() % picture.width() == 0 && target.height() % picture.height() == 0;
}

PictureCanvas::PictureCanvas(QWidget* parent, ViewSlots& viewSlots, int view)
    : QWidget(parent), slots_(viewSlots), view_(view) {
  setAttribute(Qt::WA_OpaquePaintEvent);
  setMinimumSize(80, 60);
}

QSize PictureCanvas::sizeHint() const {
  ViewSlot& s = slots_.slot(view_);
  std::lock_guard guard(s.lock);
  if (s.picture.width > 0) return {s.picture.width, s.picture.height};
  return {320, 240};
}

void PictureCanvas::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.fillRect(rect(), Qt::black);
  QImage image;
  {
    ViewSlot& s = slots_.slot(view_);
    std::lock_guard guard(s.lock);
    if (!s.picture.pixels.empty())
      image = pictureImage(s.picture.pixels.data(), s.picture.width, s.picture.height);
  }
  if (!image.isNull()) {
    // Maximised, the frame is stretched over the view; otherwise it is fitted to it.
    const QRect target = stretch_ ? rect() : fittedRect(image.size(), rect());
    p.setRenderHint(QPainter::SmoothPixmapTransform, !nearestNeighbourZoom(image.size(), target));
    p.drawImage(target, image);
  }
  if (!overlay_.isEmpty()) {
    // On a chip of the palette's selection colours, readable over any picture.
    const QRect text = p.fontMetrics()
                           .boundingRect(rect().adjusted(4, 2, -4, -2),
                                         Qt::AlignLeft | Qt::AlignTop | Qt::TextWordWrap, overlay_)
                           .adjusted(-3, -1, 3, 1);
    p.fillRect(text, palette().color(QPalette::Highlight));
    p.setPen(palette().color(QPalette::HighlightedText));
    p.drawText(text.adjusted(3, 1, -3, -1), Qt::AlignLeft | Qt::AlignTop | Qt::TextWordWrap,
               overlay_);
  }
}

// ---- Input view ----

InputView::InputView(QWidget* parent, CompressorSession& session, ViewSlots& viewSlots)
    : QWidget(parent), session_(session), slots_(viewSlots) {
  auto* outer = new QVBoxLayout(this);
  outer->setContentsMargins(2, 2, 2, 2);
  outer->setSpacing(2);
  auto* top = new QHBoxLayout;
  canvas_ = new PictureCanvas(this, viewSlots, kInputView);
  audio_ = new AudioBar(this);
  top->addWidget(canvas_, 1);
  top->addWidget(audio_);
  outer->addLayout(top, 1);

  trackRow_ = new QWidget(this);
  auto* row = new QHBoxLayout(trackRow_);
  row->setContentsMargins(0, 0, 0, 0);
  auto addButton = [&](const char* name, const char* text, const char* tip, int cmd, bool repeat) {
    auto* b = new QToolButton(trackRow_);
    b->setObjectName(name);
    b->setText(text);
    b->setIcon(compressorIcon(name));
    b->setToolTip(tip);
    b->setFocusPolicy(Qt::TabFocus);  // reached by Tab, pressed by Space
    b->setProperty("command", cmd);
    if (repeat) {
      // Held: the command after 250 ms, then every 50 ms.
      b->setAutoRepeat(true);
      b->setAutoRepeatDelay(250);
      b->setAutoRepeatInterval(50);
    }
    connect(b, &QToolButton::clicked, this, [this, cmd] { emit command(cmd); });
    buttons_.push_back(b);
    return b;
  };
  row->addWidget(addButton("BmpLeft", "<", "Previous frame", kCmdPreviousFrame, true));
  track_ = new TrackBar(trackRow_);
  row->addWidget(track_, 1);
  row->addWidget(addButton("BmpRight", ">", "Next frame", kCmdNextFrame, true));
  row->addWidget(addButton("BmpMarkIn", "[", "Mark in", kCmdMarkIn, false));
  row->addWidget(addButton("BmpMarkOut", "]", "Mark out", kCmdMarkOut, false));
  outer->addWidget(trackRow_);

  // Moving the track bar asks for the frame as the navigation commands do.
  connect(track_, &QSlider::valueChanged, this, [this](int value) {
    if (updatingTrack_) return;
    if (!session_.gotoFrame(uint32_t(value))) refresh();
  });
}

QToolButton* InputView::button(int cmd) const {
  for (QToolButton* b : buttons_)
    if (b->property("command").toInt() == cmd) return b;
  return nullptr;
}

void InputView::setTrackShown(bool shown) {
  trackRow_->setVisible(shown);
}

void InputView::setAudioShown(bool shown) {
  audio_->setVisible(shown);
}

void InputView::refresh() {
  SourceFile* s = session_.currentSource();
  const uint32_t frame = session_.currentFrame();
  ViewPicture picture;
  int level = 0;
  if (s && frame < s->FrameCount) {
    std::vector<uint8_t> bitmap;
    if (s->getFrameAbsolute(frame, bitmap, nullptr, true, false, false) && bitmap.size() > 40) {
      const int w = int(bitmap[4] | bitmap[5] << 8 | bitmap[6] << 16 | bitmap[7] << 24);
      const int h = std::abs(int(bitmap[8] | bitmap[9] << 8 | bitmap[10] << 16 | bitmap[11] << 24));
      if (w > 0 && h > 0 && bitmap.size() >= 40 + size_t(w) * size_t(h) * 2) {
        picture.width = w;
        picture.height = h;
        const auto* px = reinterpret_cast<const uint16_t*>(bitmap.data() + 40);
        picture.pixels.assign(px, px + size_t(w) * size_t(h));
      }
    }
    if (s->HasAudio) {
      std::vector<uint8_t> audio;
      uint32_t size = 0;
      if (s->readAudioForDisplay(frame, audio, &size, 0))
        level = audioPeakLevel(audio.data(), std::min<size_t>(size, audio.size()));
    }
  }
  {
    ViewSlot& slot = slots_.slot(kInputView);
    std::lock_guard guard(slot.lock);
    slot.picture = std::move(picture);
  }
  audio_->setLevel(level);
  updatingTrack_ = true;
  if (s && s->FrameCount > 0) {
    track_->setEnabled(!session_.compressing());
    track_->setRange(0, int(s->FrameCount - 1));
    track_->setValue(int(frame));
    track_->setSelection(int(s->ExtractionStart), int(s->ExtractionEnd));
  } else {
    track_->setEnabled(false);
    track_->setRange(0, 0);
    track_->setSelection(0, -1);
  }
  updatingTrack_ = false;
  canvas_->updateGeometry();
  canvas_->update();
}

// ---- Message window ----

namespace {

// Ctrl+C is also the window's "Close": with a selection in the message lines, the key copies it.
class CopyKeyFirst : public QObject {
 public:
  using QObject::QObject;
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() != QEvent::ShortcutOverride) return false;
    auto* key = static_cast<QKeyEvent*>(event);
    if (!key->matches(QKeySequence::Copy)) return false;
    bool selected = false;
    if (auto* edit = qobject_cast<QPlainTextEdit*>(watched))
      selected = edit->textCursor().hasSelection();
    else if (auto* label = qobject_cast<QLabel*>(watched))
      selected = label->hasSelectedText();
    if (selected) event->accept();
    return selected;
  }
};

}  // namespace

MessageView::MessageView(QWidget* parent, CompressorSession& session)
    : QWidget(parent), session_(session) {
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);
  const QFont fixed = QFontDatabase::systemFont(QFontDatabase::FixedFont);
  status_ = new QLabel(this);
  status_->setObjectName("StatusLines");
  status_->setFont(fixed);
  status_->setTextFormat(Qt::PlainText);
  status_->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
  status_->setFocusPolicy(Qt::ClickFocus);
  status_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  status_->setMargin(4);
  status_->setAutoFillBackground(true);
  status_->setBackgroundRole(QPalette::AlternateBase);
  status_->setForegroundRole(QPalette::Text);
  text_ = new QPlainTextEdit(this);
  text_->setObjectName("MessageLines");
  text_->setFont(fixed);
  text_->setReadOnly(true);
  text_->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
  text_->setLineWrapMode(QPlainTextEdit::NoWrap);
  text_->setFrameShape(QFrame::NoFrame);
  text_->setTabChangesFocus(true);
  layout->addWidget(status_);
  layout->addWidget(text_, 1);
  auto* copyFirst = new CopyKeyFirst(this);
  status_->installEventFilter(copyFirst);
  text_->installEventFilter(copyFirst);
  setFocusProxy(text_);
  // Every line can be copied at once: Ctrl+Shift+C (Ctrl+C copies a selection while the lines
  // have the focus, and is "Close" elsewhere) or the context menu.
  auto* copy = new QAction("&Copy All Lines", this);
  copy->setObjectName("CopyMessages");
  copy->setShortcut(QKeySequence("Ctrl+Shift+C"));
  copy->setShortcutContext(Qt::WidgetWithChildrenShortcut);
  connect(copy, &QAction::triggered, this, &MessageView::copyLines);
  addAction(copy);
  text_->setContextMenuPolicy(Qt::CustomContextMenu);
  connect(text_, &QWidget::customContextMenuRequested, this, [this, copy](const QPoint& at) {
    QMenu* menu = text_->createStandardContextMenu(at);
    menu->addAction(copy);
    menu->exec(text_->viewport()->mapToGlobal(at));
    delete menu;
  });
  refresh();
}

void MessageView::copyLines() {
  QGuiApplication::clipboard()->setText(paintedLines().join('\n'));
}

QStringList MessageView::paintedLines() const {
  QStringList lines;
  if (!status_->text().isEmpty()) lines = status_->text().split('\n');
  for (const std::string& m : shown_) lines << QString::fromStdString(m);
  return lines;
}

void MessageView::refresh() {
  QStringList status;
  for (int i = 0; i < session_.statusLinesShown(); ++i)
    status << QString::fromStdString(session_.statusLine(i));
  const QString statusText = status.join('\n');
  if (status_->text() != statusText) status_->setText(statusText);

  // The store keeps the last lines: lines dropped at its top and added at its bottom are removed
  // and appended, so that a selection and the reader's place survive new messages.
  const std::vector<std::string> lines = session_.messages().lines();
  if (lines == shown_) return;
  size_t dropped = 0;
  auto continues = [&](size_t k) {
    const size_t kept = shown_.size() - k;
    return kept <= lines.size() &&
           std::equal(shown_.begin() + long(k), shown_.end(), lines.begin());
  };
  while (dropped < shown_.size() && !continues(dropped)) ++dropped;
  QScrollBar* bar = text_->verticalScrollBar();
  const bool atBottom = bar->value() >= bar->maximum();
  if (dropped == shown_.size()) {
    text_->clear();
    shown_.clear();
  } else if (dropped > 0) {
    QTextCursor cursor(text_->document());
    cursor.movePosition(QTextCursor::Start);
    cursor.movePosition(QTextCursor::NextBlock, QTextCursor::KeepAnchor, int(dropped));
    cursor.removeSelectedText();
    shown_.erase(shown_.begin(), shown_.begin() + long(dropped));
  }
  for (size_t i = shown_.size(); i < lines.size(); ++i) {
    text_->appendPlainText(QString::fromStdString(lines[i]));
    shown_.push_back(lines[i]);
  }
  if (atBottom) bar->setValue(bar->maximum());
}

// ---- Data-rate graph ----

std::string dataRateTitle(const SourceFile* s, uint32_t currentFrame) {
  if (!s) return "No file open...";
  if (s->RateSamples.empty()) return "Unable to calculate data rate...";
  const uint32_t samples = uint32_t(s->RateSamples.size());
  if (currentFrame >= s->ExtractionStart && currentFrame <= s->ExtractionEnd) {
    const int64_t size = const_cast<SourceFile*>(s)->rawFrameSize(currentFrame);
    return formatMessage("%1.4f FPS, %u Samples, %uKB Average, Current Sample = %uKB",
                         s->framesPerSecond(), samples, s->RateAverageKB,
                         uint32_t(size > 0 ? size / 1024 : 0));
  }
  return formatMessage("%1.4f FPS, %u Samples, %uKB Average", s->framesPerSecond(), samples,
                       s->RateAverageKB);
}

DataRateView::DataRateView(QWidget* parent, CompressorSession& session)
    : QWidget(parent), session_(session) {
  setAttribute(Qt::WA_OpaquePaintEvent);
}

QString DataRateView::titleLine() const {
  return QString::fromStdString(dataRateTitle(session_.currentSource(), session_.currentFrame()));
}

void DataRateView::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.fillRect(rect(), palette().base());
  const QFontMetrics fm = p.fontMetrics();
  p.setPen(palette().color(QPalette::Text));
  p.drawText(4, fm.ascent() + 2, titleLine());
  const SourceFile* s = session_.currentSource();
  if (!s || s->RateSamples.empty()) return;
  const int labelWidth = fm.horizontalAdvance("99999KB") + 6;
  const QRect area(labelWidth, fm.height() + 8, width() - labelWidth - 6,
                   height() - fm.height() - 14);
  if (area.width() < 4 || area.height() < 4) return;
  const uint32_t maxKB = std::max<uint32_t>(1, s->RateMaxKB);
  p.drawText(2, area.top() + fm.ascent(), QString("%1KB").arg(s->RateMaxKB));
  p.drawText(2, area.bottom(), QString("%1KB").arg(s->RateMinKB));
  p.drawRect(area.adjusted(-1, -1, 0, 0));
  const size_t n = s->RateSamples.size();
  const double barWidth = double(area.width()) / double(n);
  for (size_t i = 0; i < n; ++i) {
    const int h = int(double(area.height()) * s->RateSamples[i] / maxKB);
    // Bars of one second each, with a gap between them.
    const int gap = barWidth >= 6 ? int(barWidth / 6) : 0;
    const int x0 = area.left() + int(barWidth * double(i)) + gap;
    const int x1 = area.left() + int(barWidth * double(i + 1)) - gap;
    p.fillRect(QRect(QPoint(x0, area.bottom() - h), QPoint(std::max(x0, x1 - 1), area.bottom())),
               palette().color(QPalette::Highlight));
  }
  // The current frame's second.
  const uint32_t frame = session_.currentFrame();
  if (frame >= s->ExtractionStart && frame <= s->ExtractionEnd && s->framesPerSecond() > 0) {
    const size_t second = size_t(double(frame - s->ExtractionStart) / s->framesPerSecond());
    const int x = area.left() + int(barWidth * (double(std::min(second, n - 1)) + 0.5));
    // The marker keeps its signal colour on light and dark palettes alike.
    p.setPen(QPen(QColor(Qt::red), 2));
    p.drawLine(x, area.top(), x, area.bottom());
  }
}

}  // namespace zov
