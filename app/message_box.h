// The program's message boxes: the modal box with one OK button and the
// application's title as caption, and the text rules of the default error
// box that reports an error which ended a command.
#pragma once

#include <QMessageBox>
#include <QString>

#include <exception>

namespace strata {

// The application title, the caption of every message box.
inline constexpr char kApplicationTitle[] = "Database Update";

struct MessageBoxRequest {
  QString caption;
  QString text;
  QMessageBox::Icon icon = QMessageBox::NoIcon;
};

// Shows the box modally, centred on the screen, with the text as plain text.
void ShowMessageBox(const MessageBoxRequest& request);

// The message of an error for display. Database and engine errors carry
// Windows-1252 text (they name tables and fields); other errors carry UTF-8.
QString ErrorMessage(const std::exception& error);

// The text of the default error box: the message, with a full stop appended
// when its last character sorts after "." (so "Disk full" gets one, while
// "... 'DataPath'" and "Done." do not).
QString ErrorBoxText(const QString& message);

}  // namespace strata
