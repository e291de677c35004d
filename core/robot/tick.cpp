#include "core/robot/tick.h"

#include <algorithm>
#include <functional>
#include <map>
#include <vector>

#include "core/game/game_checks.h"
#include "core/game/monitor_view.h"
#include "core/game/records.h"
#include "core/game/turn_record.h"
#include "core/players/events.h"
#include "core/players/late_reminders.h"
#include "core/players/mailed_orders.h"
#include "core/players/news.h"
#include "core/players/opening_turn.h"
#include "core/players/order_receipts.h"
#include "core/players/status_publisher.h"
#include "core/turn/pause.h"
#include "core/turn/refresh.h"
#include "core/turn/schedule.h"
#include "core/turn/turn_history.h"
#include "mail/mailer.h"
#include "platform/clock.h"
#include "platform/dialogs.h"
#include "platform/errors.h"
#include "platform/event_log.h"
#include "platform/files.h"
#include "platform/sound.h"
#include "stars/stars_file.h"

namespace ventari {

SurveillanceTick::SurveillanceTick(ProgramRecords& records, MonitorView& view, SoundPlayer& sound,
                                   const Clock& clock, Mailer& mailer, RefreshCycle& refresh,
                                   LateReminders* reminders, Dialogs* dialogs,
                                   OrderReceipts* receipts, StatusPublisher* status)
    : m_records(records),
      m_view(view),
      m_sound(sound),
      m_clock(clock),
      m_mailer(mailer),
      m_refresh(refresh),
      m_reminders(reminders),
      m_dialogs(dialogs),
      m_receipts(receipts),
      m_status(status) {
  m_loggedVerdicts.fill({});
}

void SurveillanceTick::LogVerdict(int row, const std::string& orderFile,
                                  const stars::OrderJudgement& judgement) {
  stars::OrderJudgement& logged = m_loggedVerdicts[static_cast<std::size_t>(row)];
  if (judgement.verdict == logged.verdict && judgement.savedOnly == logged.savedOnly) return;
  logged = judgement;
  const stars::OrderVerdict verdict = judgement.verdict;
  const std::string player =
      "player " + std::to_string(row) + " (" + m_records.game.player(row).name + "): ";
  if (verdict == stars::OrderVerdict::kIn && judgement.savedOnly)
    LogEvent("info", "orders in (saved, not submitted): " + player + orderFile);
  else if (verdict == stars::OrderVerdict::kIn)
    LogEvent("info", "orders in: " + player + orderFile);
  else if (verdict == stars::OrderVerdict::kMissing)
    LogEvent("info", "orders gone: " + player + orderFile);
  else
    LogEvent("warning",
             "orders refused: " + player + orderFile + ": " + stars::OrderVerdictText(verdict));
}

void SurveillanceTick::PlayReadySound(const std::string& turn) {
  if (!m_dialogs) return m_sound.Play("pret.wav");
  try {
    m_sound.Play("pret.wav");
  } catch (const Exception& error) {
    // Only the sound is missing: the turn must still be generated when it is due.
    if (m_soundErrorTurn == turn) return;
    m_soundErrorTurn = turn;
    LogEvent("error", std::string("ready sound not played: pret.wav in ") + GetCurrentDir() + ": " +
                          error.what());
    m_dialogs->ShowError(error.what());
  }
}

void SurveillanceTick::LogState(const char* state) {
  const std::string& late = m_records.monitor.lateText;
  const std::string text = state + (late.empty() ? std::string() : ", late: " + late);
  if (m_loggedState == text) return;
  m_loggedState = text;
  LogEvent("info", "state: " + text);
}

void SurveillanceTick::LogPause(const std::optional<std::string>& pause) {
  if (m_loggedPause && *m_loggedPause == pause) return;
  const std::string& g = m_records.game.gameName;
  if (pause) {
    LogEvent("info", "pause: " + (pause->empty() ? std::string("(no text)") : *pause) +
                         "; no turn is generated but by \"génère\", no reminder goes out");
    // A pause found at start is no news.
    if (m_events && m_loggedPause) m_events->Send(events::Pause(g, *pause));
  } else if (m_loggedPause && *m_loggedPause) {
    LogEvent("info", "pause lifted");
    if (m_events) m_events->Send(events::Resume(g, **m_loggedPause));
  }
  m_loggedPause = pause;
}

void SurveillanceTick::PublishStatus(const char* state, const std::string& note,
                                     const std::vector<StatusPlayer>& players, bool hostRead,
                                     const stars::FileHeader& host) {
  if (!m_status) return;
  const MonitorState& monitor = m_records.monitor;
  const std::string& g = m_records.game.gameName;
  StatusSnapshot snapshot;
  snapshot.game = g;
  snapshot.year = hostRead ? std::to_string(host.year()) : monitor.yearText;
  snapshot.state = state;
  snapshot.stateNote = note;
  snapshot.news = m_newsText;
  // The league's own page says how it sets deadlines; the host's schedule is said here.
  if (!m_schedule.fromLeague())
    snapshot.schedule = ScheduleFrench(m_schedule, m_records.game.hoursToDeadline);
  if (monitor.deadlineKnown && !(hostRead && host.gameOver())) snapshot.deadline = monitor.deadline;
  const std::string hostFile = m_records.host.repJeu + "/" + g + "/" + g + ".hst";
  if (hostRead) snapshot.lastGeneration = StatusPublisher::LastGeneration(hostFile, host.turn);
  snapshot.updated = m_clock.Now();
  snapshot.players = players;
  if (hostRead) snapshot.history = History(host.turn);
  m_status->Publish(snapshot, hostRead ? "turn " + std::to_string(host.turn) : std::string());
}

const std::vector<PastTurn>& SurveillanceTick::History(int turn) {
  // The past changes only when a turn is played (or a restore undoes some).
  if (m_historyTurn == turn) return m_history;
  const std::string gameDir = m_records.host.repJeu + "/" + m_records.game.gameName;
  try {
    m_history = ReadTurnHistory(gameDir, kHistoryTurns);
    m_historyTurn = turn;
  } catch (const EInOutError& error) {
    m_history.clear();
    LogEvent("error", std::string("the turns' history not read: ") + error.what());
  }
  return m_history;
}

void SurveillanceTick::RemindHostOnce(const std::string& record, const std::string& turnKey,
                                      bool again, const std::function<void()>& send) {
  const std::string done = record + "\n" + turnKey;
  if (!again && (m_hostReminded.count(done) != 0 || TurnRecordHolds(record, turnKey))) return;
  MonitorState& state = m_records.monitor;
  state.savedDir = GetCurrentDir();
  send();
  SetCurrentDir(state.savedDir);
  // Remembered here as well: a record that cannot be written must not mail the host every
  // minute, nor stop the look.
  m_hostReminded.insert(done);
  try {
    WriteTurnRecord(record, turnKey);
  } catch (const EInOutError& error) {
    LogEvent("error", "the host's reminder not recorded in " + record + ": " + error.what() +
                          "; not sent again in this run");
  }
}

void SurveillanceTick::RemindHostOfForcedTurn(int turn, const std::string& gameDir) {
  // Once per turn, beside the reminder of a turn whose orders are all in.
  const GameSettings& game = m_records.game;
  const MonitorState& state = m_records.monitor;
  RemindHostOnce(ForcedReminderRecordPath(gameDir), "turn " + std::to_string(turn), false, [&] {
    m_mailer.SendEmail(game.gameName + " human host", game.hostAddress,
                       "Ventari : jeu " + game.gameName + " année " + state.yearText,
                       "génération année " + state.yearText +
                           " prête à être effectuée manuellement\n\r\n\rsans les ordres de " +
                           state.lateText + " : la date limite est passée de plus de " +
                           m_force->text + " heures\n\r\n\rle robot Ventari de service.",
                       std::nullopt, std::nullopt,
                       MailIdentity{game.gameName, state.yearText, 0, "forced-reminder"});
  });
}

std::string SurveillanceTick::StaleDeadlineNote(int turn, std::optional<long long> lastGeneration) {
  const MonitorState& state = m_records.monitor;
  if (!state.deadlineKnown || !DeadlineOfTurnPlayed(state.deadline, lastGeneration)) return {};
  // Once a turn.
  const std::string said = std::to_string(turn) + " " + state.deadlineText;
  if (m_loggedStaleDeadline != said) {
    m_loggedStaleDeadline = said;
    LogEvent("warning", "the league page still gives the deadline of the turn just played: " +
                            state.deadlineText +
                            "; a forced turn waits for the hours after the generation");
  }
  return "la ligue donne encore la date limite du tour joué (" + state.deadlineText + ")";
}

std::optional<std::chrono::milliseconds> SurveillanceTick::DueIn() const {
  if (!m_dueAt) return std::nullopt;
  const auto wait = std::chrono::milliseconds(
      static_cast<long long>((LocalDateTime(*m_dueAt) - m_clock.Now()) * 86400000.0));
  // Further away, a later look plans it again.
  if (wait > std::chrono::hours(1)) return std::nullopt;
  return std::max(wait, std::chrono::milliseconds(0));
}

SurveillanceTick::TurnLook SurveillanceTick::LookAtTurn() {
  const HostSettings& host = m_records.host;
  const std::string& g = m_records.game.gameName;
  TurnLook look;
  look.gameDir = host.repJeu + "/" + g;
  const std::string stem = look.gameDir + "/" + g;
  look.hostRead = stars::ReadCompleteHostHeader(stem + ".hst", look.host);
  // A new turn (or another game) starts with no order file seen.
  look.turnSeen = look.hostRead ? stem + " turn " + std::to_string(look.host.turn) : std::string();
  // What the first look of this run finds was there before it: no news for the event command.
  look.news = m_loggedTurn.has_value();
  if (look.turnSeen != m_loggedTurn) {
    m_loggedTurn = look.turnSeen;
    m_loggedVerdicts.fill({});
    m_acceptedHash.fill({});
    if (!look.hostRead) {
      LogEvent("warning", "no whole host file can be read at " + stem + ".hst: no orders count");
    } else if (look.host.gameOver()) {
      LogEvent("info", "game over: the host file " + stem + ".hst says so; no turn is generated");
      if (m_events && look.news) m_events->Send(events::GameOver(g, m_records.monitor.yearText));
    }
  }
  return look;
}

void SurveillanceTick::JudgeOrders(TurnLook& look) {
  const GameSettings& game = m_records.game;
  MonitorState& state = m_records.monitor;
  state.lateText.clear();
  look.allIn = true;
  const std::string stem = look.gameDir + "/" + game.gameName;
  for (int n = 1; n <= game.playerCount; ++n) {
    const PlayerEntry& player = game.player(n);  // row 13 raises the range error
    StatusPlayer& shown = look.players.emplace_back();
    shown.row = n;
    shown.name = player.name;
    if (player.isComputer()) {
      shown.orders = PlayerOrders::kComputer;
      continue;
    }
    const char* why = "missing";
    // An order file counts only when it is this turn's, of this game and of this player: last
    // turn's file or a cut-off upload would otherwise have the turn generated without him.
    if (look.hostRead) {
      const std::string orderFile = stem + ".x" + std::to_string(n);
      const stars::OrderJudgement judgement = m_judge.Judge(orderFile, look.host, n);
      LogVerdict(n, orderFile, judgement);
      const std::optional<FileVersion> version = m_judge.JudgedVersion(n);
      if (m_receipts) m_receipts->Look(n, orderFile, version, judgement, look.host);
      TellOrdersIn(n, judgement, version, look);  // after the receipt went
      if (judgement.verdict == stars::OrderVerdict::kIn) {
        if (m_mailed) m_mailed->GoodFileIn(n);
        shown.orders = PlayerOrders::kIn;
        continue;
      }
      if (judgement.verdict != stars::OrderVerdict::kMissing) {
        look.refusedFiles[n] = OrderVerdictFrench(judgement.verdict);
        shown.orders = PlayerOrders::kRefused;
        shown.reason = look.refusedFiles[n];
        why = stars::OrderVerdictText(judgement.verdict);
      } else if (const std::optional<std::string> mailed =
                     m_mailed ? m_mailed->Refusal(n, look.host.turn) : std::nullopt) {
        // Nothing in the folder, but the file he mailed did not count: he is told why here too.
        shown.orders = PlayerOrders::kRefused;
        shown.reason = *mailed;
      }
    }
    look.allIn = false;
    look.lateRows.push_back(n);
    look.lateWhy += std::string(look.lateWhy.empty() ? "" : ", ") + std::to_string(n) + " (" +
                    player.name + "): " + why;
    state.lateText += std::to_string(n) + "(" + player.name + ")";
  }
}

void SurveillanceTick::TellOrdersIn(int row, const stars::OrderJudgement& judgement,
                                    const std::optional<FileVersion>& version,
                                    const TurnLook& look) {
  // Each new set of orders that counts is news, a correction said so.
  std::string& accepted = m_acceptedHash[static_cast<std::size_t>(row)];
  if (judgement.verdict != stars::OrderVerdict::kIn || !version ||
      version->contentsHash == accepted)
    return;
  const bool correction = !accepted.empty();
  accepted = version->contentsHash;
  RecordArrival(row, *version, look);
  if (look.news && m_events)
    m_events->Send(events::Orders(m_records.game.gameName, m_records.monitor.yearText,
                                  m_records.game.player(row).name, row, correction));
}

void SurveillanceTick::RecordArrival(int row, const FileVersion& version, const TurnLook& look) {
  // Seen within a second while the robot runs; a file that came while it was not running
  // arrived when it was written.
  const long long now = EpochSeconds(m_clock.Now());
  const long long at = look.news ? now : std::min<long long>(now, version.modifiedNs / 1000000000);
  try {
    RecordOrdersIn(look.gameDir, look.host.turn, row, version.contentsHash, at);
    m_arrivalError.clear();
  } catch (const EInOutError& error) {
    if (m_arrivalError != error.what())
      LogEvent("error", std::string("orders' arrival not recorded: ") + error.what());
    m_arrivalError = error.what();
  }
}

void SurveillanceTick::ShowReadiness(const TurnLook& look) {
  if (look.allIn) {
    m_view.SetColour(WindowColour::InfoBackground);
    m_view.SetLine(WindowLine::State, "prêt à générer");
    PlayReadySound(look.turnSeen);
  } else {
    m_view.SetColour(WindowColour::ButtonFace);
    m_view.SetLine(WindowLine::State, "incomplet");
  }
}

SurveillanceTick::TurnTiming SurveillanceTick::TimeTurn(const TurnLook& look, bool paused) {
  const MonitorState& state = m_records.monitor;
  TurnTiming timing;
  // Equal is not passed. A deadline never converted (or that of a turn already generated) is
  // no deadline: the zero of the scale would otherwise count as long past.
  const TDateTime now = m_clock.Now();
  timing.passed = state.deadlineKnown && now > state.deadline;
  const std::optional<long long> lastGeneration =
      look.hostRead ? LastGenerationEnd(look.gameDir, look.host.turn, state.lastGenerationEnd)
                    : std::nullopt;
  timing.staleNote = StaleDeadlineNote(look.host.turn, lastGeneration);
  // When the turn would go without the late players' orders, in real seconds: the hours count
  // from the later of the deadline and the last generation, so a league page that has not moved
  // its date gives one forced turn, then the players have the hours again.
  if (m_force && !look.allIn && look.hostRead && state.deadlineKnown)
    timing.forceAt = ForceAt(state.deadline, lastGeneration, m_force->hours);
  timing.forceNote =
      timing.forceAt && !paused
          ? (m_records.game.autoGenerate ? "génération forcée le " : "tour dû sans eux le ") +
                ForceTimeText(LocalDateTime(*timing.forceAt))
          : std::string();
  if (!timing.staleNote.empty())
    timing.forceNote =
        timing.staleNote + (timing.forceNote.empty() ? "" : " ; " + timing.forceNote);
  timing.forcedNow = timing.forceAt && EpochSeconds(now) > *timing.forceAt;
  // The instant the turn falls due with no file changing (equal is not passed: the second
  // after): the robot looks then rather than at the next minute.
  if (!paused && look.allIn && !timing.passed && state.deadlineKnown)
    m_dueAt = EpochSeconds(state.deadline) + 1;
  else if (!paused && timing.forceAt && !timing.forcedNow)
    m_dueAt = *timing.forceAt + 1;
  return timing;
}

std::optional<GenerationDue> SurveillanceTick::Settle(const char* state, const std::string& note,
                                                      const TurnLook& look) {
  LogState(state);
  PublishStatus(state, note, look.players, look.hostRead, look.host);
  m_refresh.Run();
  return std::nullopt;
}

std::optional<GenerationDue> SurveillanceTick::LateTurn(const TurnLook& look,
                                                        const TurnTiming& timing) {
  if (timing.forcedNow) {
    if (m_records.game.autoGenerate) {
      m_view.SetLine(WindowLine::State, "génération forcée");
      LogState("génération forcée");
      LogEvent("warning", "forced generation: the deadline passed by more than " +
                              HoursText(m_force->text) + "; left out: " + look.lateWhy);
      PublishStatus("génération forcée", "", look.players, look.hostRead, look.host);
      return GenerationDue{ForcedTurn{-1, m_force->text, look.lateRows}};
    }
    RemindHostOfForcedTurn(look.host.turn, look.gameDir);
  }
  m_view.SetLine(WindowLine::State, "en retard");
  return Settle("en retard", timing.forceNote, look);
}

std::optional<GenerationDue> SurveillanceTick::DueTurn(const TurnLook& look,
                                                       const TurnTiming& timing, bool hostAsked) {
  const GameSettings& game = m_records.game;
  const MonitorState& state = m_records.monitor;
  const std::string& g = game.gameName;
  m_view.SetLine(WindowLine::State, "devrait générer");
  LogState("devrait générer");
  PublishStatus("devrait générer", timing.staleNote, look.players, look.hostRead, look.host);
  if (game.autoGenerate) return GenerationDue{};
  // Once per turn (every box closed re-activates the window and runs a tick), and again
  // whenever the host asks with "rafraîchit".
  const std::string turnKey =
      look.hostRead ? "turn " + std::to_string(look.host.turn) : "year " + state.yearText;
  RemindHostOnce(ReminderRecordPath(look.gameDir), turnKey, hostAsked, [&] {
    m_mailer.SendEmail(
        g + " human host", game.hostAddress, "Ventari : jeu " + g + " année " + state.yearText,
        "génération année " + state.yearText +
            " prête à être effectuée manuellement\n\r\n\rle robot Ventari de service.",
        std::nullopt, std::nullopt,
        // Asked again by the host, it is a new message.
        hostAsked ? std::nullopt : std::optional<MailIdentity>({g, state.yearText, 0, "manual"}));
  });
  m_refresh.Run();
  return std::nullopt;
}

std::optional<GenerationDue> SurveillanceTick::Run(bool hostAsked) {
  MonitorState& state = m_records.monitor;
  m_dueAt.reset();
  CheckGameSettings(m_records.game);
  if (m_news) m_newsText = m_news->Look().value_or(std::string());
  TurnLook look = LookAtTurn();
  // The players have their first turn files before anything else is said to them.
  if (m_opening && look.hostRead && !look.host.gameOver()) m_opening->Look(look.host);
  // A mailed order file is placed first, so that this look judges and receipts it.
  if (m_mailed && look.hostRead) m_mailed->Look(look.host);
  JudgeOrders(look);
  if (look.hostRead && look.host.gameOver()) {
    // The game has ended: nothing more to generate, nobody to remind.
    m_view.SetColour(WindowColour::ButtonFace);
    m_view.SetLine(WindowLine::State, "partie terminée");
    return Settle("partie terminée", "", look);
  }
  const std::optional<std::string> pause = ReadPause(m_records.host.repJeu);
  LogPause(pause);
  state.pauseText = pause;
  if (m_reminders && look.hostRead && !pause)
    m_reminders->Remind(look.lateRows, look.host.turn, look.refusedFiles);
  ShowReadiness(look);
  const TurnTiming timing = TimeTurn(look, pause.has_value());
  if (pause) {
    // The orders are still judged and receipted; nothing is generated by the ticks.
    m_view.SetLine(WindowLine::State, "en pause");
    return Settle("en pause", *pause, look);
  }
  if (!timing.passed)
    return Settle(look.allIn ? "prêt à générer" : "incomplet", timing.forceNote, look);
  if (!look.allIn) return LateTurn(look, timing);
  return DueTurn(look, timing, hostAsked);
}

}  // namespace ventari
