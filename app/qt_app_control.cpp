#include "app/qt_app_control.h"

#include <QCoreApplication>
#include <QMetaObject>

namespace ventari {

void QtAppControl::RequestEnd() {
  if (m_ended) return;
  m_ended = true;
  // Queued, so it also works before the event loop has started (a failure at start-up).
  QMetaObject::invokeMethod(QCoreApplication::instance(), &QCoreApplication::quit,
                            Qt::QueuedConnection);
}

}  // namespace ventari
