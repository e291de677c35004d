// The component's time-out timer on a QTimer of the UI thread.

#include <QCoreApplication>
#include <QTimer>

#include <climits>
#include <exception>

#include "net/powersock.h"
#include "platform/errors.h"

namespace ventari {

TThreadTimer::TThreadTimer() : m_timer(std::make_unique<QTimer>()) {
  QObject::connect(m_timer.get(), &QTimer::timeout, m_timer.get(), [this] {
    if (!m_onTimer) return;
    // A failing handler must not unwind through Qt's event dispatch: its error goes to the
    // display the owner named.
    try {
      m_onTimer(*this);
    } catch (const std::exception& e) {
      if (OnException) OnException(e.what());
    } catch (...) {
      if (OnException) OnException("Unknown error in the timer handler");
    }
  });
}

TThreadTimer::~TThreadTimer() {
  BeginDestroy();
  m_enabled = false;
  m_timer->stop();
}

void TThreadTimer::SetInterval(uint32_t milliseconds) {
  if (milliseconds == m_interval) return;
  m_interval = milliseconds;
  UpdateTimer();
}

void TThreadTimer::SetEnabled(bool enabled) {
  if (enabled == m_enabled) return;
  m_enabled = enabled;
  UpdateTimer();
}

void TThreadTimer::SetOnTimer(TNotifyEvent handler) {
  m_onTimer = std::move(handler);
  UpdateTimer();
}

void TThreadTimer::UpdateTimer() {
  m_timer->stop();
  if (m_interval == 0 || !m_enabled || !m_onTimer) return;
  // A timer needs the application's event loop.
  if (QCoreApplication::instance() == nullptr) throw Exception("No Timer");
  // QTimer counts in int milliseconds; beyond that lies more than three weeks anyway.
  m_timer->start(m_interval > static_cast<uint32_t>(INT_MAX) ? INT_MAX
                                                             : static_cast<int>(m_interval));
}

}  // namespace ventari
