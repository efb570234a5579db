// Database Update: one window that brings the home-organiser's tables to
// their current structure. No command line, no configuration file.
#include <QApplication>

#include "app/main_window.h"
#include "app/window_images.h"
#include "components/default_components.h"
#include "engine/errors/engine_error.h"

namespace {

// Stands in for the update run until the table component is available.
void UpdateNotAvailable(const std::string&, strata::ProgressDisplay*, strata::ProgressDisplay*,
                        strata::TextDisplay*) {
  throw strata::EDatabaseError("The database update is not available yet");
}

}  // namespace

int main(int argc, char* argv[]) {
  // The default engine and session exist before the window and go with the
  // program's end.
  strata::DefaultComponents components;
  QApplication application(argc, argv);
  QApplication::setApplicationName(QString::fromUtf8(strata::kApplicationTitle));
  QApplication::setWindowIcon(strata::ApplicationIcon());
  strata::TfMain fMain(UpdateNotAvailable);
  fMain.show();
  return QApplication::exec();
}
