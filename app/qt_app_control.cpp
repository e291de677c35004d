#include "app/qt_app_control.h"

#include "app/stop_signals.h"

#include <QCoreApplication>
#include <QMetaObject>

#include <string>

#include "platform/event_log.h"

namespace ventari {

void QtAppControl::End(int status, const char* reason, const char* note) {
  if (m_ended) return;
  m_ended = true;
  m_reason = reason;
  m_note = note;
  // Queued, so it also works before the event loop has started (a failure at start-up). The
  // exit status tells a service manager whether to wait for the host or to try again.
  QMetaObject::invokeMethod(
      QCoreApplication::instance(), [status] { QCoreApplication::exit(status); },
      Qt::QueuedConnection);
}

void QtAppControl::RequestEnd() { End(kFailureExitStatus, "after the failure shown", "erreur"); }

void QtAppControl::RequestEndForRetry() {
  End(kTemporaryFailureExitStatus, "after the failure shown, a temporary one", "erreur passagère");
}

bool QtAppControl::EndRequested() const { return m_ended || StopSignalReceived(); }

void QtAppControl::RequestStop() {
  if (m_ended) return;
  m_ended = true;
  m_reason = "stopped by a signal";
  m_note = "arrêt demandé";
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
