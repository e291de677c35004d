#include "platform/group_child.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>

namespace ventari {

std::optional<pid_t> LaunchChild(const ChildSettings& settings) {
  std::optional<StartedChild> child = StartChild(settings);
  if (!child) return std::nullopt;
  if (!child->Release()) {
    ReapChild(child->pid());
    return std::nullopt;
  }
  return child->pid();
}

std::optional<GroupChild> GroupChild::Start(ChildSettings settings) {
  int fds[2];
  if (::pipe2(fds, O_CLOEXEC) != 0) return std::nullopt;
  UniqueFd readEnd(fds[0]);
  const UniqueFd writeEnd(fds[1]);
  settings.standardOutput = writeEnd.get();
  settings.ownProcessGroup = true;
  const std::optional<pid_t> pid = LaunchChild(settings);
  if (!pid) return std::nullopt;
  ::fcntl(readEnd.get(), F_SETFL, O_NONBLOCK);
  GroupChild child(*pid, std::move(readEnd));
  child.m_group = *pid;
  return child;
}

GroupChild::GroupChild(GroupChild&& other) noexcept
    : m_pid(other.m_pid),
      m_group(other.m_group),
      m_output(std::move(other.m_output)),
      m_partial(std::move(other.m_partial)) {
  other.m_pid = -1;
  other.m_group = -1;
}

GroupChild& GroupChild::operator=(GroupChild&& other) noexcept {
  if (this == &other) return *this;
  if (m_pid >= 0) Kill();
  m_pid = other.m_pid;
  m_group = other.m_group;
  m_output = std::move(other.m_output);
  m_partial = std::move(other.m_partial);
  other.m_pid = -1;
  other.m_group = -1;
  return *this;
}

GroupChild::~GroupChild() {
  if (m_pid >= 0) Kill();
}

std::vector<std::string> GroupChild::Lines(bool all, std::size_t longest) {
  std::vector<std::string> lines;
  char buffer[4096];
  while (m_output.valid()) {
    const ssize_t n = ::read(m_output.get(), buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;  // nothing more now (or the end)
    m_partial.append(buffer, static_cast<std::size_t>(n));
    std::size_t end;
    while ((end = m_partial.find('\n')) != std::string::npos) {
      lines.push_back(m_partial.substr(0, end));
      m_partial.erase(0, end + 1);
    }
    if (m_partial.size() > longest) {
      lines.push_back(std::move(m_partial));
      m_partial.clear();
    }
  }
  if (all && !m_partial.empty()) {
    lines.push_back(std::move(m_partial));
    m_partial.clear();
  }
  return lines;
}

std::optional<int> GroupChild::Ended() {
  if (m_pid < 0) return -1;
  int status = 0;
  const pid_t done = ::waitpid(m_pid, &status, WNOHANG);
  if (done == 0) return std::nullopt;
  m_pid = -1;
  return done > 0 ? status : -1;
}

int GroupChild::Kill() {
  KillGroup();
  if (m_pid < 0) return -1;
  const int status = ReapChild(m_pid);
  m_pid = -1;
  return status;
}

void GroupChild::KillGroup() const {
  if (m_group > 0) ::kill(-m_group, SIGKILL);
}

}  // namespace ventari
