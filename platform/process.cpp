#include "platform/process.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <mutex>
#include <optional>

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

}  // namespace

bool PosixProgramRunner::RunProgram(const std::string& commandLine, bool wait) {
  ReapFinishedChildren();

  // The line ends at its first NUL, as a zero-terminated string would.
  std::vector<std::string> args = SplitCommandLine(std::string_view(commandLine.c_str()));
  if (args.empty()) return false;
  args[0] = NativePath(args[0]);

  const std::optional<Program> program = FindProgram(args[0], true);
  if (!program) return false;

  std::string executable = program->path;
  if (program->kind == ProgramKind::kWindows) {
    const std::optional<Program> wine = FindProgram("wine", false);
    if (!wine) return false;
    executable = wine->path;
    args[0] = program->path;
    args.insert(args.begin(), wine->path);
  }

  std::vector<char*> argv;
  argv.reserve(args.size() + 1);
  for (std::string& arg : args) argv.push_back(arg.data());
  argv.push_back(nullptr);

  SpawnSettings settings;
  pid_t pid = 0;
  // glibc reports a failed exec as the result of posix_spawn itself.
  if (::posix_spawn(&pid, executable.c_str(), settings.actions(), settings.attr(), argv.data(),
                    environ) != 0)
    return false;

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
