#include "app/qt_app_control.h"

#include "app/stop_signals.h"

#include <QCoreApplication>
#include <QMetaObject>

#include <string>

#include "platform/event_log.h"

namespace ventari {

void QtAppControl::RequestEnd() {
  if (m_ended) return;
  m_ended = true;
  m_reason = "after the failure shown";
  // Queued, so it also works before the event loop has started (a failure at start-up). Every
  // such end follows a failure the host must act on, so the exit status says so.
  QMetaObject::invokeMethod(
      QCoreApplication::instance(), [] { QCoreApplication::exit(kFailureExitStatus); },
      Qt::QueuedConnection);
}

bool QtAppControl::EndRequested() const { return m_ended || StopSignalReceived(); }

void QtAppControl::RequestStop() {
  if (m_ended) return;
  m_ended = true;
  m_reason = "stopped by a signal";
  // Asked for by the host: an end without failure. A generation running stops after its step;
  // its journal lets the next start finish it.
  QMetaObject::invokeMethod(
      QCoreApplication::instance(), [] { QCoreApplication::exit(0); }, Qt::QueuedConnection);
}

const char* QtAppControl::EndReason() const { return m_reason; }

void LogEnd(const QtAppControl& app, int status) {
  LogEvent("info",
           std::string("end: ") + app.EndReason() + ", exit status " + std::to_string(status));
}

}  // namespace ventari
