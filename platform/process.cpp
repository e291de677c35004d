#include "platform/process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <optional>

#include "platform/child_process.h"
#include "platform/errors.h"
#include "platform/files.h"
#include "platform/unique_fd.h"

namespace ventari {

std::vector<std::string> SplitCommandLine(std::string_view commandLine) {
  std::vector<std::string> args;
  std::string current;
  bool inArgument = false;  // also true for an argument made only of quotes ("")
  bool inQuotes = false;
  std::size_t i = 0;
  while (i < commandLine.size()) {
    const char c = commandLine[i];
    if ((c == ' ' || c == '\t') && !inQuotes) {
      if (inArgument) args.push_back(std::move(current));
      current.clear();
      inArgument = false;
      ++i;
      continue;
    }
    inArgument = true;
    if (c == '\\') {
      std::size_t count = 0;
      while (i < commandLine.size() && commandLine[i] == '\\') {
        ++count;
        ++i;
      }
      if (i < commandLine.size() && commandLine[i] == '"') {
        current.append(count / 2, '\\');
        if (count % 2 == 1) {
          current.push_back('"');
          ++i;
        }
        // With an even count the quote is handled as a plain quote on the next round.
      } else {
        current.append(count, '\\');
      }
      continue;
    }
    if (c == '"') {
      if (inQuotes && i + 1 < commandLine.size() && commandLine[i + 1] == '"') {
        current.push_back('"');  // "" inside a quoted run is one literal quote
        i += 2;
        continue;
      }
      inQuotes = !inQuotes;
      ++i;
      continue;
    }
    current.push_back(c);
    ++i;
  }
  if (inArgument) args.push_back(std::move(current));
  return args;
}

std::string QuoteArgument(std::string_view argument) {
  if (!argument.empty() && argument.find_first_of(" \t\"") == std::string_view::npos)
    return std::string(argument);
  std::string quoted = "\"";
  std::size_t backslashes = 0;
  for (const char c : argument) {
    if (c == '\\') {
      ++backslashes;
      continue;
    }
    // Backslashes are plain unless a quote follows them: then each is doubled.
    quoted.append(c == '"' ? 2 * backslashes + 1 : backslashes, '\\');
    backslashes = 0;
    quoted.push_back(c);
  }
  quoted.append(2 * backslashes, '\\');  // before the closing quote
  quoted.push_back('"');
  return quoted;
}

namespace {

enum class ProgramKind { kNone, kNative, kWindows };

// A Windows executable starts with "MZ"; such a file need not carry the execute bit, since wine
// only reads it.
bool StartsWithMz(const std::string& path) {
  UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (!fd.valid()) return false;
  char magic[2] = {};
  ssize_t n;
  do {
    n = ::read(fd.get(), magic, sizeof magic);
  } while (n < 0 && errno == EINTR);
  return n == 2 && magic[0] == 'M' && magic[1] == 'Z';
}

ProgramKind Classify(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return ProgramKind::kNone;
  if (StartsWithMz(path)) return ProgramKind::kWindows;
  return ::access(path.c_str(), X_OK) == 0 ? ProgramKind::kNative : ProgramKind::kNone;
}

struct Program {
  std::string path;
  ProgramKind kind = ProgramKind::kNone;
};

// A name with a "/" is taken as it stands; a bare name is looked for along PATH, as the shell
// would (an empty PATH entry is the working folder).
std::optional<Program> FindProgram(const std::string& name, bool allowWindows) {
  auto accept = [allowWindows](const std::string& path) -> std::optional<Program> {
    const ProgramKind kind = Classify(path);
    if (kind == ProgramKind::kNative || (kind == ProgramKind::kWindows && allowWindows))
      return Program{path, kind};
    return std::nullopt;
  };
  if (name.empty()) return std::nullopt;
  if (name.find('/') != std::string::npos) return accept(name);
  const char* pathVariable = std::getenv("PATH");
  const std::string_view searchPath = pathVariable ? pathVariable : "/usr/local/bin:/usr/bin:/bin";
  std::size_t start = 0;
  for (;;) {
    const std::size_t end = std::min(searchPath.find(':', start), searchPath.size());
    const std::string_view dir = searchPath.substr(start, end - start);
    const std::string candidate = dir.empty() ? name : std::string(dir) + "/" + name;
    if (auto found = accept(candidate)) return found;
    if (end == searchPath.size()) return std::nullopt;
    start = end + 1;
  }
}

// Children started without waiting are reaped by pid at the next start, so none stays a zombie
// for longer than until then. Only our own pids are waited for: other parts of the program may
// have children of their own.
std::mutex g_unwaitedMutex;
std::vector<pid_t> g_unwaited;

void ReapFinishedChildren() {
  std::lock_guard lock(g_unwaitedMutex);
  std::erase_if(g_unwaited, [](pid_t pid) {
    int status = 0;
    pid_t result;
    do {
      result = ::waitpid(pid, &status, WNOHANG);
    } while (result < 0 && errno == EINTR);
    return result != 0;  // ended and reaped, or no longer ours to wait for
  });
}

void RememberUnwaited(pid_t pid) {
  std::lock_guard lock(g_unwaitedMutex);
  g_unwaited.push_back(pid);
}

// The wine command: VENTARI_WINE split as a command line, its program found on the PATH.
std::optional<std::vector<std::string>> WineCommand() {
  const char* configured = std::getenv("VENTARI_WINE");
  std::vector<std::string> command =
      configured && *configured ? SplitCommandLine(configured) : std::vector<std::string>{"wine"};
  if (command.empty()) return std::nullopt;
  const std::optional<Program> wine = FindProgram(NativePath(command[0]), false);
  if (!wine) return std::nullopt;
  command[0] = wine->path;
  return command;
}

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

}  // namespace

std::optional<ResolvedCommand> ResolveCommandLine(std::string_view commandLine) {
  // The line ends at its first NUL, as a zero-terminated string would.
  commandLine = commandLine.substr(0, commandLine.find('\0'));
  std::vector<std::string> args = SplitCommandLine(commandLine);
  if (args.empty()) return std::nullopt;

  std::optional<Program> program = FindProgram(NativePath(args[0]), true);
  std::size_t start = 0;
  while (start < commandLine.size() && IsBlank(commandLine[start])) ++start;
  if (!program && commandLine[start] != '"') {
    // Each blank after the first word ends a longer candidate; the rest are the arguments.
    for (std::size_t end = start; end <= commandLine.size() && !program; ++end) {
      if (end < commandLine.size() && !IsBlank(commandLine[end])) continue;
      if (end > start && IsBlank(commandLine[end - 1])) continue;  // inside a run of blanks
      const std::string_view candidate = commandLine.substr(start, end - start);
      if (candidate.find('"') != std::string_view::npos) break;
      program = FindProgram(NativePath(candidate), true);
      if (program) {
        args = SplitCommandLine(commandLine.substr(end));
        args.insert(args.begin(), std::string(candidate));
      }
    }
  }
  if (!program) return std::nullopt;

  ResolvedCommand resolved;
  resolved.program = program->path;
  args[0] = program->path;
  if (program->kind == ProgramKind::kWindows) {
    std::optional<std::vector<std::string>> wine = WineCommand();
    if (!wine) return std::nullopt;
    resolved.throughWine = true;
    args.insert(args.begin(), wine->begin(), wine->end());
  }
  resolved.argv = std::move(args);
  return resolved;
}

std::vector<std::string> WineEnvironment(const std::vector<std::string>& environment) {
  std::vector<std::string> result = environment;
  for (const char* setting : {"WINEDEBUG=-all", "WINEDLLOVERRIDES=mscoree,mshtml="}) {
    const std::string_view name(setting, std::strchr(setting, '=') - setting + 1);
    const bool set = std::any_of(environment.begin(), environment.end(),
                                 [&](const std::string& entry) { return entry.starts_with(name); });
    if (!set) result.emplace_back(setting);
  }
  return result;
}

ProgramOutcome ProgramRunner::RunProgramWithin(const std::string& commandLine,
                                               std::chrono::milliseconds /*limit*/,
                                               const StartedHook& /*started*/) {
  return RunProgram(commandLine, true) ? ProgramOutcome::kEnded : ProgramOutcome::kNotStarted;
}

namespace {

// The stat line of a process; 0, or the errno that kept it from being read. No exception: this
// is asked in a loop, and with no descriptor left.
int ReadProcStat(int pid, std::string& stat) {
  const std::string path = "/proc/" + std::to_string(pid) + "/stat";
  const UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (!fd.valid()) return errno;
  char buffer[1024];
  ssize_t n;
  do {
    n = ::read(fd.get(), buffer, sizeof buffer);
  } while (n < 0 && errno == EINTR);
  if (n < 0) return errno;
  stat.assign(buffer, static_cast<std::size_t>(n));
  return 0;
}

std::optional<unsigned long long> StartTimeIn(const std::string& stat) {
  // The name in parentheses may hold blanks; the fields after it are plain. The start time is
  // the 22nd field: 19 blanks after the one that follows the closing parenthesis.
  const std::size_t close = stat.rfind(')');
  if (close == std::string::npos) return std::nullopt;
  std::size_t at = close + 1;
  for (int field = 0; field < 19 && at != std::string::npos; ++field) at = stat.find(' ', at + 1);
  if (at == std::string::npos) return std::nullopt;
  return std::strtoull(stat.c_str() + at + 1, nullptr, 10);
}

}  // namespace

std::optional<unsigned long long> ProcessStartTime(int pid) {
  std::string stat;
  if (ReadProcStat(pid, stat) != 0) return std::nullopt;
  return StartTimeIn(stat);
}

namespace {

enum class Liveness { kSame, kGone, kUnknown };

// Whether the process still runs under that identity. Unknown when /proc cannot be read (no
// descriptor left): the id may still be the process's, so nothing is concluded.
Liveness LookAt(const ProcessIdentity& process) {
  std::string stat;
  const int error = ReadProcStat(process.pid, stat);
  if (error == ENOENT || error == ESRCH) return Liveness::kGone;
  if (error != 0) {
    if (::kill(process.pid, 0) != 0 && errno == ESRCH) return Liveness::kGone;
    return Liveness::kUnknown;
  }
  const std::optional<unsigned long long> start = StartTimeIn(stat);
  if (!start || *start != process.startTime) return Liveness::kGone;
  // A zombie (ended, not yet reaped by its parent) has finished its work.
  const std::size_t close = stat.rfind(')');
  return close != std::string::npos && stat.compare(close, 3, ") Z") == 0 ? Liveness::kGone
                                                                          : Liveness::kSame;
}

bool SameProcess(const ProcessIdentity& process) { return LookAt(process) == Liveness::kSame; }

constexpr std::chrono::seconds kTermGrace{5};
constexpr std::chrono::milliseconds kLookInterval{100};

// `wineserver -k` for the prefix the game ran in: wine's server outlives the game otherwise.
void StopWineServer(const ResolvedCommand& command) {
  const std::string wine = command.argv[0];
  const std::string beside = wine.substr(0, wine.rfind('/') + 1) + "wineserver";
  const std::string server = ::access(beside.c_str(), X_OK) == 0 ? beside : "wineserver";
  PosixProgramRunner runner;
  runner.RunProgramWithin(QuoteArgument(server) + " -k", std::chrono::seconds(30), {});
}

}  // namespace

bool WaitForProcessEnd(const ProcessIdentity& process, std::chrono::milliseconds limit) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  const UniqueFd pidfd = OpenPidFd(process.pid);
  if (LookAt(process) == Liveness::kGone) return true;
  if (pidfd.valid()) return PollEnd(pidfd, deadline) || LookAt(process) == Liveness::kGone;
  // No pidfd (an old kernel, a seccomp profile, no descriptor left): its start time tells.
  for (;;) {
    if (LookAt(process) == Liveness::kGone) return true;
    if (std::chrono::steady_clock::now() >= deadline) return false;
    SleepAtMostUntil(deadline, kLookInterval);
  }
}

void EndProcessGroup(const ProcessIdentity& leader) {
  if (SameProcess(leader)) {
    ::kill(-leader.pid, SIGTERM);
    WaitForProcessEnd(leader, kTermGrace);
  }
  // Whatever of the group is left, the leader gone or not.
  ::kill(-leader.pid, SIGKILL);
}

namespace {

std::optional<StartedChild> StartResolved(const ResolvedCommand& command, bool gated) {
  ChildSettings settings;
  settings.argv = command.argv;
  settings.environment = CurrentEnvironment();
  if (command.throughWine) settings.environment = WineEnvironment(settings.environment);
  // Its own process group, so a signal meant for ours does not reach it; nothing to read: a
  // program of our session reading the terminal would be stopped (SIGTTIN) for ever.
  settings.ownProcessGroup = true;
  settings.gated = gated;
  return StartChild(settings);
}

}  // namespace

ProgramOutcome PosixProgramRunner::RunProgramWithin(const std::string& commandLine,
                                                    std::chrono::milliseconds limit,
                                                    const StartedHook& started) {
  ReapFinishedChildren();
  const std::optional<ResolvedCommand> command = ResolveCommandLine(commandLine);
  if (!command) return ProgramOutcome::kNotStarted;
  std::optional<StartedChild> child = StartResolved(*command, /*gated=*/true);
  if (!child) return ProgramOutcome::kNotStarted;
  const pid_t pid = child->pid();
  const ProcessIdentity identity{pid, ProcessStartTime(pid).value_or(0)};
  if (started && !started(identity)) {
    child->Cancel();
    ReapChild(pid);
    return ProgramOutcome::kNotReleased;
  }
  if (!child->Release()) {
    ReapChild(pid);
    return ProgramOutcome::kNotStarted;
  }
  if (WaitForChildEnd(pid, std::chrono::steady_clock::now() + limit)) return ProgramOutcome::kEnded;
  EndProcessGroup(identity);
  if (command->throughWine) StopWineServer(*command);
  ReapChild(pid);
  return ProgramOutcome::kTimedOut;
}

bool PosixProgramRunner::RunProgram(const std::string& commandLine, bool wait) {
  ReapFinishedChildren();
  const std::optional<ResolvedCommand> command = ResolveCommandLine(commandLine);
  if (!command) return false;
  std::optional<StartedChild> child = StartResolved(*command, /*gated=*/false);
  if (!child) return false;
  const pid_t pid = child->pid();
  if (!child->Release()) {
    ReapChild(pid);
    return false;
  }
  if (!wait) {
    RememberUnwaited(pid);
    return true;
  }
  ReapChild(pid);
  return true;
}

}  // namespace ventari
