#include "mail/mail_process.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <ctime>

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

  // True when the process ended by exiting with 0.
  bool Wait() {
    int status = 0;
    pid_t done;
    do {
      done = ::waitpid(m_pid, &status, 0);
    } while (done < 0 && errno == EINTR);
    m_pid = -1;
    return done > 0 && WIFEXITED(status) && WEXITSTATUS(status) == 0;
  }

 private:
  pid_t m_pid;
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

// Blocks SIGPIPE on this thread while writing into a pipe whose reader may already be gone: the
// write then fails with EPIPE instead of ending the program. A SIGPIPE raised meanwhile is
// consumed before the old mask comes back, unless one was already pending before.
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

bool WriteAll(int fd, const std::string& bytes) {
  SigpipeGuard guard;
  const char* data = bytes.data();
  std::size_t left = bytes.size();
  while (left > 0) {
    const ssize_t n = ::write(fd, data, left);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    data += n;
    left -= static_cast<std::size_t>(n);
  }
  return true;
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
                      const std::optional<std::string>& input) {
  std::vector<char*> args;
  args.reserve(argv.size() + 1);
  for (const std::string& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
  args.push_back(nullptr);

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
  }

  // The child starts with every signal at its default and none blocked, whatever this thread
  // has set up (SIGPIPE must end a writer whose reader is gone, as usual).
  SpawnAttributes attributes;
  sigset_t none;
  sigemptyset(&none);
  sigset_t defaults;
  sigemptyset(&defaults);
  sigaddset(&defaults, SIGPIPE);
  ::posix_spawnattr_setsigmask(attributes.get(), &none);
  ::posix_spawnattr_setsigdefault(attributes.get(), &defaults);
  ::posix_spawnattr_setflags(attributes.get(), POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);

  pid_t pid = -1;
  if (::posix_spawn(&pid, programPath.c_str(), actions.get(), attributes.get(), args.data(),
                    environ) != 0)
    return RunOutcome::kNotStarted;
  ChildProcess child(pid);
  readEnd.reset();

  bool tookInput = true;
  if (input) {
    tookInput = WriteAll(writeEnd.get(), *input);
    writeEnd.reset();
  }
  const bool exitedWell = child.Wait();
  return exitedWell && tookInput ? RunOutcome::kSucceeded : RunOutcome::kFailed;
}

}  // namespace ventari
