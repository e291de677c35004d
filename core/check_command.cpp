#include "core/check_command.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <optional>

#include "core/backup.h"
#include "core/deadline_fetch.h"
#include "core/event_command.h"
#include "core/forced_turn.h"
#include "core/game_checks.h"
#include "core/game_store.h"
#include "core/generation.h"
#include "core/late_reminders.h"
#include "core/mail_link.h"
#include "core/mailed_orders.h"
#include "core/news.h"
#include "core/order_receipts.h"
#include "core/pause.h"
#include "core/records.h"
#include "core/refresh.h"
#include "core/schedule.h"
#include "core/turn_journal.h"
#include "mail/sendmail_mailer.h"
#include "net/nmhttp.h"
#include "platform/clock.h"
#include "platform/dialogs.h"
#include "platform/errors.h"
#include "platform/files.h"
#include "platform/folder_lock.h"
#include "platform/process.h"
#include "platform/sdl_sound.h"
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

// The messages of the game the robot would take now, nothing mailed nor moved.
std::size_t MailedWaiting(ProgramRecords& records, const std::string& maildir,
                          const stars::FileHeader& host) {
  std::string said;
  PrintedDialogs dialogs(said);
  SendmailMailer mailer(dialogs, SendmailCommandFromEnvironment());
  SystemClock clock;
  OrderReceipts receipts(records, mailer, clock, MailLinkFromEnvironment(), false);
  MailedOrders mailed(records, mailer, receipts, clock, MailLinkFromEnvironment(), maildir);
  return mailed.Waiting(host);
}

std::string FirstLineOf(const std::string& path, bool& found) {
  TextFileReader file;
  found = file.open(path);
  return found ? file.readLine() : std::string();
}

std::string Lower(std::string text) {
  for (char& c : text)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return text;
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

int CheckCommand(std::ostream& out) {
  std::string problem;
  auto note = [&](const std::string& text) {
    if (problem.empty()) problem = text;
  };
  ProgramRecords records;
  SettingsProblems settingsProblems;
  HostSettings& host = records.host;
  GameSettings& game = records.game;
  try {
    if (!LoadHostSettings(host, &settingsProblems)) {
      out << "set-up:          config file not found: ventari.def in " << GetCurrentDir() << "\n";
      return 1;
    }
    MakeFoldersAbsolute(host, GetCurrentDir());
    if (!LoadGameSettings(game, host.repJeu, &settingsProblems)) {
      out << "set-up:          config file not found: " << host.repJeu << "/ventari.pla\n";
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
        out << "settings:        " << problem.Message() << "\n";
      out << "set-up:          settings: " << what << "\n";
      return 1;
    }
  }

  // Every line the robot reads but cannot use as meant: each a problem.
  for (const SettingsProblem& problem : settingsProblems) {
    out << "settings:        " << problem.Message() << "\n";
    note(problem.Message());
  }
  if (game.playerCount == 0) note("ventari.pla: no players (joueurs 0): nobody would get a turn");
  const std::string gameDir = host.repJeu + "/" + game.gameName;
  const std::string stem = gameDir + "/" + game.gameName;
  out << "game:            " << game.gameName << " (" << gameDir << ")\n";
  // Read, never made nor mended here: the robot does nothing on a game whose store it cannot use.
  const std::optional<std::string> storeProblem =
      GameStoreProblem(gameDir, GameStore::Access::kRead);
  bool found = false;
  const std::string year = FirstLineOf(YearCachePath(records), found);
  out << "year:            " << (found ? year : "not read yet (no year cache)") << "\n";
  const std::string deadline = FirstLineOf(DeadlineCachePath(records), found);
  out << "deadline:        " << (found ? deadline : "not fetched") << "\n";

  stars::FileHeader hostHeader;
  const bool hostRead = stars::ReadCompleteHostHeader(stem + ".hst", hostHeader);
  if (!hostRead) note("the host file " + stem + ".hst cannot be read as one");
  out << "host file:       " << stem << ".hst"
      << (hostRead ? ", turn " + std::to_string(hostHeader.turn) + ", generation " +
                         std::to_string(hostHeader.generation()) +
                         (hostHeader.gameOver() ? ", game over" : "")
                   : ", cannot be read whole")
      << "\n";
  std::string waitingFor;  // the late players, with why
  out << "orders:\n";
  for (int n = 1; n <= game.playerCount; ++n) {
    const PlayerEntry& player = game.player(n);
    out << "  " << n << " " << player.name << ": ";
    if (player.isComputer()) {
      out << "computer\n";
      continue;
    }
    const stars::OrderJudgement judgement =
        hostRead ? stars::JudgeOrderFile(stem + ".x" + std::to_string(n), hostHeader, n)
                 : stars::OrderJudgement{};
    const stars::OrderVerdict verdict = judgement.verdict;
    if (verdict == stars::OrderVerdict::kIn) {
      out << (judgement.savedOnly ? "in (saved, not submitted)\n" : "in\n");
    } else {
      const std::string why = hostRead ? stars::OrderVerdictText(verdict) : "no host file";
      out << "late (" << why << ")\n";
      waitingFor += (waitingFor.empty() ? "" : ", ") + player.name + " (" + why + ")";
    }
  }

  const std::string executable = host.binariesDir + "\\" + host.executableName;
  const std::optional<ResolvedCommand> gameCommand = ResolveCommandLine(executable);
  if (gameCommand && gameCommand->program == NativePath(executable)) {
    out << "game executable: " << NativePath(executable) << ", " << HowRun(*gameCommand) << "\n";
  } else {
    out << "game executable: " << NativePath(executable) << ", cannot be started\n";
    note("the game executable " + NativePath(executable) + " cannot be started");
  }
  const std::string yearTool = host.repJeu + "/staryear.EXE";
  if (!ResolveCommandLine(QuoteArgument(yearTool)))
    note("the year tool " + yearTool + " cannot be started");

  const std::string sendmail = SendmailCommandFromEnvironment();
  const bool mailFound = ResolveCommandLine(sendmail).has_value();
  // The robot gives the game's host as the sender; one the command forces would send the mail
  // of every game sharing it from one address.
  const std::optional<std::string> forcedSender = SenderForcedBy(sendmail);
  const bool otherSender = forcedSender && Lower(*forcedSender) != Lower(game.hostAddress);
  out << "mail system:     " << sendmail << (mailFound ? "" : ", not found")
      << (otherSender ? ", its own sender " + *forcedSender : std::string()) << "\n";
  if (!mailFound) note("the mail program " + sendmail + " cannot be started");
  if (otherSender)
    note("VENTARI_SENDMAIL sends every mail from " + *forcedSender + ", not from the game's host " +
         game.hostAddress + ": leave the sender out of it, the robot gives each game's own");

  // With a schedule the league is never asked: the check shows what the robot would write.
  const ScheduleReading scheduleReading = ScheduleFromEnvironment();
  const TDateTime now = SystemClock().Now();
  bool pageFound = false;
  std::string pageLine;
  if (!scheduleReading.schedule) {
    out << "schedule:        " << scheduleReading.problem << "\n";
    note(scheduleReading.problem);
  } else if (!scheduleReading.schedule->fromLeague()) {
    const Schedule& schedule = *scheduleReading.schedule;
    pageLine = DeadlineLine(ScheduledDeadline(schedule, EpochSeconds(now), game.hoursToDeadline));
    pageFound = true;
    out << "schedule:        " << ScheduleText(schedule, game.hoursToDeadline) << "\n";
    out << "next deadline:   " << pageLine << " for a turn generated now\n";
  } else {
    const char* setting = std::getenv("VENTARI_SCHEDULE");
    out << "schedule:        the league page ("
        << (setting ? "VENTARI_SCHEDULE=" + std::string(setting) : "VENTARI_SCHEDULE unset")
        << ")\n";
    TNMHTTP http;
    std::string said;
    PrintedDialogs dialogs(said);
    const std::string url =
        LeagueServerBase() + game.webFolder + "/travail/ventari.php/nextdl?jeu=" + game.gameName;
    std::string headerText;
    std::string bodyText;
    try {
      pageFound = FetchPage(http, dialogs, url, "", "", false, headerText, bodyText);
    } catch (const std::exception& error) {
      said = error.what();
    }
    TextFileReader page;
    page.openText(bodyText);
    pageLine = pageFound ? page.readLine() : std::string();
    out << "league page:     " << url << ": "
        << (pageFound ? pageLine : "not found" + (said.empty() ? "" : " (" + said + ")")) << "\n";
    if (!pageFound) note("the league page " + url + " cannot be fetched");
  }

  const std::optional<double> lead = ReminderLeadFromEnvironment();
  const char* leadText = std::getenv("VENTARI_REMIND_HOURS");
  out << "late players:    "
      << (lead       ? "reminded " + std::string(leadText) + " hours before the deadline"
          : leadText ? "not reminded (VENTARI_REMIND_HOURS is no number of hours)"
                     : "not reminded")
      << "\n";

  out << "receipts:        " << (ReceiptsOnFromEnvironment() ? "on" : "off (VENTARI_RECEIPTS=0)")
      << "\n";
  if (const std::optional<std::string> maildir = MaildirFromEnvironment()) {
    const std::optional<std::string> unusable = MaildirProblem(*maildir);
    if (unusable) {
      out << "orders by mail:  " << *unusable << "\n";
      note("VENTARI_MAILDIR=" + *maildir + ": " + *unusable);
    } else {
      const std::size_t waiting =
          hostRead && !storeProblem ? MailedWaiting(records, *maildir, hostHeader) : 0;
      out << "orders by mail:  " << *maildir << ", " << waiting
          << (waiting == 1 ? " message waits" : " messages wait") << "\n";
    }
    const std::string authserv = MailAuthservFromEnvironment();
    out << "mail senders:    "
        << (authserv.empty() ? std::string("taken from From as it stands (VENTARI_MAIL_AUTHSERV "
                                           "unset)")
                             : "vouched for by " + authserv + " (VENTARI_MAIL_AUTHSERV)")
        << "\n";
  } else {
    out << "orders by mail:  none (VENTARI_MAILDIR unset)\n";
  }
  const std::optional<ForceSetting> force = ForceFromEnvironment();
  const char* forceText = std::getenv("VENTARI_FORCE_AFTER_HOURS");
  out << "forced turns:    "
      << (force ? std::string(game.autoGenerate ? "" : "none in manual mode; ") +
                      "the turn goes without the late players " + force->text +
                      " hours after the deadline"
          : forceText ? "none (VENTARI_FORCE_AFTER_HOURS is no number of hours)"
                      : "none")
      << "\n";
  const std::optional<std::string> pause = ReadPause(host.repJeu);
  out << "pause:           "
      << (pause ? (pause->empty() ? std::string("paused, no text given") : *pause) : "none")
      << "\n";

  const std::optional<std::string> eventCommand = EventCommandFromEnvironment();
  out << "event command:   " << (eventCommand ? *eventCommand : std::string("none")) << "\n";
  const std::optional<HostNewsItem> news = ReadNews(host.repJeu);
  out << "host's message:  " << (news ? news->text : std::string("none")) << "\n";

  const GameTimeLimitSetting limit = ReadGameTimeLimit(std::getenv("VENTARI_GAME_TIMEOUT"));
  out << "game time limit: " << limit.limit.count() << " seconds\n";
  if (!limit.problem.empty()) note(limit.problem);

  // Looked at without taking the lock: a robot starting meanwhile is not refused.
  const std::optional<FolderLock::Held> robot = FolderLock::Holder(gameDir);
  out << "robot:           "
      << (robot ? "running, process " + std::to_string(robot->pid) + " holds " + robot->path
                : "none running on this game")
      << "\n";
  const std::string journalPath = JournalPath(gameDir);
  if (FileExists(journalPath)) {
    try {
      ReadJournal(journalPath);
      out << "turn journal:    " << journalPath << ": a turn under way, finished by the robot\n";
    } catch (const Exception& error) {
      out << "turn journal:    " << error.what() << "\n";
      note(std::string(error.what()) +
           "; ventari --restore YEAR or its deletion lets the robot go on");
    }
  }

  out << "game store:      " << storeProblem.value_or(GameStorePath(gameDir)) << "\n";
  if (storeProblem) note(*storeProblem + "; put back a copy of it, or move it away");
  const std::vector<std::string> backups = ListGameBackups(gameDir);
  out << "backups:        ";
  for (const std::string& name : backups) out << " " << name;
  out << (backups.empty() ? " none" : "") << "\n";

  out << "publication:     " << host.publicationDir << "/" << game.gameName << "\n";
  // What the players' mails link to: a host must see an address that is not his league's.
  const MailLink link = MailLinkFromEnvironment();
  if (!link.leagueSite.empty()) out << "league site:     " << link.leagueSite << "\n";
  const std::string linkAddress = link.Address(game);
  out << "mail link:       "
      << (linkAddress.empty() ? "none (no league site, no VENTARI_PUBLIC_URL)" : linkAddress)
      << "\n";
  if (link.leagueSite == kExampleLeagueSite)
    note(std::string("the players' mails link to the example address ") + kExampleLeagueSite +
         ", which leads nowhere: set VENTARI_LEAGUE_SITE to the league's site, or "
         "VENTARI_PUBLIC_URL to the status page's public address");
  const std::optional<std::string> installed = InstalledDataFolder();
  const bool soundHere = FileExists("pret.wav");
  const bool soundInstalled = installed && FileExists(*installed + "/pret.wav");
  out << "ready sound:     "
      << (soundHere        ? GetCurrentDir() + "/pret.wav"
          : soundInstalled ? *installed + "/pret.wav"
                           : "none: the error is shown once a turn")
      << "\n";
  if (!soundHere && !soundInstalled)
    note("no pret.wav in " + GetCurrentDir() + " nor where the package puts it");

  // Two verdicts: whether the robot can run, and where the turn stands.
  std::string turn;
  bool deadlineRead = false;
  std::optional<TDateTime> deadlineTime;
  const std::string deadlineLine = FirstLineOf(DeadlineCachePath(records), deadlineRead);
  try {
    // Without a cache the robot starts with the page's deadline: the one just fetched (or the
    // one the schedule gives from now).
    if (deadlineRead)
      deadlineTime = ParseDeadline(deadlineLine);
    else if (pageFound)
      deadlineTime = ParseDeadline(pageLine);
  } catch (const EConvertError&) {
  }
  std::string deadlineSaid = "no deadline known";
  if (deadlineTime && *deadlineTime > now) {
    const long minutes = std::lround((*deadlineTime - now) * 24 * 60);
    deadlineSaid =
        "in " + std::to_string(minutes / 60) + " h " + std::to_string(minutes % 60) + " min";
  } else if (deadlineTime) {
    deadlineSaid = "passed";
  }
  const std::optional<long long> lastGeneration =
      hostRead && !storeProblem ? LastGenerationEnd(gameDir, hostHeader.turn, std::nullopt)
                                : std::nullopt;
  if (deadlineTime && DeadlineOfTurnPlayed(*deadlineTime, lastGeneration))
    out << "league date:     the page still gives the deadline of the turn just played ("
        << ForceTimeText(*deadlineTime) << ", generated "
        << ForceTimeText(LocalDateTime(*lastGeneration)) << ")\n";
  if (hostRead && hostHeader.gameOver()) {
    turn = "the game is over";
  } else if (storeProblem) {
    turn = "the game store cannot be used: the robot does nothing on the game";
  } else if (FileExists(JournalPath(gameDir))) {
    turn = "an interrupted turn waits: the robot finishes it when it starts";
  } else if (pause) {
    turn = "paused (" + (pause->empty() ? std::string("no text") : *pause) +
           "): no turn but by \"génère\" until ventari --resume";
  } else if (!waitingFor.empty()) {
    turn = "waiting for " + waitingFor + " (" +
           (deadlineTime ? "deadline " + deadlineSaid : deadlineSaid) + ")";
    if (force && deadlineTime && hostRead) {
      const long long forceAt = ForceAt(*deadlineTime, lastGeneration, force->hours);
      const std::string at = ForceTimeText(LocalDateTime(forceAt));
      turn += forceAt <= EpochSeconds(now)
                  ? (game.autoGenerate ? "; forced now" : "; due without them")
              : game.autoGenerate ? "; forced at " + at
                                  : "; due without them at " + at;
    }
  } else if (deadlineTime && *deadlineTime > now) {
    turn = "before the deadline (" + deadlineSaid + ")";
  } else if (deadlineTime) {
    turn = game.autoGenerate ? "due now" : "due now, generated when the host clicks \"génère\"";
  } else {
    turn = "every order in, no deadline known";
  }
  out << "set-up:          " << (problem.empty() ? "ok" : problem) << "\n";
  out << "turn:            " << turn << "\n";
  return problem.empty() ? 0 : 1;
}

}  // namespace ventari
