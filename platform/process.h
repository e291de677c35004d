#pragma once
// Starting outside programs: the command line is split by the Windows command-line rules and
// started without a shell, in its own process group.

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace ventari {

// A process as a journal names it: its id and its start time (clock ticks after boot), so that a
// later run does not take another process that got the same id for it.
struct ProcessIdentity {
  int pid = 0;
  unsigned long long startTime = 0;
};

enum class ProgramOutcome {
  kNotStarted,   // the process could not be created, or its program could not be executed
  kNotReleased,  // `started` refused: the process ended without running its program
  kEnded,
  kTimedOut,
};

// Learns the process before it runs its program; false stops it there. The program runs only
// once this has returned true, so whoever must know about it (a journal) knows first.
using StartedHook = std::function<bool(const ProcessIdentity&)>;

class ProgramRunner {
 public:
  virtual ~ProgramRunner() = default;
  // Starts the command line; with `wait`, returns after the process has ended (without limit and
  // without dispatching events). False when the process could not be created.
  virtual bool RunProgram(const std::string& commandLine, bool wait) = 0;
  // Starts the command line and waits for it at most `limit`; past it the program's whole
  // process group is ended (and wine's server with it). `started`, when given, learns the
  // process before its program runs.
  virtual ProgramOutcome RunProgramWithin(const std::string& commandLine,
                                          std::chrono::milliseconds limit,
                                          const StartedHook& started);
};

// The start time of a running process, or nothing when there is no such process.
std::optional<unsigned long long> ProcessStartTime(int pid);
// Waits until the process is gone, at most `limit`; true once it is gone (or when the id now
// names another process). It waits on a pidfd, or, when none can be had, looks at the process
// every 100 ms.
bool WaitForProcessEnd(const ProcessIdentity& process, std::chrono::milliseconds limit);
// Ends a process group: TERM, then KILL after a few seconds for what is left.
void EndProcessGroup(const ProcessIdentity& leader);

// Splits a command line into arguments by the Windows rules: blanks and tabs separate, double
// quotes group and are removed, backslashes before a double quote follow the doubling rules.
std::vector<std::string> SplitCommandLine(std::string_view commandLine);

// The argument as a command line carries it: as it is when it has no blank, tab or quote,
// otherwise quoted so that SplitCommandLine gives it back whole.
std::string QuoteArgument(std::string_view argument);

// How a command line is started: the program it names and what is executed for it. A Windows
// executable ("MZ" at its start) runs through wine: VENTARI_WINE (a command line) when set,
// otherwise `wine` from the PATH.
struct ResolvedCommand {
  std::string program;  // the program file the command line names
  bool throughWine = false;
  std::vector<std::string> argv;  // what is executed; argv[0] is the file run
};

// The program is the first argument; when that is no program and the line does not start with a
// quote, longer and longer prefixes of the line up to a blank are tried, as the Windows start
// does for an unquoted path with blanks ("C:\Program Files\stars\stars.exe -g a.hst").
// Nothing when no program can be found or wine cannot.
std::optional<ResolvedCommand> ResolveCommandLine(std::string_view commandLine);

// The variables wine gets on top of the program's environment, unless the host set them:
// quiet diagnostics, and no dialog of a new wine prefix offering components the game does not
// need (nobody would answer it on a machine without a screen).
std::vector<std::string> WineEnvironment(const std::vector<std::string>& environment);

class PosixProgramRunner final : public ProgramRunner {
 public:
  bool RunProgram(const std::string& commandLine, bool wait) override;
  ProgramOutcome RunProgramWithin(const std::string& commandLine, std::chrono::milliseconds limit,
                                  const StartedHook& started) override;
};

}  // namespace ventari
