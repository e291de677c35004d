#pragma once
// Starting outside programs: the command line is split by the Windows command-line rules and
// started without a shell, in its own process group.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace ventari {

class ProgramRunner {
 public:
  virtual ~ProgramRunner() = default;
  // Starts the command line; with `wait`, returns after the process has ended (without limit and
  // without dispatching events). False when the process could not be created.
  virtual bool RunProgram(const std::string& commandLine, bool wait) = 0;
};

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
};

}  // namespace ventari
