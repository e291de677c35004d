#include "app/stop_signals.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <QSocketNotifier>
#include <cerrno>
#include <cstdio>

#include "app/qt_app_control.h"
#include "platform/event_log.h"

namespace ventari {

namespace {

// The one pipe of the process and its flag: a signal handler can reach nothing else.
int g_stopPipe[2] = {-1, -1};
volatile sig_atomic_t g_stopReceived = 0;

void OnStopSignal(int) {
  g_stopReceived = 1;
  const int saved = errno;
  const char byte = 1;
  [[maybe_unused]] const ssize_t written = ::write(g_stopPipe[1], &byte, 1);
  errno = saved;
}

}  // namespace

bool StopSignalReceived() { return g_stopReceived != 0; }

StopSignals::StopSignals(QtAppControl& app) : m_app(app) {
  if (::pipe2(g_stopPipe, O_CLOEXEC | O_NONBLOCK) != 0) return;
  m_notifier = new QSocketNotifier(g_stopPipe[0], QSocketNotifier::Read, this);
  connect(m_notifier, &QSocketNotifier::activated, this, &StopSignals::Stop);
  struct sigaction action {};
  action.sa_handler = OnStopSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  ::sigaction(SIGTERM, &action, nullptr);
  ::sigaction(SIGINT, &action, nullptr);
}

StopSignals::~StopSignals() {
  ::signal(SIGTERM, SIG_DFL);
  ::signal(SIGINT, SIG_DFL);
  for (int& fd : g_stopPipe) {
    if (fd >= 0) ::close(fd);
    fd = -1;
  }
}

void StopSignals::Stop() {
  char bytes[64];
  while (::read(g_stopPipe[0], bytes, sizeof bytes) > 0) {
  }
  LogEvent("info", "stop asked for by a signal (TERM or INT)");
  m_app.RequestStop();
}

}  // namespace ventari
