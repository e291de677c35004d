#include "core/turn/refresh.h"

#include <algorithm>
#include <vector>

#include "core/game/cache_makers.h"
#include "core/game/game_checks.h"
#include "core/game/monitor_view.h"
#include "core/game/records.h"
#include "core/game/settings.h"
#include "mail/mailer.h"
#include "platform/clock.h"
#include "platform/dialogs.h"
#include "platform/errors.h"
#include "platform/event_log.h"
#include "platform/files.h"
#include "platform/process.h"

namespace ventari {

namespace {

std::string Piece(const std::string& text, std::size_t first, std::size_t count) {
  // Character positions count from 1; a piece past the end is cut short, down to empty.
  if (first - 1 >= text.size()) return {};
  return text.substr(first - 1, count);
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

bool IsSeparator(char c) { return c == '\\' || c == '/' || c == ':'; }

}  // namespace

TDateTime ParseDeadline(const std::string& text) {
  const std::string year = Piece(text, 1, 4);
  const std::string time = Piece(text, 11, 9);
  const std::string joined = Piece(text, 9, 2) + "/" + Piece(text, 6, 2) + "/" + year + time;
  // Joined, nothing marks where the year piece ends: its year must start there (not "    "
  // before a time piece " 9922") and end there (not " 129" before a time piece "2...").
  const bool yearInPiece = year.find_first_not_of(' ') != std::string::npos &&
                           !(IsDigit(year.back()) && !time.empty() && IsDigit(time[0]));
  if (yearInPiece) {
    if (auto value = TryParseDayMonthYear(joined)) return *value;
  }
  throw EConvertError("'" + joined + "' is not a valid date and time");
}

void MakeDirPath(const std::string& path) {
  if (path.empty()) throw Exception("Unable to create directory");
  std::string dir = path;
  if (dir.back() == '\\' || dir.back() == '/') dir.pop_back();
  if (dir.size() < 3 || DirectoryExists(dir)) return;
  std::size_t cut = dir.size();
  while (cut > 0 && !IsSeparator(dir[cut - 1])) --cut;
  const std::string parent = dir.substr(0, cut);
  if (parent == dir) return;
  MakeDirPath(parent);
  CreateDir(dir);  // a failure shows at the first later step that needs the folder
}

RefreshCycle::RefreshCycle(ProgramRecords& records, MonitorView& view, Dialogs& dialogs,
                           AppControl& app, const Clock& clock, DeadlineCacheMaker& deadlineMaker,
                           YearCacheMaker& yearMaker, Mailer* mailer)
    : m_records(records),
      m_view(view),
      m_dialogs(dialogs),
      m_app(app),
      m_clock(clock),
      m_deadlineMaker(deadlineMaker),
      m_yearMaker(yearMaker),
      m_mailer(mailer) {}

void RefreshCycle::SayProblems(const SettingsProblems& problems) {
  // Each once in the log, when a run first meets it; at start-up all of them in one box.
  std::vector<std::string> messages;
  std::string box;
  for (const SettingsProblem& problem : problems) {
    const std::string message = problem.Message();
    messages.push_back(message);
    if (std::find(m_saidProblems.begin(), m_saidProblems.end(), message) == m_saidProblems.end())
      LogEvent("warning", "settings: " + message);
    box += (box.empty() ? "" : "\n") + message;
  }
  m_saidProblems = std::move(messages);
  const bool first = !m_ranOnce;
  m_ranOnce = true;
  if (first && !box.empty()) m_dialogs.ShowMessage(box);
}

bool RefreshCycle::Fatal(const char* text) {
  EndApplication(m_dialogs, m_app, text);
  return false;
}

void RefreshCycle::Run() {
  SettingsProblems problems;
  bool said = false;
  try {
    RunSteps(problems, said);
  } catch (const std::exception&) {
    if (!said) SayProblems(problems);  // a folder named on a line without a tab, say
    throw;
  }
  if (!said) SayProblems(problems);
}

void RefreshCycle::RunSteps(SettingsProblems& problems, bool& said) {
  HostSettings& host = m_records.host;
  GameSettings& game = m_records.game;
  MonitorState& state = m_records.monitor;

  state.savedDir = GetCurrentDir();
  if (!LoadHostSettings(host, &problems)) {
    LogEvent("error", "config file not found !!!: " + state.savedDir + "/ventari.def");
    return (void)Fatal("config file not found !!!");
  }
  MakeFoldersAbsolute(host, state.savedDir);
  if (!DirectoryExists(host.binariesDir)) {
    LogEvent("error", "Stars! binaries directory not found !!!: " + NativePath(host.binariesDir));
    return (void)Fatal("Stars! binaries directory not found !!!");
  }
  const std::string executable = host.binariesDir + "\\" + host.executableName;
  if (!FileExists(executable)) {
    LogEvent("error", "Stars! executable file not found !!!: " + NativePath(executable));
    return (void)Fatal("Stars! executable file not found !!!");
  }
  // Resolved as the generation's start will resolve it, so that an executable that cannot be
  // started (no execute bit, no wine, a shorter path with blanks that is another program) is
  // reported now rather than when the turn is due.
  const std::optional<ResolvedCommand> gameCommand = ResolveCommandLine(executable);
  if (!gameCommand || gameCommand->program != NativePath(executable)) {
    LogEvent("error", "Stars! EXE unlaunchable !!!: " + NativePath(executable));
    return (void)Fatal("Stars! EXE unlaunchable !!!");
  }
  if (!DirectoryExists(host.publicationDir)) MakeDirPath(host.publicationDir);
  if (!DirectoryExists(host.repJeu)) MakeDirPath(host.repJeu);
  const bool gameRead = LoadGameSettings(game, host.repJeu, &problems);
  SayProblems(problems);
  said = true;
  if (!gameRead) {
    LogEvent("error", "config file not found !!!: " + NativePath(host.repJeu) + "/ventari.pla");
    return (void)Fatal("config file not found !!!");
  }
  // Each game's mail comes from its own host, even when several games share one mail system;
  // the name is the one the host's own mails are addressed to.
  if (m_mailer) m_mailer->SetSender(game.gameName + " human host", game.hostAddress);
  CheckGameSettings(game);

  const std::string publicationGameDir = host.publicationDir + "/" + game.gameName;
  if (!DirectoryExists(publicationGameDir)) MakeDirPath(publicationGameDir);
  const std::string gameDir = host.repJeu + "/" + game.gameName;
  if (!DirectoryExists(gameDir)) MakeDirPath(gameDir);
  if (m_gameFolderGuard && !m_gameFolderGuard()) return;

  TextFileReader cache;
  if (!cache.open(DeadlineCachePath(m_records))) {
    if (!m_deadlineMaker.FetchDeadlineCache()) return;
    state.deadlineCacheTrusted = true;
    ForgetStaleDeadlineCache(m_records);
    if (!cache.open(DeadlineCachePath(m_records))) throw EInOutError(cache.errorCode());
  } else if (DeadlineCacheMarkedStale(m_records)) {
    state.deadlineCacheTrusted = false;  // left behind by a generation before this start
  }
  state.deadlineText = cache.readLine();
  cache.close();
  state.deadline = ParseDeadline(state.deadlineText);
  // After a generation, a cache that could not be deleted still holds the old turn's deadline,
  // long past: acted on, it would generate a turn every minute.
  state.deadlineKnown = state.deadlineCacheTrusted;

  if (!FileExists(YearCachePath(m_records))) {
    if (!m_yearMaker.RunYearTool()) return;
  }
  if (!cache.open(YearCachePath(m_records))) throw EInOutError(cache.errorCode());
  state.yearText = cache.readLine();
  cache.close();

  m_view.SetLine(WindowLine::Clock, DateTimeToStr(m_clock.Now()));
  m_view.SetLine(WindowLine::Game, game.gameName);
  m_view.SetLine(WindowLine::Year, state.yearText);
  m_view.SetLine(WindowLine::Deadline, state.deadlineText);
  m_view.SetLine(WindowLine::Period, std::to_string(m_view.TimerIntervalMs() / 1000));
}

}  // namespace ventari
