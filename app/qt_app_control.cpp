#include "app/qt_app_control.h"

#include <QCoreApplication>
#include <QMetaObject>

namespace ventari {

void QtAppControl::RequestEnd() {
  if (m_ended) return;
  m_ended = true;
  // Queued, so it also works before the event loop has started (a failure at start-up). Every
  // such end follows a failure the host must act on, so the exit status says so.
  QMetaObject::invokeMethod(
      QCoreApplication::instance(), [] { QCoreApplication::exit(kFailureExitStatus); },
      Qt::QueuedConnection);
}

}  // namespace ventari
