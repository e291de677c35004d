#pragma once

#include <pthread.h>
#include <signal.h>

#include <ctime>

namespace ventari {

// Blocks SIGPIPE on this thread while writing into a pipe whose reader may already be gone (a
// sendmail that quit, a log reader that went away): the write then fails with EPIPE instead of
// ending the program. A SIGPIPE raised meanwhile is consumed before the old mask comes back,
// unless one was already pending before.
class SigpipeGuard {
 public:
  SigpipeGuard() {
    sigemptyset(&m_pipeOnly);
    sigaddset(&m_pipeOnly, SIGPIPE);
    sigset_t pending;
    sigemptyset(&pending);
    ::sigpending(&pending);
    m_wasPending = sigismember(&pending, SIGPIPE) == 1;
    ::pthread_sigmask(SIG_BLOCK, &m_pipeOnly, &m_saved);
  }
  ~SigpipeGuard() {
    if (!m_wasPending) {
      const timespec noWait{0, 0};
      while (::sigtimedwait(&m_pipeOnly, nullptr, &noWait) == SIGPIPE) {
      }
    }
    ::pthread_sigmask(SIG_SETMASK, &m_saved, nullptr);
  }
  SigpipeGuard(const SigpipeGuard&) = delete;
  SigpipeGuard& operator=(const SigpipeGuard&) = delete;

 private:
  sigset_t m_pipeOnly;
  sigset_t m_saved;
  bool m_wasPending = false;
};

}  // namespace ventari
