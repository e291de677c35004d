#pragma once
// Starting a child process with what posix_spawn cannot give: a gate that holds the child before
// it executes its program until the parent has recorded it, and a child that dies with its
// parent. No shell is involved; the child only calls async-signal-safe functions before exec.

#include <sys/types.h>

#include <csignal>

#include <chrono>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/unique_fd.h"

namespace ventari {

struct ChildSettings {
  std::string program;  // the file executed; empty: argv[0]
  std::vector<std::string> argv;
  std::vector<std::string> environment;  // the child's whole environment
  int standardInput = -1;                // -1: /dev/null
  int standardOutput = -1;               // -1: the parent's; else stdout and stderr both
  bool ownProcessGroup = true;
  bool newSession = false;
  // SIGKILL when the parent dies (cleared by the kernel for set-user-ID programs).
  bool dieWithParent = false;
  int deathSignal = SIGKILL;  // what dieWithParent sends
  // The child waits before exec until Release(); it ends without running its program when the
  // parent closes the gate first or dies.
  bool gated = false;
};

class StartedChild {
 public:
  StartedChild() = default;
  StartedChild(pid_t pid, UniqueFd gate, UniqueFd execReport)
      : m_pid(pid), m_gate(std::move(gate)), m_execReport(std::move(execReport)) {}

  pid_t pid() const { return m_pid; }
  // Lets a gated child execute its program; true once it has (false: the exec failed, and the
  // child has ended). For a child without a gate, whether its exec succeeded.
  bool Release();
  // Closes the gate: the child ends without running anything.
  void Cancel();

 private:
  pid_t m_pid = -1;
  UniqueFd m_gate;
  UniqueFd m_execReport;  // end of file once the exec succeeded; the errno otherwise
};

// The child, or nothing when it could not be created. The caller reaps it.
std::optional<StartedChild> StartChild(const ChildSettings& settings);

// Waits for our own child to end, at most until `deadline`, and reaps it: its wait status
// (-1 when it was no longer ours to wait for), nothing when it still runs. It waits on a pidfd,
// or without one (an old kernel, no descriptor left) asks waitpid at a short interval.
std::optional<int> WaitForChildEnd(pid_t pid, std::chrono::steady_clock::time_point deadline);
// Waits for our own child without limit; its wait status, -1 when it was not ours.
int ReapChild(pid_t pid);

// A pidfd for the process, invalid when none can be had.
UniqueFd OpenPidFd(pid_t pid);
// Waits on a pidfd until its process ends or the time is up; true when it ended.
bool PollEnd(const UniqueFd& pidfd, std::chrono::steady_clock::time_point deadline);
// Sleeps `most` at most, and not past `deadline` (at least a millisecond).
void SleepAtMostUntil(std::chrono::steady_clock::time_point deadline,
                      std::chrono::milliseconds most);

// The whole of `bytes` in an anonymous file (named `name` for /proc) read from its start: a child
// given it as its input sees its end only where the bytes end, never where a writer killed in
// mid-write stopped. Invalid when it cannot be made.
UniqueFd WholeInputFile(const char* name, std::string_view bytes);

// This process's environment as strings.
std::vector<std::string> CurrentEnvironment();

}  // namespace ventari
