#include "platform/qt/desktop_icons.h"

#include <QFile>
#include <QGuiApplication>
#include <QIconEngine>
#include <QPainter>
#include <QPalette>
#include <QPixmap>
#include <QSvgRenderer>

namespace zov {

namespace {

// Draws an SVG picture whose "currentColor" is the palette's text colour of the icon's mode, so
// that a disabled button's picture is greyed as its text is and a dark palette gets light lines.
class PaletteSvgEngine : public QIconEngine {
 public:
  explicit PaletteSvgEngine(QByteArray svg) : svg_(std::move(svg)) {}

  void paint(QPainter* painter, const QRect& rect, QIcon::Mode mode, QIcon::State) override {
    const QPalette palette = QGuiApplication::palette();
    QColor ink = palette.color(QPalette::Active, QPalette::WindowText);
    if (mode == QIcon::Disabled) ink = palette.color(QPalette::Disabled, QPalette::WindowText);
    if (mode == QIcon::Selected) ink = palette.color(QPalette::Active, QPalette::HighlightedText);
    QByteArray coloured = svg_;
    coloured.replace("currentColor", ink.name().toLatin1());
    QSvgRenderer renderer(coloured);
    painter->save();
    if (mode == QIcon::Disabled) painter->setOpacity(0.6);
    renderer.render(painter, QRectF(rect));
    painter->restore();
  }

  QPixmap pixmap(const QSize& size, QIcon::Mode mode, QIcon::State state) override {
    QPixmap picture(size);
    picture.fill(Qt::transparent);
    QPainter painter(&picture);
    paint(&painter, QRect(QPoint(0, 0), size), mode, state);
    return picture;
  }

  QIconEngine* clone() const override { return new PaletteSvgEngine(svg_); }
  QString key() const override { return QStringLiteral("zov-palette-svg"); }

 private:
  QByteArray svg_;
};

}  // namespace

QIcon drawnIcon(const QString& drawing) {
  QFile file(QStringLiteral(":/zov/icons/") + drawing + QStringLiteral(".svg"));
  if (!file.open(QIODevice::ReadOnly)) return {};
  return QIcon(new PaletteSvgEngine(file.readAll()));
}

QIcon desktopIcon(const QString& themeName, const QString& drawing) {
  if (!themeName.isEmpty() && QIcon::hasThemeIcon(themeName)) return QIcon::fromTheme(themeName);
  return drawnIcon(drawing);
}

}  // namespace zov
