#include "mail/mail_process.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>

#include "platform/child_process.h"
#include "platform/group_child.h"
#include "platform/unique_fd.h"

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

namespace {

// The whole message as sendmail's input: it sees its end only where the message ends.
UniqueFd WholeMessageFile(const std::string& bytes) {
  return WholeInputFile("ventari-mail", bytes);
}

}  // namespace

RunOutcome RunAndWait(const std::string& programPath, const std::vector<std::string>& argv,
                      const std::optional<std::string>& input, std::chrono::milliseconds limit) {
  ChildSettings settings;
  settings.program = programPath;
  settings.argv = argv;
  settings.environment = CurrentEnvironment();
  UniqueFd message;
  if (input) {
    message = WholeMessageFile(*input);
    if (!message.valid()) return RunOutcome::kNotStarted;
    settings.standardInput = message.get();
  } else {
    settings.standardInput = STDIN_FILENO;
  }
  // Its own process group, so that a program that hangs goes with everything it started; and
  // it dies with us, so that a hand-over cut by our death is an aborted transaction that the
  // restarted robot does again, not a mail it never learns was sent.
  settings.ownProcessGroup = true;
  settings.dieWithParent = true;
  const std::optional<pid_t> pid = LaunchChild(settings);
  if (!pid) return RunOutcome::kNotStarted;
  const std::optional<int> status = WaitForChildEnd(*pid, std::chrono::steady_clock::now() + limit);
  if (!status) {
    ::kill(-*pid, SIGKILL);
    ReapChild(*pid);
    return RunOutcome::kTimedOut;
  }
  // The file's offset is shared with the child: a program that left without reading the whole
  // message did not take it, whatever its exit status says.
  const bool tookInput =
      !input || ::lseek(message.get(), 0, SEEK_CUR) == static_cast<off_t>(input->size());
  return tookInput && *status >= 0 && WIFEXITED(*status) && WEXITSTATUS(*status) == 0
             ? RunOutcome::kSucceeded
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
  ChildSettings settings;
  settings.program = programPath;
  settings.argv = argv;
  settings.environment = CurrentEnvironment();
  // A session of its own: it outlives the robot and no signal to the robot's group reaches it.
  settings.newSession = true;
  const std::optional<pid_t> pid = LaunchChild(settings);
  if (!pid) return false;
  m_pids.push_back(*pid);
  return true;
}

}  // namespace ventari
