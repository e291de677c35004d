#pragma once
// The surveillance tick: which human players are late, the window's colour and state, the ready
// sound, and once the deadline has passed the generation due or the host's reminder. It logs
// what changed: an order file in or refused, the turn's state; a quiet tick logs nothing.

#include <array>
#include <chrono>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "core/players/order_file_judge.h"
#include "core/players/status_page.h"
#include "core/turn/forced_turn.h"
#include "core/turn/schedule.h"
#include "stars/stars_file.h"

namespace ventari {

class Clock;
class Dialogs;
class EventSink;
class HostNews;
class LateReminders;
class MailedOrders;
class OpeningTurn;
class Mailer;
class MonitorView;
class OrderReceipts;
class RefreshCycle;
class StatusPublisher;
class SoundPlayer;
struct ProgramRecords;

// A generation the tick found due; the robot runs it.
struct GenerationDue {
  std::optional<ForcedTurn> forced;  // without the orders of these rows
};

class SurveillanceTick {
 public:
  // With `dialogs`, a ready sound that cannot be played is shown once per turn and the tick
  // goes on: only the sound is missing. Without, its error ends the tick.
  SurveillanceTick(ProgramRecords& records, MonitorView& view, SoundPlayer& sound,
                   const Clock& clock, Mailer& mailer, RefreshCycle& refresh,
                   LateReminders* reminders = nullptr, Dialogs* dialogs = nullptr,
                   OrderReceipts* receipts = nullptr, StatusPublisher* status = nullptr);

  // How the deadlines are set, for the page (the league's, until told).
  void SetSchedule(const Schedule& schedule) { m_schedule = schedule; }
  // Turns forced past absent players that many hours after the deadline; nothing: never.
  void SetForce(std::optional<ForceSetting> force) { m_force = std::move(force); }
  // Orders by mail, taken at each look before the order files are judged; null: none.
  void SetMailedOrders(MailedOrders* mailed) { m_mailed = mailed; }
  // The first turn files, mailed at the first look of a game that never had them.
  void SetOpening(OpeningTurn* opening) { m_opening = opening; }
  // Hears of orders in, a pause set or lifted and the game's end, as this run sees them change;
  // null: nobody.
  void SetEvents(EventSink* events) { m_events = events; }
  // The host's message to his players, looked at (and mailed once) at every look.
  void SetNews(HostNews* news) { m_news = news; }

  // One tick (Timer1Timer). `hostAsked`: the host clicked "rafraîchit", which sends the
  // manual-mode reminder again. The generation due, if any: the tick then ends before its
  // refresh, which the generation's end brings. Raises the runtime's errors.
  [[nodiscard]] std::optional<GenerationDue> Run(bool hostAsked = false);
  // How long after the last tick the turn falls due with nothing else changing (the deadline
  // with every order in, or the forced hours run out); nothing when not within the hour.
  std::optional<std::chrono::milliseconds> DueIn() const;

 private:
  ProgramRecords& m_records;
  MonitorView& m_view;
  SoundPlayer& m_sound;
  const Clock& m_clock;
  Mailer& m_mailer;
  RefreshCycle& m_refresh;
  LateReminders* m_reminders;
  Dialogs* m_dialogs;
  OrderReceipts* m_receipts;
  StatusPublisher* m_status;
  // What one look found of the turn: the host file, each player's orders.
  struct TurnLook {
    std::string gameDir;
    stars::FileHeader host;
    bool hostRead = false;
    std::string turnSeen;  // the game and turn, empty when the host file cannot be read
    bool news = false;     // not the run's first look: what changed is news
    bool allIn = false;
    std::vector<StatusPlayer> players;        // as the status page shows them
    std::vector<int> lateRows;                // the human rows whose orders are not in
    std::map<int, std::string> refusedFiles;  // row -> why the file there does not count
    std::string lateWhy;                      // the late rows and why, for the log
  };
  // When the turn falls due, and what the page says of it.
  struct TurnTiming {
    bool passed = false;               // the deadline has passed
    std::optional<long long> forceAt;  // when it goes without the late players
    bool forcedNow = false;            // that time has come
    std::string staleNote, forceNote;  // for the page
  };
  TurnLook LookAtTurn();
  void JudgeOrders(TurnLook& look);
  // The event command hears of each new set of orders that counts.
  void TellOrdersIn(int row, const stars::OrderJudgement& judgement,
                    const std::optional<FileVersion>& version, const TurnLook& look);
  // When they came, for the turn's history.
  void RecordArrival(int row, const FileVersion& version, const TurnLook& look);
  void ShowReadiness(const TurnLook& look);  // colour, state line, ready sound
  TurnTiming TimeTurn(const TurnLook& look, bool paused);
  // A look that ends without a generation: the state logged and published, the refresh run.
  std::optional<GenerationDue> Settle(const char* state, const std::string& note,
                                      const TurnLook& look);
  std::optional<GenerationDue> LateTurn(const TurnLook& look, const TurnTiming& timing);
  std::optional<GenerationDue> DueTurn(const TurnLook& look, const TurnTiming& timing,
                                       bool hostAsked);
  // The players' status page for the state just shown.
  void PublishStatus(const char* state, const std::string& note,
                     const std::vector<StatusPlayer>& players, bool hostRead,
                     const stars::FileHeader& host);
  std::optional<ForceSetting> m_force;
  std::optional<long long> m_dueAt;  // seconds since the epoch, from the last tick
  MailedOrders* m_mailed = nullptr;
  OpeningTurn* m_opening = nullptr;
  EventSink* m_events = nullptr;
  HostNews* m_news = nullptr;
  std::string m_newsText;  // for the page
  Schedule m_schedule;     // how the deadlines are set, for the page
  void LogPause(const std::optional<std::string>& pause);
  void RemindHostOfForcedTurn(int turn, const std::string& gameDir);
  // Sends a reminder to the host once per turn (`again`: whatever was sent), recorded in its own
  // file.
  void RemindHostOnce(const std::string& record, const std::string& turnKey, bool again,
                      const std::function<void()>& send);
  std::set<std::string> m_hostReminded;  // the records and turns of the reminders sent
  // The note on a league page that still gives the deadline of the turn just played (logged
  // once); empty when it does not.
  std::string StaleDeadlineNote(int turn, std::optional<long long> lastGeneration);
  std::string m_loggedStaleDeadline;
  std::optional<std::optional<std::string>> m_loggedPause;  // nothing before the first tick
  void PlayReadySound(const std::string& turn);
  std::optional<std::string> m_soundErrorTurn;  // the turn whose sound error was shown

  // What the log last said, so that it says only what changed.
  void LogVerdict(int row, const std::string& orderFile, const stars::OrderJudgement& judgement);
  void LogState(const char* state);         // with the late players
  std::optional<std::string> m_loggedTurn;  // nothing before the first tick
  std::array<stars::OrderJudgement, 13> m_loggedVerdicts{};
  // Per row, the hash of the last orders of this turn that counted: a new one is news.
  std::array<std::string, 13> m_acceptedHash{};
  std::string m_loggedState;
  std::string m_arrivalError;  // the store's failure last logged
  // The past turns the page shows, read again when the turn changes.
  static constexpr int kHistoryTurns = 20;
  const std::vector<PastTurn>& History(int turn);
  std::optional<int> m_historyTurn;
  std::vector<PastTurn> m_history;
  OrderFileJudge m_judge;
};

}  // namespace ventari
