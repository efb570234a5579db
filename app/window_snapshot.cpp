// window-snapshot <file.png>: draws the main window as it first appears and
// saves it as a PNG (the window's client area). Runs without a display.
#include <QApplication>

#include <cstdio>

#include "app/main_window.h"

int main(int argc, char* argv[]) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: window-snapshot <file.png>\n");
    return 2;
  }
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication application(argc, argv);
  strata::TfMain window([](const std::string&, strata::ProgressDisplay*, strata::ProgressDisplay*,
                           strata::TextDisplay*) {});
  window.show();
  QApplication::processEvents();
  if (!window.grab().save(QString::fromLocal8Bit(argv[1]), "PNG")) {
    std::fprintf(stderr, "window-snapshot: cannot write %s\n", argv[1]);
    return 1;
  }
  return 0;
}
