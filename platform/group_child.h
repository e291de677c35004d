#pragma once
// A command run in a process group of its own and watched without waiting: its output read in
// lines as it comes, its end, and its whole group ended with it. A child still running when the
// object goes is ended with its group and reaped.

#include <sys/types.h>

#include <optional>
#include <string>
#include <vector>

#include "platform/child_process.h"
#include "platform/unique_fd.h"

namespace ventari {

class GroupChild {
 public:
  // Started with `settings`, in its own group, its output and errors into a pipe read here;
  // nothing when it cannot be started.
  static std::optional<GroupChild> Start(ChildSettings settings);
  GroupChild(GroupChild&& other) noexcept;
  // A child still running here is ended first.
  GroupChild& operator=(GroupChild&& other) noexcept;
  ~GroupChild();

  pid_t pid() const { return m_pid; }
  // The lines of output ended since the last call; with `all`, what is left too. A line longer
  // than `longest` without an end comes cut rather than kept growing.
  std::vector<std::string> Lines(bool all, std::size_t longest);
  // Its wait status once it has ended (reaped), nothing while it runs.
  std::optional<int> Ended();
  // Its group ended with KILL and the child reaped: its wait status.
  int Kill();
  // What it left behind in its group, once it has ended.
  void KillGroup() const;

 private:
  GroupChild(pid_t pid, UniqueFd output) : m_pid(pid), m_output(std::move(output)) {}
  pid_t m_pid = -1;  // -1 once reaped
  pid_t m_group = -1;
  UniqueFd m_output;
  std::string m_partial;  // a line not ended yet
};

// Started and let run its program: the child's pid, or nothing when it could not be started
// (a child that failed its exec is reaped). The caller reaps it.
std::optional<pid_t> LaunchChild(const ChildSettings& settings);

}  // namespace ventari
