#include "app/message_box.h"

#include <QGuiApplication>
#include <QScreen>

#include "engine/errors/engine_error.h"
#include "engine/locale/windows1252.h"

namespace strata {

void ShowMessageBox(const MessageBoxRequest& request) {
  QMessageBox box(request.icon, request.caption, request.text, QMessageBox::Ok);
  box.setTextFormat(Qt::PlainText);
  box.adjustSize();
  if (const QScreen* screen = QGuiApplication::primaryScreen()) {
    box.move(screen->availableGeometry().center() - box.rect().center());
  }
  box.exec();
}

QString ErrorMessage(const std::exception& error) {
  if (const auto* database = dynamic_cast<const EDatabaseError*>(&error)) {
    return QString::fromStdString(Windows1252ToUtf8(database->Message()));
  }
  return QString::fromUtf8(error.what());
}

QString ErrorBoxText(const QString& message) {
  if (!message.isEmpty() && message.back() > QChar(u'.')) return message + u'.';
  return message;
}

}  // namespace strata
