// Database Update: one window that brings the home-organiser's tables to
// their current structure. No command line, no configuration file.
#include <QApplication>

#include "app/main_window.h"
#include "app/window_images.h"
#include "components/default_components.h"
#include "update/restructure_database.h"

int main(int argc, char* argv[]) {
  // The default engine and session exist before the window and go with the
  // program's end.
  strata::DefaultComponents components;
  components.Engine().SetMemoryBudget(strata::kDefaultMemoryBudget);
  QApplication application(argc, argv);
  QApplication::setApplicationName(QString::fromUtf8(strata::kApplicationTitle));
  QApplication::setWindowIcon(strata::ApplicationIcon());
  strata::TfMain fMain(strata::RestructureDatabase);
  fMain.show();
  return QApplication::exec();
}
