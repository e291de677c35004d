#pragma once
// Reminders to late players, off unless VENTARI_REMIND_HOURS is set: once per turn, when the
// deadline is less than that many hours away and a human player's orders are not in, that
// player gets one mail. The rows reminded are recorded in the game's store, so that neither
// a later tick nor a restart reminds them again for the same turn.

#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/game/mail_link.h"

namespace ventari {

class EventSink;

class Clock;
class Mailer;
struct ProgramRecords;

// VENTARI_REMIND_HOURS read that way; nothing when unset. A value that is no such number is
// logged once and leaves the reminders off.
std::optional<double> ReminderLeadFromEnvironment();

// The record of the players reminded this turn, named as its file was before the game store.
std::string LateReminderRecordPath(const std::string& gameDir);

class LateReminders {
 public:
  LateReminders(ProgramRecords& records, Mailer& mailer, const Clock& clock, MailLink link,
                std::optional<double> leadHours);

  // The tick's late human rows at the host file's turn `turn`; `refusedFiles` says, for a row
  // whose order file is there but does not count, why. When the record cannot be written
  // nothing is sent, and that is logged once for the turn.
  void Remind(const std::vector<int>& lateRows, int turn,
              const std::map<int, std::string>& refusedFiles = {});

  // Hears of each round of reminders once its mails went; null: nobody.
  void SetEvents(EventSink* events) { m_events = events; }

 private:
  EventSink* m_events = nullptr;
  ProgramRecords& m_records;
  Mailer& m_mailer;
  const Clock& m_clock;
  MailLink m_link;
  std::optional<double> m_leadHours;
  int m_failedTurn = -1;
};

}  // namespace ventari
