#include "compressor/gui/filter_preview.h"

#include <QGridLayout>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>

#include "compressor/filter_list.h"
#include "compressor/gui/config_frame_image.h"

namespace zov {

namespace {
constexpr int kPictureWidth = 240, kPictureHeight = 180;
}

FilterPreview::FilterPreview(QWidget* parent, CompressorOptions& options,
                             std::vector<uint16_t> frame, int width, int height,
                             bool allSourcesZov2)
    : QWidget(parent),
      options_(options),
      frame_(std::move(frame)),
      width_(width),
      height_(height),
      allZov2_(allSourcesZov2) {
  auto* layout = new QGridLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(new QLabel("Before:", this), 0, 0);
  layout->addWidget(new QLabel("After:", this), 0, 1);
  if (!frame_.empty()) before_ = imageFrom15Bit(frame_.data(), width_, height_);
  pictures_[0] = new FilterPicture(this, &before_);
  pictures_[1] = new FilterPicture(this, &after_);
  pictures_[0]->setObjectName("before");
  pictures_[1]->setObjectName("after");
  layout->addWidget(pictures_[0], 1, 0);
  layout->addWidget(pictures_[1], 1, 1);
  auto* zoomLine = new QHBoxLayout;
  zoomLine->addWidget(new QLabel("Thumbnail zoom:", this));
  zoomBar_ = new QScrollBar(Qt::Horizontal, this);
  zoomBar_->setFocusPolicy(Qt::StrongFocus);  // a control of its own, moved by the arrows
  zoomBar_->setRange(0, int(kMaxFilterThumbnailZoom));
  zoomBar_->setPageStep(1);
  zoomBar_->setMinimumWidth(160);
  zoomLabel_ = new QLabel(this);
  zoomLabel_->setMinimumWidth(36);
  zoomLine->addWidget(zoomBar_, 1);
  zoomLine->addWidget(zoomLabel_);
  layout->addLayout(zoomLine, 2, 0, 1, 2);
  uint32_t zoom = std::min(options_.FilterThumbnailZoom, kMaxFilterThumbnailZoom);
  zoomBar_->setValue(int(zoom));
  zoomLabel_->setText(QString::fromStdString(filterZoomLabel(zoom)));
  connect(zoomBar_, &QScrollBar::valueChanged, this, [this](int z) { setZoom(uint32_t(z)); });
}

void FilterPreview::setFilters(const std::vector<FilterEntry>& filters) {
  if (filters.empty() || frame_.empty()) {
    after_ = QImage();  // drawn in the window colour
  } else {
    std::vector<uint16_t> pixels = frame_;
    if (applyFilterList(filters, allZov2_, pixels.data(), width_, height_,
                        FilterCaller::FilteringPreview)) {
      after_ = imageFrom15Bit(pixels.data(), width_, height_);
    } else {
      after_ = QImage();
    }
  }
  pictures_[1]->update();
}

void FilterPreview::setZoom(uint32_t zoom) {
  zoom = std::min(zoom, kMaxFilterThumbnailZoom);
  options_.FilterThumbnailZoom = zoom;
  if (zoomBar_->value() != int(zoom)) zoomBar_->setValue(int(zoom));
  zoomLabel_->setText(QString::fromStdString(filterZoomLabel(zoom)));
  // A position kept from another zoom may lie outside the frame now.
  pressAt();
  dragBy(0, 0);
  for (FilterPicture* p : pictures_) p->update();
}

void FilterPreview::pressAt() {
  pressLeft_ = options_.FilterThumbnailLeft;
  pressTop_ = options_.FilterThumbnailTop;
}

void FilterPreview::dragBy(int dx, int dy) {
  uint32_t zoom = options_.FilterThumbnailZoom;
  if (zoom == 0) return;
  QSize size = pictures_[0]->size();
  options_.FilterThumbnailLeft = clampPreviewOrigin(pressLeft_, dx, width_, size.width(), zoom);
  options_.FilterThumbnailTop = clampPreviewOrigin(pressTop_, dy, height_, size.height(), zoom);
  for (FilterPicture* p : pictures_) p->update();
}

QRect FilterPreview::visibleRect(QSize pictureSize) const {
  uint32_t zoom = options_.FilterThumbnailZoom;
  if (zoom == 0) return QRect(0, 0, width_, height_);
  int factor = 1 << (zoom - 1);
  return QRect(options_.FilterThumbnailLeft, options_.FilterThumbnailTop,
               std::max(1, pictureSize.width() / factor),
               std::max(1, pictureSize.height() / factor));
}

FilterPicture::FilterPicture(FilterPreview* preview, const QImage* image)
    : QWidget(preview), preview_(preview), image_(image) {
  setFixedSize(kPictureWidth, kPictureHeight);
}

void FilterPicture::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.fillRect(rect(), palette().window());
  if (!image_->isNull()) {
    QRect source = preview_->visibleRect(size());
    if (preview_->zoom() == 0) {
      // The whole frame, as large as the picture allows with its proportions kept.
      QSize fitted = source.size().scaled(size(), Qt::KeepAspectRatio);
      QRect target(QPoint((width() - fitted.width()) / 2, (height() - fitted.height()) / 2),
                   fitted);
      painter.setRenderHint(QPainter::SmoothPixmapTransform);
      painter.drawImage(target, *image_, source);
    } else {
      int factor = 1 << (preview_->zoom() - 1);
      painter.drawImage(QRect(0, 0, source.width() * factor, source.height() * factor), *image_,
                        source);
    }
  }
  painter.setPen(palette().windowText().color());
  painter.drawRect(rect().adjusted(0, 0, -1, -1));
  setCursor(preview_->zoom() > 0 ? Qt::SizeAllCursor : Qt::ArrowCursor);
}

void FilterPicture::mousePressEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton || preview_->zoom() == 0) return;
  dragging_ = true;
  press_ = event->position().toPoint();
  preview_->pressAt();
}

void FilterPicture::mouseMoveEvent(QMouseEvent* event) {
  if (!dragging_ || !(event->buttons() & Qt::LeftButton)) {
    dragging_ = false;
    return;
  }
  QPoint d = event->position().toPoint() - press_;
  preview_->dragBy(d.x(), d.y());
}

}  // namespace zov
