#include "app/qt_dialogs.h"

#include "platform/event_log.h"

#include <QApplication>
#include <QMessageBox>
#include <QScreen>

#include "platform/errors.h"

namespace ventari {

namespace {

void RunBox(QMessageBox::Icon icon, const QString& caption, const QString& text, bool centre) {
  QMessageBox box(icon, caption, text, QMessageBox::Ok);
  box.setObjectName(QStringLiteral("VentariBox"));
  // A message may quote a league page or a file: its text is shown as it is, never as markup.
  box.setTextFormat(Qt::PlainText);
  box.setWindowFlag(Qt::WindowStaysOnTopHint);
  if (centre) {
    box.adjustSize();
    if (QScreen* screen = QGuiApplication::primaryScreen())
      box.move(screen->geometry().center() - box.rect().center());
  }
  box.exec();
}

}  // namespace

void QtDialogs::ShowMessage(const std::string& text) {
  LogEvent("box", text);
  RunBox(QMessageBox::NoIcon, QStringLiteral("Ventari"), QString::fromStdString(text), false);
}

void QtDialogs::ShowError(const std::string& message) {
  LogEvent("error", ErrorBoxText(message));
  RunBox(QMessageBox::Critical, QStringLiteral("Ventari"),
         QString::fromStdString(ErrorBoxText(message)), false);
}

void QtDialogs::ShowMailError(int result) {
  LogEvent("error", "mail error box: " + std::to_string(result));
  RunBox(QMessageBox::Critical, QStringLiteral("Error"), QString::number(result), true);
}

}  // namespace ventari
