#include "core/players/late_reminders.h"

#include <algorithm>
#include <cstdlib>
#include <utility>

#include "core/game/records.h"
#include "core/game/turn_record.h"
#include "core/players/events.h"
#include "mail/mailer.h"
#include "platform/clock.h"
#include "platform/errors.h"
#include "platform/event_log.h"
#include "platform/files.h"
#include "platform/text.h"

namespace ventari {

namespace {

constexpr double kHoursPerDay = 24.0;

}  // namespace

std::optional<double> ReminderLeadFromEnvironment() {
  const char* text = std::getenv("VENTARI_REMIND_HOURS");
  if (text == nullptr) return std::nullopt;
  std::optional<double> lead = ParseHours(text);
  if (!lead)
    LogEvent("warning", std::string("VENTARI_REMIND_HOURS is not a number of hours: '") + text +
                            "'; no reminders to late players");
  return lead;
}

std::string LateReminderRecordPath(const std::string& gameDir) {
  return gameDir + "/ventari-late-players.txt";
}

LateReminders::LateReminders(ProgramRecords& records, Mailer& mailer, const Clock& clock,
                             MailLink link, std::optional<double> leadHours)
    : m_records(records),
      m_mailer(mailer),
      m_clock(clock),
      m_link(std::move(link)),
      m_leadHours(leadHours) {}

void LateReminders::Remind(const std::vector<int>& lateRows, int turn,
                           const std::map<int, std::string>& refusedFiles) {
  const MonitorState& state = m_records.monitor;
  // Only a deadline of this turn, converted: an old or unread one would remind at random.
  if (!m_leadHours || lateRows.empty() || !state.deadlineKnown) return;
  if ((state.deadline - m_clock.Now()) * kHoursPerDay >= *m_leadHours) return;

  const GameSettings& game = m_records.game;
  const std::string& g = game.gameName;
  const std::string record = LateReminderRecordPath(m_records.host.repJeu + "/" + g);
  const std::string turnKey = "turn " + std::to_string(turn);
  std::vector<int> reminded = TurnRecordRows(record, turnKey);
  std::vector<int> due;
  for (int row : lateRows)
    if (std::find(reminded.begin(), reminded.end(), row) == reminded.end()) due.push_back(row);
  if (due.empty()) return;
  // Recorded before the mails: a robot killed while sending may leave a player unreminded,
  // never reminded twice.
  reminded.insert(reminded.end(), due.begin(), due.end());
  try {
    WriteTurnRecord(record, turnKey, reminded);
  } catch (const EInOutError& error) {
    // Unrecorded, a reminder could go every minute; and the tick must go on to the generation.
    if (m_failedTurn != turn)
      LogEvent("error",
               "no reminders to late players: " + record + " not written: " + error.what());
    m_failedTurn = turn;
    return;
  }

  const std::string subject = g + " année " + state.yearText + " : ordres attendus";
  for (int row : due) {
    const PlayerEntry& player = game.player(row);
    std::string body = "vos ordres de l'année " + state.yearText + " ne sont pas arrivés.";
    const auto refused = refusedFiles.find(row);
    if (refused != refusedFiles.end())
      body += kParagraph + ("le fichier " + g + ".x" + std::to_string(row) +
                            " reçu ne compte pas : " + refused->second + ".");
    body += kParagraph + ("DL : " + state.deadlineText) + kParagraph + m_link.Paragraph(game) +
            "Ventari Robot";
    LogEvent("info",
             "reminder to the late player " + std::to_string(row) + " (" + player.name + ")" +
                 (refused != refusedFiles.end() ? ", whose file does not count: " + refused->second
                                                : ""));
    KeepingWorkingFolder([&] {
      m_mailer.SendEmail(player.name, player.address, subject, body, std::nullopt, std::nullopt,
                         MailIdentity{g, state.yearText, row, "reminder"});
    });
  }
  if (m_events) {
    std::vector<std::string> names;
    for (int row : due) names.push_back(game.player(row).name);
    m_events->Send(events::Reminder(g, state.yearText, state.deadlineText, names));
  }
}

}  // namespace ventari
