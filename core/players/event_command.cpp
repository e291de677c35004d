#include "core/players/event_command.h"

#include <signal.h>
#include <sys/wait.h>

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

EventCommand::EventCommand(std::string command, std::chrono::milliseconds limit,
                           const TickerMaker& ticker)
    : m_command(std::move(command)), m_limit(limit) {
  if (ticker) m_ticker = ticker(std::chrono::milliseconds(100), [this] { Poll(); });
}

EventCommand::~EventCommand() { Stop(); }

void EventCommand::Send(const std::string& json) {
  m_queue.push_back(json);
  if (!m_child) StartNext();
}

void EventCommand::StartNext() {
  while (!m_child && !m_queue.empty()) {
    const std::string json = std::move(m_queue.front());
    m_queue.pop_front();
    m_event = EventKind(json);
    const UniqueFd input = EventFile(json);
    if (!input.valid()) {
      LogEvent("error", "notify: the " + m_event + " event not told: " + std::strerror(errno));
      continue;
    }
    ChildSettings settings;
    settings.argv = {"/bin/sh", "-c", kWrapper, "ventari-notify", m_command};
    settings.environment = CurrentEnvironment();
    settings.standardInput = input.get();
    settings.dieWithParent = true;
    settings.deathSignal = SIGTERM;  // the shell's trap ends the whole group
    m_child = GroupChild::Start(std::move(settings));
    if (!m_child) {
      LogEvent("error", "notify: the command for the " + m_event + " event cannot be started");
      continue;
    }
    m_deadline = std::chrono::steady_clock::now() + m_limit;
    m_linesLogged = 0;
    m_dropped = false;
    if (m_ticker) m_ticker->Start();
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
  // A line without an end is cut rather than kept growing.
  for (const std::string& line : m_child->Lines(all, 4 * kLongestLine)) LogLine(line);
}

void EventCommand::Poll() {
  if (!m_child) {
    StopTicker();
    return;
  }
  ReadOutput(false);
  std::optional<int> status = m_child->Ended();
  if (!status && std::chrono::steady_clock::now() >= m_deadline) {
    LogEvent("warning", "notify: the command for the " + m_event + " event ran past " +
                            std::to_string(m_limit.count() / 1000) +
                            " seconds: ended with its process group");
    status = m_child->Kill();
  }
  if (status) Ended(*status);
}

void EventCommand::Ended(int status) {
  // What it left behind in its group goes with it: one command at a time.
  m_child->KillGroup();
  ReadOutput(true);
  if (status != -1 && WIFEXITED(status) && WEXITSTATUS(status) != 0)
    LogEvent("warning", "notify: the command for the " + m_event + " event failed, exit status " +
                            std::to_string(WEXITSTATUS(status)) + "; not tried again");
  else if (status != -1 && WIFSIGNALED(status) && WTERMSIG(status) != SIGKILL)
    LogEvent("warning", "notify: the command for the " + m_event + " event ended by signal " +
                            std::to_string(WTERMSIG(status)) + "; not tried again");
  m_child.reset();
  StartNext();
  if (!m_child) StopTicker();
}

void EventCommand::StopTicker() {
  if (m_ticker) m_ticker->Stop();
}

void EventCommand::RunUntil(std::optional<std::chrono::steady_clock::time_point> end) {
  while (!Idle() && (!end || std::chrono::steady_clock::now() < *end)) {
    Poll();
    if (m_child) std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
}

void EventCommand::Finish() { RunUntil(std::nullopt); }

void EventCommand::Stop(std::chrono::milliseconds budget) {
  RunUntil(std::chrono::steady_clock::now() + budget);
  if (m_child) {
    // KILL, not TERM: a command that ignores TERM would hold the stop up all the same.
    m_child->Kill();
    ReadOutput(true);
    LogEvent("warning", "notify: the command for the " + m_event +
                            " event ended with its process group at the robot's end");
    m_child.reset();
  }
  for (const std::string& json : m_queue)
    LogEvent("warning", "notify: the " + EventKind(json) + " event dropped at the robot's end");
  m_queue.clear();
  StopTicker();
}

}  // namespace ventari
