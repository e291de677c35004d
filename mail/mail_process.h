#pragma once
// Running the mail programs: finding them, feeding a message to one on its standard input and
// waiting for it. No shell is ever involved.

#include <chrono>
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
  kTimedOut,    // it had not finished within the limit: its whole process group was killed
  kSucceeded,   // it took all of its input and exited with 0
};

// Starts `programPath` with `argv` (argv[0] included) in a process group of its own, with
// `input` as its standard input when given (from a file that holds it whole; otherwise it
// inherits ours), and waits for the process at most `limit`; a program still running then is
// killed with its whole group. The program dies with this process, so a hand-over cut by our
// death is never completed behind our back.
RunOutcome RunAndWait(const std::string& programPath, const std::vector<std::string>& argv,
                      const std::optional<std::string>& input, std::chrono::milliseconds limit);

// Programs started without waiting for them (a desktop's mail client may stay open for hours).
// Each runs in a session of its own with its standard input on /dev/null; those that have ended
// are reaped at the next start and when the owner goes, the others are left running.
class DetachedPrograms {
 public:
  DetachedPrograms() = default;
  DetachedPrograms(const DetachedPrograms&) = delete;
  DetachedPrograms& operator=(const DetachedPrograms&) = delete;
  ~DetachedPrograms();

  // True when the program was started.
  bool Start(const std::string& programPath, const std::vector<std::string>& argv);

 private:
  void ReapEnded();

  std::vector<int> m_pids;
};

}  // namespace ventari
