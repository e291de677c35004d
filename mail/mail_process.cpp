#include "mail/mail_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <ctime>

#include "platform/sigpipe_guard.h"
#include "platform/unique_fd.h"

extern char** environ;

namespace ventari {

namespace {

bool IsRunnableFile(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && ::access(path.c_str(), X_OK) == 0;
}

std::string WorkingFolder() {
  std::string buffer(4096, '\0');
  while (::getcwd(buffer.data(), buffer.size()) == nullptr) {
    if (errno != ERANGE) return {};
    buffer.resize(buffer.size() * 2);
  }
  buffer.resize(buffer.find('\0'));
  return buffer;
}

std::string Absolute(const std::string& path) {
  if (!path.empty() && path.front() == '/') return path;
  return WorkingFolder() + "/" + path;
}

// Waits for the child when it goes out of scope, so no path leaves a zombie behind.
class ChildProcess {
 public:
  explicit ChildProcess(pid_t pid) : m_pid(pid) {}
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;
  ~ChildProcess() {
    if (m_pid > 0) Wait();
  }

  // True once the process has ended; it is then reaped, and Wait gives its outcome.
  bool Ended() {
    if (m_pid <= 0) return true;
    int status = 0;
    const pid_t done = ::waitpid(m_pid, &status, WNOHANG);
    if (done != m_pid) return done < 0 && errno == ECHILD;
    m_pid = -1;
    m_exitedWell = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    return true;
  }

  // True when the process ended by exiting with 0.
  bool Wait() {
    if (m_pid <= 0) return m_exitedWell;
    int status = 0;
    pid_t done;
    do {
      done = ::waitpid(m_pid, &status, 0);
    } while (done < 0 && errno == EINTR);
    m_pid = -1;
    m_exitedWell = done > 0 && WIFEXITED(status) && WEXITSTATUS(status) == 0;
    return m_exitedWell;
  }

 private:
  pid_t m_pid;
  bool m_exitedWell = false;
};

class SpawnFileActions {
 public:
  SpawnFileActions() { ::posix_spawn_file_actions_init(&m_actions); }
  ~SpawnFileActions() { ::posix_spawn_file_actions_destroy(&m_actions); }
  SpawnFileActions(const SpawnFileActions&) = delete;
  SpawnFileActions& operator=(const SpawnFileActions&) = delete;
  posix_spawn_file_actions_t* get() { return &m_actions; }

 private:
  posix_spawn_file_actions_t m_actions;
};

class SpawnAttributes {
 public:
  SpawnAttributes() { ::posix_spawnattr_init(&m_attr); }
  ~SpawnAttributes() { ::posix_spawnattr_destroy(&m_attr); }
  SpawnAttributes(const SpawnAttributes&) = delete;
  SpawnAttributes& operator=(const SpawnAttributes&) = delete;
  posix_spawnattr_t* get() { return &m_attr; }

 private:
  posix_spawnattr_t m_attr;
};

// The signal state a started program begins with: every signal at its default and none blocked,
// whatever this thread has set up (SIGPIPE must end a writer whose reader is gone, as usual).
void SetChildSignals(SpawnAttributes& attributes, short extraFlags) {
  sigset_t none;
  sigemptyset(&none);
  sigset_t defaults;
  sigemptyset(&defaults);
  sigaddset(&defaults, SIGPIPE);
  ::posix_spawnattr_setsigmask(attributes.get(), &none);
  ::posix_spawnattr_setsigdefault(attributes.get(), &defaults);
  ::posix_spawnattr_setflags(
      attributes.get(),
      static_cast<short>(POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF | extraFlags));
}

std::vector<char*> ArgPointers(const std::vector<std::string>& argv) {
  std::vector<char*> args;
  args.reserve(argv.size() + 1);
  for (const std::string& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
  args.push_back(nullptr);
  return args;
}

int MillisecondsLeft(std::chrono::steady_clock::time_point deadline) {
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
      deadline - std::chrono::steady_clock::now());
  return left.count() <= 0 ? 0 : static_cast<int>(std::min<std::int64_t>(left.count(), INT_MAX));
}

}  // namespace

std::optional<std::string> LocateProgram(std::string_view program) {
  if (program.empty()) return std::nullopt;
  const std::string name(program);
  if (name.find('/') != std::string::npos) {
    if (!IsRunnableFile(name)) return std::nullopt;
    return Absolute(name);
  }
  const char* path = std::getenv("PATH");
  const std::string_view folders = path != nullptr ? path : "/usr/local/bin:/usr/bin:/bin";
  std::size_t start = 0;
  while (start <= folders.size()) {
    std::size_t end = folders.find(':', start);
    if (end == std::string_view::npos) end = folders.size();
    const std::string_view folder = folders.substr(start, end - start);
    // An empty entry would mean the working folder, which is not a place to pick programs from.
    if (!folder.empty()) {
      const std::string candidate = std::string(folder) + "/" + name;
      if (IsRunnableFile(candidate)) return Absolute(candidate);
    }
    start = end + 1;
  }
  return std::nullopt;
}

RunOutcome RunAndWait(const std::string& programPath, const std::vector<std::string>& argv,
                      const std::optional<std::string>& input, std::chrono::milliseconds limit) {
  std::vector<char*> args = ArgPointers(argv);

  UniqueFd readEnd;
  UniqueFd writeEnd;
  SpawnFileActions actions;
  if (input) {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) return RunOutcome::kNotStarted;
    readEnd.reset(fds[0]);
    writeEnd.reset(fds[1]);
    // With our own standard input closed the pipe may land on 0, where dup2 would keep the
    // close-on-exec flag: move it out of the way first.
    if (readEnd.get() <= STDERR_FILENO) {
      readEnd.reset(::fcntl(readEnd.get(), F_DUPFD_CLOEXEC, STDERR_FILENO + 1));
      if (!readEnd.valid()) return RunOutcome::kNotStarted;
    }
    ::posix_spawn_file_actions_adddup2(actions.get(), readEnd.get(), STDIN_FILENO);
    // A program that stops reading must not stop us: the writes wait in poll, within the limit.
    ::fcntl(writeEnd.get(), F_SETFL, ::fcntl(writeEnd.get(), F_GETFL) | O_NONBLOCK);
  }

  // Its own process group, so that a program that hangs goes with everything it started.
  SpawnAttributes attributes;
  SetChildSignals(attributes, POSIX_SPAWN_SETPGROUP);
  ::posix_spawnattr_setpgroup(attributes.get(), 0);

  pid_t pid = -1;
  if (::posix_spawn(&pid, programPath.c_str(), actions.get(), attributes.get(), args.data(),
                    environ) != 0)
    return RunOutcome::kNotStarted;
  ChildProcess child(pid);
  readEnd.reset();

  // The end of the process is seen through its pidfd, in the same poll as the pipe.
  UniqueFd exited(static_cast<int>(::syscall(SYS_pidfd_open, pid, 0)));
  const auto deadline = std::chrono::steady_clock::now() + limit;
  bool tookInput = true;
  std::size_t written = 0;
  if (input && input->empty()) writeEnd.reset();
  bool ended = false;
  bool timedOut = false;
  {
    SigpipeGuard guard;
    while (!ended) {
      const int left = MillisecondsLeft(deadline);
      if (left == 0) {
        timedOut = true;
        break;
      }
      pollfd fds[2] = {{exited.get(), POLLIN, 0}, {writeEnd.get(), POLLOUT, 0}};
      // Without a pidfd (an old kernel) the exit is looked for every 20 ms.
      const int wait = exited.valid() ? left : std::min(left, 20);
      const int ready = ::poll(fds, 2, wait);
      if (ready < 0 && errno != EINTR) {
        timedOut = true;  // nothing left to wait with: treated as a program that hangs
        break;
      }
      if (writeEnd.valid() && (fds[1].revents & (POLLOUT | POLLERR | POLLHUP)) != 0) {
        const ssize_t n = ::write(writeEnd.get(), input->data() + written, input->size() - written);
        if (n > 0) written += static_cast<std::size_t>(n);
        if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) {
          tookInput = false;  // the reader has gone before taking the whole message
          writeEnd.reset();
        } else if (written == input->size()) {
          writeEnd.reset();
        }
      }
      if (exited.valid()) {
        ended = (fds[0].revents & POLLIN) != 0;
      } else {
        ended = child.Ended();
      }
    }
  }
  writeEnd.reset();
  if (timedOut) {
    ::kill(-pid, SIGKILL);
    child.Wait();
    return RunOutcome::kTimedOut;
  }
  const bool exitedWell = child.Wait();
  return exitedWell && tookInput && written == (input ? input->size() : 0) ? RunOutcome::kSucceeded
                                                                           : RunOutcome::kFailed;
}

DetachedPrograms::~DetachedPrograms() { ReapEnded(); }

void DetachedPrograms::ReapEnded() {
  std::erase_if(m_pids, [](int pid) {
    int status = 0;
    const pid_t done = ::waitpid(pid, &status, WNOHANG);
    return done == pid || (done < 0 && errno == ECHILD);
  });
}

bool DetachedPrograms::Start(const std::string& programPath, const std::vector<std::string>& argv) {
  ReapEnded();
  std::vector<char*> args = ArgPointers(argv);
  SpawnFileActions actions;
  ::posix_spawn_file_actions_addopen(actions.get(), STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  // A session of its own: it outlives the robot and no signal to the robot's group reaches it.
  SpawnAttributes attributes;
  SetChildSignals(attributes, POSIX_SPAWN_SETSID);
  pid_t pid = -1;
  if (::posix_spawn(&pid, programPath.c_str(), actions.get(), attributes.get(), args.data(),
                    environ) != 0)
    return false;
  m_pids.push_back(pid);
  return true;
}

}  // namespace ventari
