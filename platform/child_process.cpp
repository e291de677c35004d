#include "platform/child_process.h"

#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <ctime>

extern char** environ;

namespace ventari {

namespace {

ssize_t ReadRetrying(int fd, void* buffer, std::size_t size) {
  ssize_t n;
  do {
    n = ::read(fd, buffer, size);
  } while (n < 0 && errno == EINTR);
  return n;
}

ssize_t WriteRetrying(int fd, const void* buffer, std::size_t size) {
  ssize_t n;
  do {
    n = ::write(fd, buffer, size);
  } while (n < 0 && errno == EINTR);
  return n;
}

// Everything below runs in the forked child: async-signal-safe calls only.
[[noreturn]] void ChildFails(int report, int error) {
  WriteRetrying(report, &error, sizeof error);
  ::_exit(127);
}

#ifndef CLOSE_RANGE_CLOEXEC
#define CLOSE_RANGE_CLOEXEC (1U << 2)
#endif

// Nothing but the standard three survives the exec; the exec report closes with the others.
void CloseOnExecFrom(int first, long limit) {
  if (::syscall(SYS_close_range, static_cast<unsigned>(first), ~0u, CLOSE_RANGE_CLOEXEC) == 0)
    return;
  for (int fd = first; fd < limit; ++fd) ::fcntl(fd, F_SETFD, FD_CLOEXEC);
}

[[noreturn]] void RunChild(const ChildSettings& settings, const char* program, char* const* argv,
                           char* const* envp, int input, int gate, int gateKeeper, int report,
                           pid_t parent, long fdLimit) {
  if (settings.newSession) {
    ::setsid();
  } else if (settings.ownProcessGroup) {
    ::setpgid(0, 0);
  }
  if (settings.dieWithParent) {
    ::prctl(PR_SET_PDEATHSIG, settings.deathSignal);
    if (::getppid() != parent) ::_exit(127);  // the parent died before the request took hold
  }
  // The parent's handlers are not for this process: every caught signal back to its default
  // (SIGPIPE too, which the socket layer ignores) before any is let through.
  struct sigaction plain {};
  plain.sa_handler = SIG_DFL;
  for (int signal = 1; signal < NSIG; ++signal) {
    struct sigaction current {};
    if (::sigaction(signal, nullptr, &current) != 0) continue;
    if (current.sa_handler != SIG_IGN || signal == SIGPIPE) ::sigaction(signal, &plain, nullptr);
  }
  sigset_t none;
  sigemptyset(&none);
  ::sigprocmask(SIG_SETMASK, &none, nullptr);

  if (gate >= 0) {
    // Our copy of the parent's end would keep the gate open after the parent let it go.
    ::close(gateKeeper);
    char go = 0;
    if (ReadRetrying(gate, &go, 1) != 1) ::_exit(127);  // cancelled, or the parent died
    ::close(gate);
  }
  if (input != STDIN_FILENO) {
    if (::dup2(input, STDIN_FILENO) < 0) ChildFails(report, errno);
  } else {
    ::fcntl(STDIN_FILENO, F_SETFD, 0);
  }
  if (settings.standardOutput >= 0) {
    if (::dup2(settings.standardOutput, STDOUT_FILENO) < 0 ||
        ::dup2(settings.standardOutput, STDERR_FILENO) < 0)
      ChildFails(report, errno);
  }
  CloseOnExecFrom(3, fdLimit);
  ::execve(program, argv, envp);
  ChildFails(report, errno);
}

// A descriptor on 0, 1 or 2 (the parent's own were closed) would be taken by the child's dup2.
bool KeepAboveStandard(UniqueFd& fd) {
  if (fd.get() > STDERR_FILENO) return true;
  fd.reset(::fcntl(fd.get(), F_DUPFD_CLOEXEC, STDERR_FILENO + 1));
  return fd.valid();
}

// Blocks every signal for its life: no handler of the parent may run in the child before exec.
class AllSignalsBlocked {
 public:
  AllSignalsBlocked() {
    sigset_t all;
    sigfillset(&all);
    ::pthread_sigmask(SIG_SETMASK, &all, &m_saved);
  }
  ~AllSignalsBlocked() { ::pthread_sigmask(SIG_SETMASK, &m_saved, nullptr); }
  AllSignalsBlocked(const AllSignalsBlocked&) = delete;
  AllSignalsBlocked& operator=(const AllSignalsBlocked&) = delete;

 private:
  sigset_t m_saved;
};

std::vector<char*> Pointers(const std::vector<std::string>& strings) {
  std::vector<char*> pointers;
  pointers.reserve(strings.size() + 1);
  for (const std::string& s : strings) pointers.push_back(const_cast<char*>(s.c_str()));
  pointers.push_back(nullptr);
  return pointers;
}

}  // namespace

std::vector<std::string> CurrentEnvironment() {
  std::vector<std::string> environment;
  for (char** entry = environ; *entry; ++entry) environment.emplace_back(*entry);
  return environment;
}

bool StartedChild::Release() {
  if (m_gate.valid()) {
    const char go = 1;
    const bool sent = WriteRetrying(m_gate.get(), &go, 1) == 1;
    m_gate.reset();
    if (!sent) return false;
  }
  if (!m_execReport.valid()) return false;
  int error = 0;
  const ssize_t n = ReadRetrying(m_execReport.get(), &error, sizeof error);
  m_execReport.reset();
  return n == 0;  // the report pipe closed on exec
}

void StartedChild::Cancel() {
  m_gate.reset();
  m_execReport.reset();
}

UniqueFd OpenPidFd(pid_t pid) {
  return UniqueFd(static_cast<int>(::syscall(SYS_pidfd_open, pid, 0)));
}

bool PollEnd(const UniqueFd& pidfd, std::chrono::steady_clock::time_point deadline) {
  for (;;) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    pollfd entry{pidfd.get(), POLLIN, 0};
    const int wait = static_cast<int>(std::clamp<long long>(left.count(), 0, INT_MAX));
    const int ready = ::poll(&entry, 1, wait);
    if (ready > 0) return true;
    if (ready == 0) return false;
    if (errno != EINTR) return false;
  }
}

void SleepAtMostUntil(std::chrono::steady_clock::time_point deadline,
                      std::chrono::milliseconds most) {
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
      deadline - std::chrono::steady_clock::now());
  const auto wait = std::clamp(left, std::chrono::milliseconds(1), most);
  timespec span{static_cast<time_t>(wait.count() / 1000),
                static_cast<long>(wait.count() % 1000) * 1000000L};
  while (::nanosleep(&span, &span) != 0 && errno == EINTR) {
  }
}

std::optional<int> WaitForChildEnd(pid_t pid, std::chrono::steady_clock::time_point deadline) {
  const UniqueFd pidfd = OpenPidFd(pid);
  if (pidfd.valid() && !PollEnd(pidfd, deadline)) return std::nullopt;
  for (;;) {
    int status = 0;
    const pid_t done = ::waitpid(pid, &status, pidfd.valid() ? 0 : WNOHANG);
    if (done == pid) return status;
    if (done < 0 && errno == ECHILD) return -1;
    if (done < 0 && errno == EINTR) continue;
    if (std::chrono::steady_clock::now() >= deadline) return std::nullopt;
    SleepAtMostUntil(deadline, std::chrono::milliseconds(20));
  }
}

int ReapChild(pid_t pid) {
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) return -1;
  }
  return status;
}

std::optional<StartedChild> StartChild(const ChildSettings& settings) {
  if (settings.argv.empty()) return std::nullopt;
  const std::vector<char*> argv = Pointers(settings.argv);
  const std::vector<char*> envp = Pointers(settings.environment);

  UniqueFd devNull;
  int input = settings.standardInput;
  if (input < 0) {
    devNull.reset(::open("/dev/null", O_RDONLY | O_CLOEXEC));
    if (!devNull.valid()) return std::nullopt;
    input = devNull.get();
  }
  int fds[2];
  if (::pipe2(fds, O_CLOEXEC) != 0) return std::nullopt;
  UniqueFd reportRead(fds[0]);
  UniqueFd reportWrite(fds[1]);
  if (!KeepAboveStandard(reportWrite)) return std::nullopt;
  UniqueFd gateRead;
  UniqueFd gateWrite;
  if (settings.gated) {
    if (::pipe2(fds, O_CLOEXEC) != 0) return std::nullopt;
    gateRead.reset(fds[0]);
    gateWrite.reset(fds[1]);
    if (!KeepAboveStandard(gateRead)) return std::nullopt;
  }
  struct rlimit limit {};
  const long fdLimit = ::getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY
                           ? static_cast<long>(limit.rlim_cur)
                           : 65536;
  const pid_t parent = ::getpid();
  pid_t pid;
  {
    AllSignalsBlocked blocked;
    pid = ::fork();
    if (pid == 0)
      RunChild(settings, settings.program.empty() ? argv[0] : settings.program.c_str(), argv.data(),
               envp.data(), input, gateRead.get(), gateWrite.get(), reportWrite.get(), parent,
               fdLimit);
  }
  if (pid < 0) return std::nullopt;
  // Also from this side, so that no signal to the group can come before the child's own call.
  if (settings.ownProcessGroup && !settings.newSession) ::setpgid(pid, pid);
  reportWrite.reset();
  gateRead.reset();
  StartedChild child(pid, std::move(gateWrite), std::move(reportRead));
  return child;
}

UniqueFd WholeInputFile(const char* name, std::string_view bytes) {
  UniqueFd file(::memfd_create(name, MFD_CLOEXEC));
  if (!file.valid()) return file;
  std::size_t written = 0;
  while (written < bytes.size()) {
    const ssize_t n = ::write(file.get(), bytes.data() + written, bytes.size() - written);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return UniqueFd();
    written += static_cast<std::size_t>(n);
  }
  if (::lseek(file.get(), 0, SEEK_SET) != 0) return UniqueFd();
  return file;
}

}  // namespace ventari
