#include "app/stop_signals.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <QSocketNotifier>
#include <cerrno>
#include <cstdio>
#include <string>

#include "app/qt_app_control.h"
#include "platform/event_log.h"
#include "platform/long_wait.h"

namespace ventari {

namespace {

// The pipes of the process and its flag: a signal handler can reach nothing else. The first
// wakes the event loop; the second a thread that answers at once, while the event loop may be
// held by the game's run.
int g_stopPipe[2] = {-1, -1};
int g_noticePipe[2] = {-1, -1};
volatile sig_atomic_t g_stopReceived = 0;

void OnStopSignal(int) {
  g_stopReceived = 1;
  const int saved = errno;
  const char byte = 1;
  [[maybe_unused]] const ssize_t woken = ::write(g_stopPipe[1], &byte, 1);
  [[maybe_unused]] const ssize_t noticed = ::write(g_noticePipe[1], &byte, 1);
  errno = saved;
}

// Says at once what the stop waits for, and that a second one changes nothing.
void AcknowledgeStops() {
  int count = 0;
  for (;;) {
    char byte;
    const ssize_t n = ::read(g_noticePipe[0], &byte, 1);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;  // closed: the robot is ending
    if (++count > 1) {
      LogEvent("info", "stop asked again: the robot is already stopping");
      continue;
    }
    const std::string waiting = CurrentLongWait();
    if (!waiting.empty())
      LogEvent("info", "stop asked: " + waiting + " is finished first, up to its time limit");
  }
}

}  // namespace

bool StopSignalReceived() { return g_stopReceived != 0; }

StopSignals::StopSignals(QtAppControl& app) : m_app(app) {
  if (::pipe2(g_stopPipe, O_CLOEXEC | O_NONBLOCK) != 0) return;
  if (::pipe2(g_noticePipe, O_CLOEXEC) == 0) {
    // Its writing end never blocks the handler; the reader waits.
    ::fcntl(g_noticePipe[1], F_SETFL, O_NONBLOCK);
    m_acknowledger = std::thread(AcknowledgeStops);
  }
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
  if (g_noticePipe[1] >= 0) ::close(g_noticePipe[1]);  // the thread reads the end of the pipe
  g_noticePipe[1] = -1;
  if (m_acknowledger.joinable()) m_acknowledger.join();
  for (int* pipe : {g_stopPipe, g_noticePipe}) {
    for (int i = 0; i < 2; ++i) {
      if (pipe[i] >= 0) ::close(pipe[i]);
      pipe[i] = -1;
    }
  }
}

void StopSignals::Stop() {
  char bytes[64];
  while (::read(g_stopPipe[0], bytes, sizeof bytes) > 0) {
  }
  if (m_stopSeen) return;  // a second one is acknowledged by the other thread
  m_stopSeen = true;
  LogEvent("info", "stop asked for by a signal (TERM or INT)");
  m_app.RequestStop();
}

}  // namespace ventari
