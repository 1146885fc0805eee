#include "compressor/gui/compressor_application.h"

#include <QApplication>
#include <QTimer>
#include <memory>
#include <string>
#include <vector>

#include "compressor/filter_list.h"
#include "compressor/gui/main_window.h"
#include "compressor/run_source.h"
#include "media/source_file.h"
#include "media/source_messages.h"
#include "platform/qt/qt_platform.h"
#include "platform/qt/termination_signals.h"
#include "platform/ui.h"

namespace zov {

int runCompressorApplication(int argc, char** argv) {
  QApplication app(argc, argv);
  QtPlatform platform;
  // ZOV sources decode through the installed codec (or the built-in decoder without one).
  installZovDecoderWithFallback();
  auto window = std::make_unique<CompressorMainWindow>(CompressorMainWindow::Startup{});
  if (!window->created()) return 1;
  routeSourceMessagesToMessageBox(toHandle(window.get()));
  CompressorSession& session = window->session();
  SourceEnvironment env;
  env.removeAudio = [&session] { return session.options().RemoveAudio; };
  env.audioOptions = [&session] { return audioOptionsFrom(session.options()); };
  env.applyFilters = [&session](uint16_t* pixels, int w, int h) {
    applyFilterList(session.options().Filters, session.allSourcesZov2(), pixels, w, h,
                    FilterCaller::FrameFetch);
  };
  env.reopenFailed = [] { QCoreApplication::exit(1); };
  setSourceEnvironment(env);
  // SIGTERM and Ctrl-C end the program as "Exit" does, without its question.
  TerminationSignals endSignals([&window] { window->endFromSignal(); });
  window->show();
  // The children lay themselves out after a resize of the frame.
  window->resize(window->size() + QSize(4, 4));
  window->resize(window->size() - QSize(4, 4));
  // Files named on the command line (file managers' "Open with") open once the window is up.
  std::vector<std::string> files(argv + 1, argv + argc);
  if (!files.empty())
    QTimer::singleShot(0, window.get(), [&window, files] { window->openFiles(files); });
  const int rc = app.exec();
  setSourceEnvironment({});
  window.reset();
  return rc;
}

}  // namespace zov
