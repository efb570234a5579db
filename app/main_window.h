// TfMain: the program's one window. A notice, the "Update Database
// Structure" button, and a group box with the name of the table in work,
// the restructure bar of that table and the overall bar over all tables.
//
// The button reads the data directory from the registry value
// "\Software\Hearthbook\DataPath" of the current user and runs the update
// routine with it and the window's displays, under the wait cursor. Success
// shows the final message; an error is shown in the default error box
// (error icon, full-stop rule). The window stays open either way.
//
// The update routine and the way message boxes are shown are given from
// outside, so that the window can be driven without a modal loop.
#pragma once

#include <QFrame>
#include <QGroupBox>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QWidget>

#include <functional>
#include <string>

#include "app/message_box.h"
#include "app/qt_displays.h"
#include "update/progress.h"

namespace strata {

// The update run: data directory (UTF-8, empty for the current directory),
// overall bar, restructure bar, table label. It raises the first error.
using UpdateRoutine = std::function<void(const std::string& directory, ProgressDisplay* overallBar,
                                         ProgressDisplay* restructureBar, TextDisplay* tableLabel)>;

using MessageBoxHandler = std::function<void(const MessageBoxRequest&)>;

class TfMain : public QWidget {
  Q_OBJECT

 public:
  explicit TfMain(UpdateRoutine update, QWidget* parent = nullptr);

  // Replaces the showing of message boxes (ShowMessageBox by default).
  void SetMessageBoxHandler(MessageBoxHandler handler) { showMessage_ = std::move(handler); }

  // Sets the overall bar's maximum to the number of catalogue tables and
  // the caption; runs each time the window is shown.
  void FormShow();
  // The button: runs the update as described above.
  void bUpdateClick();

  // The controls, owned by the widget tree of the window.
  QFrame* Panel2;
  QPushButton* bUpdate;
  QLabel* Label1;
  QGroupBox* GroupBox1;
  QLabel* Label2;
  QLabel* lTableName;
  QProgressBar* pbRestructure;
  QLabel* Label3;
  QProgressBar* pbTables;

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  UpdateRoutine update_;
  MessageBoxHandler showMessage_ = ShowMessageBox;
  QtProgressDisplay overallDisplay_;
  QtProgressDisplay restructureDisplay_;
  QtLabelDisplay tableNameDisplay_;
};

}  // namespace strata
