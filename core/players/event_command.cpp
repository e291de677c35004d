#include "core/players/event_command.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QTimer>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "platform/child_process.h"
#include "platform/event_log.h"

namespace ventari {

namespace {

// The host's command line runs through the shell (pipes, quotes, variables as he wrote them),
// in a subshell that reads the event. The shell outside it stays to take the whole group down
// when the robot dies (it is told with TERM); a background job of the shell would otherwise
// read /dev/null, hence the event's file on descriptor 3.
constexpr const char* kWrapper =
    "trap 'trap - TERM; kill -KILL 0' TERM; exec 3<&0; (eval \"$1\") <&3 3<&- & wait $!";

// A command that talks a lot fills no log: this many lines of it, each cut to this length.
constexpr int kMostLines = 20;
constexpr std::size_t kLongestLine = 300;

std::string EventKind(const std::string& json) {
  const std::string mark = "\"event\":\"";
  const std::size_t at = json.find(mark);
  if (at == std::string::npos) return "an event";
  const std::size_t start = at + mark.size();
  return json.substr(start, json.find('"', start) - start);
}

// The whole object, one line, as the command's input: it sees its end where the object ends.
UniqueFd EventFile(const std::string& json) { return WholeInputFile("ventari-event", json + "\n"); }

}  // namespace

std::optional<std::string> EventCommandFromEnvironment() {
  const char* value = std::getenv("VENTARI_NOTIFY");
  if (value == nullptr || *value == '\0') return std::nullopt;
  return std::string(value);
}

EventCommand::EventCommand(std::string command, std::chrono::milliseconds limit)
    : m_command(std::move(command)), m_limit(limit), m_timer(std::make_unique<QTimer>()) {
  m_timer->setInterval(100);
  QObject::connect(m_timer.get(), &QTimer::timeout, m_timer.get(), [this] { Poll(); });
}

EventCommand::~EventCommand() { Stop(); }

void EventCommand::Send(const std::string& json) {
  m_queue.push_back(json);
  if (m_pid < 0) StartNext();
}

void EventCommand::StartNext() {
  while (m_pid < 0 && !m_queue.empty()) {
    const std::string json = std::move(m_queue.front());
    m_queue.pop_front();
    m_event = EventKind(json);
    const UniqueFd input = EventFile(json);
    int fds[2];
    if (!input.valid() || ::pipe2(fds, O_CLOEXEC) != 0) {
      LogEvent("error", "notify: the " + m_event + " event not told: " + std::strerror(errno));
      continue;
    }
    UniqueFd readEnd(fds[0]);
    const UniqueFd writeEnd(fds[1]);
    ChildSettings settings;
    settings.argv = {"/bin/sh", "-c", kWrapper, "ventari-notify", m_command};
    settings.environment = CurrentEnvironment();
    settings.standardInput = input.get();
    settings.standardOutput = writeEnd.get();
    settings.ownProcessGroup = true;
    settings.dieWithParent = true;
    settings.deathSignal = SIGTERM;  // the shell's trap ends the whole group
    std::optional<StartedChild> child = StartChild(settings);
    if (!child || !child->Release()) {
      if (child) ReapChild(child->pid());
      LogEvent("error", "notify: the command for the " + m_event + " event cannot be started");
      continue;
    }
    ::fcntl(readEnd.get(), F_SETFL, O_NONBLOCK);
    m_output = std::move(readEnd);
    m_pid = child->pid();
    m_deadline = std::chrono::steady_clock::now() + m_limit;
    m_partial.clear();
    m_linesLogged = 0;
    m_dropped = false;
    // Without an event loop (a command-line action, a test) Finish() does the looking.
    if (QCoreApplication::instance() != nullptr) m_timer->start();
  }
}

void EventCommand::LogLine(const std::string& line) {
  if (m_linesLogged >= kMostLines) {
    if (!m_dropped)
      LogEvent("info", "notify: ... (the rest of the command's output is not logged)");
    m_dropped = true;
    return;
  }
  ++m_linesLogged;
  LogEvent("info",
           "notify: " + (line.size() > kLongestLine ? line.substr(0, kLongestLine) + "..." : line));
}

void EventCommand::ReadOutput(bool all) {
  if (!m_output.valid()) return;
  char buffer[4096];
  for (;;) {
    const ssize_t n = ::read(m_output.get(), buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;  // nothing more now (or the end)
    m_partial.append(buffer, static_cast<std::size_t>(n));
    std::size_t end;
    while ((end = m_partial.find('\n')) != std::string::npos) {
      LogLine(m_partial.substr(0, end));
      m_partial.erase(0, end + 1);
    }
    // A line without an end is cut rather than kept growing.
    if (m_partial.size() > 4 * kLongestLine) {
      LogLine(m_partial);
      m_partial.clear();
    }
  }
  if (all && !m_partial.empty()) {
    LogLine(m_partial);
    m_partial.clear();
  }
}

void EventCommand::Poll() {
  if (m_pid < 0) {
    m_timer->stop();
    return;
  }
  ReadOutput(false);
  int status = 0;
  pid_t done = ::waitpid(m_pid, &status, WNOHANG);
  if (done == 0 && std::chrono::steady_clock::now() >= m_deadline) {
    ::kill(-m_pid, SIGKILL);
    LogEvent("warning", "notify: the command for the " + m_event + " event ran past " +
                            std::to_string(m_limit.count() / 1000) +
                            " seconds: ended with its process group");
    status = ReapChild(m_pid);
    done = m_pid;
  }
  if (done == 0) return;
  Ended(done == m_pid ? status : -1);
}

void EventCommand::Ended(int status) {
  // What it left behind in its group goes with it: one command at a time.
  ::kill(-m_pid, SIGKILL);
  ReadOutput(true);
  if (status != -1 && WIFEXITED(status) && WEXITSTATUS(status) != 0)
    LogEvent("warning", "notify: the command for the " + m_event + " event failed, exit status " +
                            std::to_string(WEXITSTATUS(status)) + "; not tried again");
  else if (status != -1 && WIFSIGNALED(status) && WTERMSIG(status) != SIGKILL)
    LogEvent("warning", "notify: the command for the " + m_event + " event ended by signal " +
                            std::to_string(WTERMSIG(status)) + "; not tried again");
  m_pid = -1;
  m_output.reset();
  StartNext();
  if (m_pid < 0) m_timer->stop();
}

void EventCommand::RunUntil(std::optional<std::chrono::steady_clock::time_point> end) {
  while (!Idle() && (!end || std::chrono::steady_clock::now() < *end)) {
    Poll();
    if (m_pid >= 0) std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
}

void EventCommand::Finish() { RunUntil(std::nullopt); }

void EventCommand::Stop(std::chrono::milliseconds budget) {
  RunUntil(std::chrono::steady_clock::now() + budget);
  if (m_pid >= 0) {
    // KILL, not TERM: a command that ignores TERM would hold the stop up all the same.
    ::kill(-m_pid, SIGKILL);
    ReapChild(m_pid);
    ReadOutput(true);
    LogEvent("warning", "notify: the command for the " + m_event +
                            " event ended with its process group at the robot's end");
    m_pid = -1;
    m_output.reset();
  }
  for (const std::string& json : m_queue)
    LogEvent("warning", "notify: the " + EventKind(json) + " event dropped at the robot's end");
  m_queue.clear();
  m_timer->stop();
}

}  // namespace ventari
