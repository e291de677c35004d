#include "core/host/check_command.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <optional>

#include "core/game/game_checks.h"
#include "core/game/game_store.h"
#include "core/game/mail_link.h"
#include "core/game/records.h"
#include "core/players/event_command.h"
#include "core/players/late_reminders.h"
#include "core/players/mailed_orders.h"
#include "core/players/news.h"
#include "core/players/order_receipts.h"
#include "core/turn/backup.h"
#include "core/turn/deadline_fetch.h"
#include "core/turn/forced_turn.h"
#include "core/turn/generation.h"
#include "core/turn/pause.h"
#include "core/turn/refresh.h"
#include "core/turn/schedule.h"
#include "core/turn/turn_journal.h"
#include "mail/sendmail_mailer.h"
#include "net/nmhttp.h"
#include "platform/clock.h"
#include "platform/dialogs.h"
#include "platform/errors.h"
#include "platform/files.h"
#include "platform/folder_lock.h"
#include "platform/process.h"
#include "platform/sdl_sound.h"
#include "platform/text.h"
#include "stars/stars_file.h"

namespace ventari {

namespace {

// The fetch's boxes, as lines of the report.
class PrintedDialogs final : public Dialogs {
 public:
  explicit PrintedDialogs(std::string& said) : m_said(said) {}
  void ShowMessage(const std::string& text) override { Say(text); }
  void ShowError(const std::string& message) override { Say(ErrorBoxText(message)); }
  void ShowMailError(int result) override { Say("mail error " + std::to_string(result)); }

 private:
  void Say(std::string text) {
    for (char& c : text)
      if (c == '\n' || c == '\r') c = ' ';
    if (!m_said.empty()) m_said += "; ";
    m_said += text;
  }
  std::string& m_said;
};

// The link the robot's mails would carry, by the schedule it would read.
MailLink LinkFromEnvironment() {
  const ScheduleReading reading = ScheduleFromEnvironment();
  return MailLinkFromEnvironment(!reading.schedule || reading.schedule->fromLeague());
}

// The messages of the game the robot would take now, nothing mailed nor moved.
std::size_t MailedWaiting(ProgramRecords& records, const std::string& maildir,
                          const stars::FileHeader& host) {
  std::string said;
  PrintedDialogs dialogs(said);
  SendmailMailer mailer(dialogs, SendmailCommandFromEnvironment());
  SystemClock clock;
  OrderReceipts receipts(records, mailer, clock, LinkFromEnvironment(), false);
  MailedOrders mailed(records, mailer, receipts, clock, LinkFromEnvironment(), maildir);
  return mailed.Waiting(host);
}

std::string FirstLineOf(const std::string& path, bool& found) {
  TextFileReader file;
  found = file.open(path);
  return found ? file.readLine() : std::string();
}

std::string HowRun(const ResolvedCommand& command) {
  if (!command.throughWine) return "native";
  std::string wine;  // what comes before the program
  for (const std::string& arg : command.argv) {
    if (arg == command.program) break;
    wine += (wine.empty() ? "" : " ") + arg;
  }
  return "through wine: " + wine;
}

}  // namespace

namespace {

// One run of --check: each section prints its lines and notes the first problem it finds.
class CheckReport {
 public:
  explicit CheckReport(std::ostream& out) : m_out(out) {}

  int Run() {
    if (const std::optional<int> ended = LoadSettings()) return *ended;
    GameLines();
    OrderLines();
    ProgramLines();
    DeadlineSourceLines();
    PlayerSideLines();
    RobotLines();
    PublicationLines();
    return Verdicts();
  }

 private:
  void Note(const std::string& text) {
    if (m_problem.empty()) m_problem = text;
  }
  std::optional<int> LoadSettings();
  void GameLines();
  void OrderLines();
  void ProgramLines();
  void DeadlineSourceLines();
  void LeaguePageLines();
  void PlayerSideLines();
  void MailedOrderLines();
  void RobotLines();
  void PublicationLines();
  int Verdicts();
  std::string TurnVerdict(const std::optional<TDateTime>& deadline,
                          std::optional<long long> lastGeneration);

  std::ostream& m_out;
  std::string m_problem;
  ProgramRecords m_records;
  std::string m_gameDir, m_stem;
  stars::FileHeader m_hostHeader;
  bool m_hostRead = false;
  std::string m_waitingFor;  // the late players, with why
  const TDateTime m_now = SystemClock().Now();
  bool m_pageFound = false;  // the deadline the robot would start with, when it has no cache
  std::string m_pageLine;
  std::optional<ForceSetting> m_force;
  std::optional<std::string> m_pause;
  std::optional<std::string> m_storeProblem;  // the game store cannot be used, and why
};

std::optional<int> CheckReport::LoadSettings() {
  SettingsProblems settingsProblems;
  HostSettings& host = m_records.host;
  GameSettings& game = m_records.game;
  try {
    if (!LoadHostSettings(host, &settingsProblems)) {
      m_out << "set-up:          config file not found: ventari.def in " << GetCurrentDir() << "\n";
      return 1;
    }
    MakeFoldersAbsolute(host, GetCurrentDir());
    if (!LoadGameSettings(game, host.repJeu, &settingsProblems)) {
      m_out << "set-up:          config file not found: " << host.repJeu << "/ventari.pla\n";
      return 1;
    }
    CheckGameSettings(game);
  } catch (const std::exception& error) {
    // A player row that could not be read stops the robot's turns; the check goes on, and the
    // line is its problem below.
    const std::string what = error.what();
    const bool rowUnread =
        std::any_of(settingsProblems.begin(), settingsProblems.end(),
                    [&](const SettingsProblem& problem) { return problem.Message() == what; });
    if (!rowUnread) {
      for (const SettingsProblem& problem : settingsProblems)
        m_out << "settings:        " << problem.Message() << "\n";
      m_out << "set-up:          settings: " << what << "\n";
      return 1;
    }
  }
  // Every line the robot reads but cannot use as meant: each a problem.
  for (const SettingsProblem& problem : settingsProblems) {
    m_out << "settings:        " << problem.Message() << "\n";
    Note(problem.Message());
  }
  if (game.playerCount == 0) Note("ventari.pla: no players (joueurs 0): nobody would get a turn");
  m_gameDir = host.repJeu + "/" + game.gameName;
  m_stem = m_gameDir + "/" + game.gameName;
  return std::nullopt;
}

void CheckReport::GameLines() {
  m_out << "game:            " << m_records.game.gameName << " (" << m_gameDir << ")\n";
  // Read, never made nor mended here: the robot does nothing on a game whose store it cannot use.
  m_storeProblem = GameStoreProblem(m_gameDir, GameStore::Access::kRead);
  bool found = false;
  const std::string year = FirstLineOf(YearCachePath(m_records), found);
  m_out << "year:            " << (found ? year : "not read yet (no year cache)") << "\n";
  const std::string deadline = FirstLineOf(DeadlineCachePath(m_records), found);
  m_out << "deadline:        " << (found ? deadline : "not fetched") << "\n";
}

void CheckReport::OrderLines() {
  const GameSettings& game = m_records.game;
  m_hostRead = stars::ReadCompleteHostHeader(m_stem + ".hst", m_hostHeader);
  if (!m_hostRead) Note("the host file " + m_stem + ".hst cannot be read as one");
  m_out << "host file:       " << m_stem << ".hst"
        << (m_hostRead ? ", turn " + std::to_string(m_hostHeader.turn) + ", generation " +
                             std::to_string(m_hostHeader.generation()) +
                             (m_hostHeader.gameOver() ? ", game over" : "")
                       : ", cannot be read whole")
        << "\n";
  m_out << "orders:\n";
  for (int n = 1; n <= game.playerCount; ++n) {
    const PlayerEntry& player = game.player(n);
    m_out << "  " << n << " " << player.name << ": ";
    if (player.isComputer()) {
      m_out << "computer\n";
      continue;
    }
    const stars::OrderJudgement judgement =
        m_hostRead ? stars::JudgeOrderFile(m_stem + ".x" + std::to_string(n), m_hostHeader, n)
                   : stars::OrderJudgement{};
    if (judgement.verdict == stars::OrderVerdict::kIn) {
      m_out << (judgement.savedOnly ? "in (saved, not submitted)\n" : "in\n");
    } else {
      const std::string why =
          m_hostRead ? stars::OrderVerdictText(judgement.verdict) : "no host file";
      m_out << "late (" << why << ")\n";
      m_waitingFor += (m_waitingFor.empty() ? "" : ", ") + player.name + " (" + why + ")";
    }
  }
}

void CheckReport::ProgramLines() {
  const HostSettings& host = m_records.host;
  const std::string executable = host.binariesDir + "\\" + host.executableName;
  const std::optional<ResolvedCommand> gameCommand = ResolveCommandLine(executable);
  if (gameCommand && gameCommand->program == NativePath(executable)) {
    m_out << "game executable: " << NativePath(executable) << ", " << HowRun(*gameCommand) << "\n";
  } else {
    m_out << "game executable: " << NativePath(executable) << ", cannot be started\n";
    Note("the game executable " + NativePath(executable) + " cannot be started");
  }
  const std::string yearTool = host.repJeu + "/staryear.EXE";
  if (!ResolveCommandLine(QuoteArgument(yearTool)))
    Note("the year tool " + yearTool + " cannot be started");

  const std::string sendmail = SendmailCommandFromEnvironment();
  const bool mailFound = ResolveCommandLine(sendmail).has_value();
  // The robot gives the game's host as the sender; one the command forces would send the mail
  // of every game sharing it from one address.
  const std::optional<std::string> forcedSender = SenderForcedBy(sendmail);
  const std::string& hostAddress = m_records.game.hostAddress;
  const bool otherSender = forcedSender && LowerAscii(*forcedSender) != LowerAscii(hostAddress);
  m_out << "mail system:     " << sendmail << (mailFound ? "" : ", not found")
        << (otherSender ? ", its own sender " + *forcedSender : std::string()) << "\n";
  if (!mailFound) Note("the mail program " + sendmail + " cannot be started");
  if (otherSender)
    Note("VENTARI_SENDMAIL sends every mail from " + *forcedSender + ", not from the game's host " +
         hostAddress + ": leave the sender out of it, the robot gives each game's own");
}

void CheckReport::DeadlineSourceLines() {
  // With a schedule the league is never asked: the check shows what the robot would write.
  const ScheduleReading reading = ScheduleFromEnvironment();
  const int hours = m_records.game.hoursToDeadline;
  if (!reading.schedule) {
    m_out << "schedule:        " << reading.problem << "\n";
    Note(reading.problem);
  } else if (!reading.schedule->fromLeague()) {
    m_pageLine = DeadlineLine(ScheduledDeadline(*reading.schedule, EpochSeconds(m_now), hours));
    m_pageFound = true;
    m_out << "schedule:        " << ScheduleText(*reading.schedule, hours) << "\n";
    m_out << "next deadline:   " << m_pageLine << " for a turn generated now\n";
  } else {
    const char* setting = std::getenv("VENTARI_SCHEDULE");
    m_out << "schedule:        the league page ("
          << (setting ? "VENTARI_SCHEDULE=" + std::string(setting) : "VENTARI_SCHEDULE unset")
          << ")\n";
    LeaguePageLines();
  }
}

void CheckReport::LeaguePageLines() {
  const GameSettings& game = m_records.game;
  TNMHTTP http;
  std::string said;
  PrintedDialogs dialogs(said);
  const std::string url =
      LeagueServerBase() + game.webFolder + "/travail/ventari.php/nextdl?jeu=" + game.gameName;
  std::string headerText;
  std::string bodyText;
  try {
    m_pageFound = FetchPage(http, dialogs, url, "", "", false, headerText, bodyText);
  } catch (const std::exception& error) {
    said = error.what();
  }
  TextFileReader page;
  page.openText(bodyText);
  m_pageLine = m_pageFound ? page.readLine() : std::string();
  m_out << "league page:     " << url << ": "
        << (m_pageFound ? m_pageLine : "not found" + (said.empty() ? "" : " (" + said + ")"))
        << "\n";
  if (!m_pageFound) Note("the league page " + url + " cannot be fetched");
}

void CheckReport::PlayerSideLines() {
  const std::optional<double> lead = ReminderLeadFromEnvironment();
  const char* leadText = std::getenv("VENTARI_REMIND_HOURS");
  m_out << "late players:    "
        << (lead       ? "reminded " + std::string(leadText) + " hours before the deadline"
            : leadText ? "not reminded (VENTARI_REMIND_HOURS is no number of hours)"
                       : "not reminded")
        << "\n";
  m_out << "receipts:        " << (ReceiptsOnFromEnvironment() ? "on" : "off (VENTARI_RECEIPTS=0)")
        << "\n";
  MailedOrderLines();
  m_force = ForceFromEnvironment();
  const char* forceText = std::getenv("VENTARI_FORCE_AFTER_HOURS");
  m_out << "forced turns:    "
        << (m_force ? std::string(m_records.game.autoGenerate ? "" : "none in manual mode; ") +
                          "the turn goes without the late players " + m_force->text +
                          " hours after the deadline"
            : forceText ? "none (VENTARI_FORCE_AFTER_HOURS is no number of hours)"
                        : "none")
        << "\n";
  m_pause = ReadPause(m_records.host.repJeu);
  m_out << "pause:           "
        << (m_pause ? (m_pause->empty() ? std::string("paused, no text given") : *m_pause) : "none")
        << "\n";
  const std::optional<std::string> eventCommand = EventCommandFromEnvironment();
  m_out << "event command:   " << (eventCommand ? *eventCommand : std::string("none")) << "\n";
  const std::optional<HostNewsItem> news = ReadNews(m_records.host.repJeu);
  m_out << "host's message:  " << (news ? news->text : std::string("none")) << "\n";
}

void CheckReport::MailedOrderLines() {
  const std::optional<std::string> maildir = MaildirFromEnvironment();
  if (!maildir) {
    m_out << "orders by mail:  none (VENTARI_MAILDIR unset)\n";
    return;
  }
  if (const std::optional<std::string> unusable = MaildirProblem(*maildir)) {
    m_out << "orders by mail:  " << *unusable << "\n";
    Note("VENTARI_MAILDIR=" + *maildir + ": " + *unusable);
  } else {
    const std::size_t waiting =
        m_hostRead && !m_storeProblem ? MailedWaiting(m_records, *maildir, m_hostHeader) : 0;
    m_out << "orders by mail:  " << *maildir << ", " << waiting
          << (waiting == 1 ? " message waits" : " messages wait") << "\n";
  }
  const std::string authserv = MailAuthservFromEnvironment();
  m_out << "mail senders:    "
        << (authserv.empty() ? std::string("taken from From as it stands (VENTARI_MAIL_AUTHSERV "
                                           "unset)")
                             : "vouched for by " + authserv + " (VENTARI_MAIL_AUTHSERV)")
        << "\n";
}

void CheckReport::RobotLines() {
  const GameTimeLimitSetting limit = ReadGameTimeLimit(std::getenv("VENTARI_GAME_TIMEOUT"));
  m_out << "game time limit: " << limit.limit.count() << " seconds\n";
  if (!limit.problem.empty()) Note(limit.problem);
  // Looked at without taking the lock: a robot starting meanwhile is not refused.
  const std::optional<FolderLock::Held> robot = FolderLock::Holder(m_gameDir);
  m_out << "robot:           "
        << (robot ? "running, process " + std::to_string(robot->pid) + " holds " + robot->path
                  : "none running on this game")
        << "\n";
  const std::string journalPath = JournalPath(m_gameDir);
  if (FileExists(journalPath)) {
    try {
      ReadJournal(journalPath);
      m_out << "turn journal:    " << journalPath << ": a turn under way, finished by the robot\n";
    } catch (const Exception& error) {
      m_out << "turn journal:    " << error.what() << "\n";
      Note(std::string(error.what()) +
           "; ventari --restore YEAR or its deletion lets the robot go on");
    }
  }
  m_out << "game store:      " << m_storeProblem.value_or(GameStorePath(m_gameDir)) << "\n";
  if (m_storeProblem) Note(*m_storeProblem + "; put back a copy of it, or move it away");
  const std::vector<std::string> backups = ListGameBackups(m_gameDir);
  m_out << "backups:        ";
  for (const std::string& name : backups) m_out << " " << name;
  m_out << (backups.empty() ? " none" : "") << "\n";
}

void CheckReport::PublicationLines() {
  const GameSettings& game = m_records.game;
  m_out << "publication:     " << m_records.host.publicationDir << "/" << game.gameName << "\n";
  // What the players' mails link to: a host must see an address that is not his league's.
  const MailLink link = LinkFromEnvironment();
  if (!link.leagueSite.empty()) m_out << "league site:     " << link.leagueSite << "\n";
  const std::string linkAddress = link.Address(game);
  m_out << "mail link:       "
        << (linkAddress.empty() ? "none (no league site, no VENTARI_PUBLIC_URL)" : linkAddress)
        << "\n";
  if (link.leagueSite == kExampleLeagueSite)
    Note(std::string("the players' mails link to the example address ") + kExampleLeagueSite +
         ", which leads nowhere: set VENTARI_LEAGUE_SITE to the league's site, or "
         "VENTARI_PUBLIC_URL to the status page's public address");
  const std::optional<std::string> installed = InstalledDataFolder();
  const bool soundHere = FileExists("pret.wav");
  const bool soundInstalled = installed && FileExists(*installed + "/pret.wav");
  m_out << "ready sound:     "
        << (soundHere        ? GetCurrentDir() + "/pret.wav"
            : soundInstalled ? *installed + "/pret.wav"
                             : "none: the error is shown once a turn")
        << "\n";
  if (!soundHere && !soundInstalled)
    Note("no pret.wav in " + GetCurrentDir() + " nor where the package puts it");
}

int CheckReport::Verdicts() {
  // Two verdicts: whether the robot can run, and where the turn stands.
  bool deadlineRead = false;
  std::optional<TDateTime> deadline;
  const std::string deadlineLine = FirstLineOf(DeadlineCachePath(m_records), deadlineRead);
  try {
    // Without a cache the robot starts with the page's deadline: the one just fetched (or the
    // one the schedule gives from now).
    if (deadlineRead)
      deadline = ParseDeadline(deadlineLine);
    else if (m_pageFound)
      deadline = ParseDeadline(m_pageLine);
  } catch (const EConvertError&) {
  }
  const std::optional<long long> lastGeneration =
      m_hostRead && !m_storeProblem ? LastGenerationEnd(m_gameDir, m_hostHeader.turn, std::nullopt)
                                    : std::nullopt;
  if (deadline && DeadlineOfTurnPlayed(*deadline, lastGeneration))
    m_out << "league date:     the page still gives the deadline of the turn just played ("
          << ForceTimeText(*deadline) << ", generated "
          << ForceTimeText(LocalDateTime(*lastGeneration)) << ")\n";
  const std::string turn = TurnVerdict(deadline, lastGeneration);
  m_out << "set-up:          " << (m_problem.empty() ? "ok" : m_problem) << "\n";
  m_out << "turn:            " << turn << "\n";
  return m_problem.empty() ? 0 : 1;
}

std::string CheckReport::TurnVerdict(const std::optional<TDateTime>& deadline,
                                     std::optional<long long> lastGeneration) {
  const GameSettings& game = m_records.game;
  std::string deadlineSaid = "no deadline known";
  if (deadline && *deadline > m_now) {
    const long minutes = std::lround((*deadline - m_now) * 24 * 60);
    deadlineSaid =
        "in " + std::to_string(minutes / 60) + " h " + std::to_string(minutes % 60) + " min";
  } else if (deadline) {
    deadlineSaid = "passed";
  }
  if (m_hostRead && m_hostHeader.gameOver()) return "the game is over";
  if (m_storeProblem) return "the game store cannot be used: the robot does nothing on the game";
  if (FileExists(JournalPath(m_gameDir)))
    return "an interrupted turn waits: the robot finishes it when it starts";
  if (m_pause)
    return "paused (" + (m_pause->empty() ? std::string("no text") : *m_pause) +
           "): no turn but by \"génère\" until ventari --resume";
  if (!m_waitingFor.empty()) {
    std::string turn = "waiting for " + m_waitingFor + " (" +
                       (deadline ? "deadline " + deadlineSaid : deadlineSaid) + ")";
    if (m_force && deadline && m_hostRead) {
      const long long forceAt = ForceAt(*deadline, lastGeneration, m_force->hours);
      const std::string at = ForceTimeText(LocalDateTime(forceAt));
      turn += forceAt <= EpochSeconds(m_now)
                  ? (game.autoGenerate ? "; forced now" : "; due without them")
              : game.autoGenerate ? "; forced at " + at
                                  : "; due without them at " + at;
    }
    return turn;
  }
  if (deadline && *deadline > m_now) return "before the deadline (" + deadlineSaid + ")";
  if (deadline)
    return game.autoGenerate ? "due now" : "due now, generated when the host clicks \"génère\"";
  return "every order in, no deadline known";
}

}  // namespace

int CheckCommand(std::ostream& out) { return CheckReport(out).Run(); }

}  // namespace ventari
