#pragma once
// Running the mail programs: finding them, feeding a message to one on its standard input and
// waiting for it. No shell is ever involved.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace ventari {

// The absolute path of a program that can be run: a name holding "/" is taken as a path (a
// relative one from the working folder of the moment), a bare name is looked for along PATH.
// Only a regular file with execute permission counts.
std::optional<std::string> LocateProgram(std::string_view program);

enum class RunOutcome {
  kNotStarted,  // the process could not be created
  kFailed,      // it exited non-zero, was killed, or did not take all of its input
  kSucceeded,   // it took all of its input and exited with 0
};

// Starts `programPath` with `argv` (argv[0] included), writes `input` to its standard input when
// given (otherwise it inherits ours), closes it and waits for the process without limit.
RunOutcome RunAndWait(const std::string& programPath, const std::vector<std::string>& argv,
                      const std::optional<std::string>& input);

}  // namespace ventari
