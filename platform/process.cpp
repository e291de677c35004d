#include "platform/process.h"

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
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <optional>

#include "platform/errors.h"
#include "platform/files.h"
#include "platform/unique_fd.h"

extern char** environ;

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

class SpawnSettings {
 public:
  SpawnSettings() {
    ::posix_spawnattr_init(&m_attr);
    ::posix_spawn_file_actions_init(&m_actions);
    // Its own process group, so a signal meant for ours does not reach it.
    short flags = POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF;
    ::posix_spawnattr_setflags(&m_attr, flags);
    ::posix_spawnattr_setpgroup(&m_attr, 0);
    // An ignored SIGPIPE (the socket layer's choice) would otherwise survive the exec.
    sigset_t set;
    sigemptyset(&set);
    ::posix_spawnattr_setsigmask(&m_attr, &set);
    sigaddset(&set, SIGPIPE);
    ::posix_spawnattr_setsigdefault(&m_attr, &set);
    // Nothing to read: a program of our own process group's session reading the terminal
    // would be stopped (SIGTTIN) and waited for without end.
    ::posix_spawn_file_actions_addopen(&m_actions, 0, "/dev/null", O_RDONLY, 0);
    // No handles are inherited beyond the standard three.
    ::posix_spawn_file_actions_addclosefrom_np(&m_actions, 3);
  }
  ~SpawnSettings() {
    ::posix_spawn_file_actions_destroy(&m_actions);
    ::posix_spawnattr_destroy(&m_attr);
  }
  SpawnSettings(const SpawnSettings&) = delete;
  SpawnSettings& operator=(const SpawnSettings&) = delete;

  const posix_spawnattr_t* attr() const { return &m_attr; }
  const posix_spawn_file_actions_t* actions() const { return &m_actions; }

 private:
  posix_spawnattr_t m_attr;
  posix_spawn_file_actions_t m_actions;
};

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

ProgramOutcome ProgramRunner::RunProgramWithin(
    const std::string& commandLine, std::chrono::milliseconds /*limit*/,
    const std::function<void(const ProcessIdentity&)>& /*started*/) {
  return RunProgram(commandLine, true) ? ProgramOutcome::kEnded : ProgramOutcome::kNotStarted;
}

std::optional<unsigned long long> ProcessStartTime(int pid) {
  std::string stat;
  try {
    stat = ReadWholeFile("/proc/" + std::to_string(pid) + "/stat");
  } catch (const EInOutError&) {
    return std::nullopt;
  }
  // The name in parentheses may hold blanks; the fields after it are plain. The start time is
  // the 22nd field: 19 blanks after the one that follows the closing parenthesis.
  const std::size_t close = stat.rfind(')');
  if (close == std::string::npos) return std::nullopt;
  std::size_t at = close + 1;
  for (int field = 0; field < 19 && at != std::string::npos; ++field) at = stat.find(' ', at + 1);
  if (at == std::string::npos) return std::nullopt;
  return std::strtoull(stat.c_str() + at + 1, nullptr, 10);
}

namespace {

bool SameProcess(const ProcessIdentity& process) {
  const std::optional<unsigned long long> start = ProcessStartTime(process.pid);
  if (!start) return false;
  if (*start != process.startTime) return false;
  // A zombie (ended, not yet reaped by its parent) has finished its work.
  const std::string stat = ReadWholeFile("/proc/" + std::to_string(process.pid) + "/stat");
  const std::size_t close = stat.rfind(')');
  return !(close != std::string::npos && stat.compare(close, 3, ") Z") == 0);
}

UniqueFd OpenPidFd(int pid) {
  return UniqueFd(static_cast<int>(::syscall(SYS_pidfd_open, pid, 0)));
}

// Waits on a pidfd until its process ends or the time is up; true when it ended.
bool PollEnd(const UniqueFd& pidfd, std::chrono::steady_clock::time_point deadline) {
  for (;;) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    pollfd entry{pidfd.get(), POLLIN, 0};
    const int ready = ::poll(&entry, 1, static_cast<int>(std::max<long long>(0, left.count())));
    if (ready > 0) return true;
    if (ready == 0) return false;
    if (errno != EINTR) return false;
  }
}

constexpr std::chrono::seconds kTermGrace{5};

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
  const UniqueFd pidfd = OpenPidFd(process.pid);
  if (!pidfd.valid() || !SameProcess(process)) return true;
  return PollEnd(pidfd, std::chrono::steady_clock::now() + limit) || !SameProcess(process);
}

void EndProcessGroup(const ProcessIdentity& leader) {
  if (SameProcess(leader)) {
    ::kill(-leader.pid, SIGTERM);
    WaitForProcessEnd(leader, kTermGrace);
  }
  // Whatever of the group is left, the leader gone or not.
  ::kill(-leader.pid, SIGKILL);
}

std::optional<int> PosixProgramRunner::Spawn(const ResolvedCommand& command) {
  std::vector<std::string> args = command.argv;
  std::vector<char*> argv;
  argv.reserve(args.size() + 1);
  for (std::string& arg : args) argv.push_back(arg.data());
  argv.push_back(nullptr);

  std::vector<std::string> environment;
  for (char** entry = environ; *entry; ++entry) environment.emplace_back(*entry);
  if (command.throughWine) environment = WineEnvironment(environment);
  std::vector<char*> envp;
  envp.reserve(environment.size() + 1);
  for (std::string& entry : environment) envp.push_back(entry.data());
  envp.push_back(nullptr);

  SpawnSettings settings;
  pid_t pid = 0;
  // glibc reports a failed exec as the result of posix_spawn itself.
  if (::posix_spawn(&pid, argv[0], settings.actions(), settings.attr(), argv.data(), envp.data()) !=
      0)
    return std::nullopt;
  return pid;
}

ProgramOutcome PosixProgramRunner::RunProgramWithin(
    const std::string& commandLine, std::chrono::milliseconds limit,
    const std::function<void(const ProcessIdentity&)>& started) {
  ReapFinishedChildren();
  const auto deadline = std::chrono::steady_clock::now() + limit;
  const std::optional<ResolvedCommand> command = ResolveCommandLine(commandLine);
  if (!command) return ProgramOutcome::kNotStarted;
  const std::optional<int> pid = Spawn(*command);
  if (!pid) return ProgramOutcome::kNotStarted;
  const ProcessIdentity identity{*pid, ProcessStartTime(*pid).value_or(0)};
  if (started) started(identity);

  // The child stays a zombie until reaped, so the pidfd and its id remain ours meanwhile.
  const UniqueFd pidfd = OpenPidFd(*pid);
  const bool ended = pidfd.valid() && PollEnd(pidfd, deadline);
  if (!ended) {
    EndProcessGroup(identity);
    if (command->throughWine) StopWineServer(*command);
  }
  int status = 0;
  while (::waitpid(*pid, &status, 0) < 0 && errno == EINTR) {
  }
  return ended ? ProgramOutcome::kEnded : ProgramOutcome::kTimedOut;
}

bool PosixProgramRunner::RunProgram(const std::string& commandLine, bool wait) {
  ReapFinishedChildren();

  std::optional<ResolvedCommand> command = ResolveCommandLine(commandLine);
  if (!command) return false;
  const std::optional<int> spawned = Spawn(*command);
  if (!spawned) return false;
  const pid_t pid = *spawned;

  if (!wait) {
    RememberUnwaited(pid);
    return true;
  }
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  return true;
}

}  // namespace ventari
