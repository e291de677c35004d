#pragma once
// Starting outside programs: the command line is split by the Windows command-line rules and
// started without a shell, in its own process group.

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

class PosixProgramRunner final : public ProgramRunner {
 public:
  bool RunProgram(const std::string& commandLine, bool wait) override;
};

}  // namespace ventari
