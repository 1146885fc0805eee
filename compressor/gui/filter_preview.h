// The "Video Filtering" page's preview: the current frame "Before:" and "After:" the working
// filter list, with a zoom ("Thumbnail zoom:", fit or 1x..32x) and panning by dragging.
#pragma once

#include <QImage>
#include <QWidget>
#include <cstdint>
#include <vector>

#include "encoder/compression_settings.h"

class QLabel;
class QScrollBar;

namespace zov {

class FilterPicture;

class FilterPreview : public QWidget {
  Q_OBJECT
 public:
  // The frame is fetched once; options hold the zoom and position ("FilterThumbnailZoom",
  // "FilterThumbnailLeft", "FilterThumbnailTop"), changed as the user moves them.
  FilterPreview(QWidget* parent, CompressorOptions& options, std::vector<uint16_t> frame, int width,
                int height, bool allSourcesZov2);

  // Redraws "After:" with the list applied.
  void setFilters(const std::vector<FilterEntry>& filters);
  void setZoom(uint32_t zoom);
  uint32_t zoom() const { return options_.FilterThumbnailZoom; }
  QScrollBar* zoomBar() const { return zoomBar_; }
  QLabel* zoomLabel() const { return zoomLabel_; }
  const QImage& before() const { return before_; }
  const QImage& after() const { return after_; }
  FilterPicture* beforePicture() const { return pictures_[0]; }
  FilterPicture* afterPicture() const { return pictures_[1]; }

  // Panning: the press, then the movement since the press (in widget pixels).
  void pressAt();
  void dragBy(int dx, int dy);

  // The part of the frame a picture of the given size shows (the whole frame at "fit").
  QRect visibleRect(QSize pictureSize) const;

 private:
  CompressorOptions& options_;
  std::vector<uint16_t> frame_;
  int width_, height_;
  bool allZov2_;
  QImage before_, after_;
  FilterPicture* pictures_[2] = {};
  QScrollBar* zoomBar_ = nullptr;
  QLabel* zoomLabel_ = nullptr;
  int32_t pressLeft_ = 0, pressTop_ = 0;
};

// One of the two pictures.
class FilterPicture : public QWidget {
  Q_OBJECT
 public:
  FilterPicture(FilterPreview* preview, const QImage* image);

 protected:
  void paintEvent(QPaintEvent*) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;

 private:
  FilterPreview* preview_;
  const QImage* image_;
  QPoint press_;
  bool dragging_ = false;
};

}  // namespace zov
