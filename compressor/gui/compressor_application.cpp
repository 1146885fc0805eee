#include "compressor/gui/compressor_application.h"

#include <QApplication>
#include <QMainWindow>

#include "platform/qt/qt_platform.h"

namespace zov {

int runCompressorApplication(int argc, char** argv) {
  QApplication app(argc, argv);
  QtPlatform platform;
  QMainWindow window;
  window.setWindowTitle("Orvane Compressor");
  window.show();
  return app.exec();
}

}  // namespace zov
