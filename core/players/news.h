#pragma once
// The host's word to his players: `ventari --news TEXT` writes it beside the game folder's
// pause, and the running robot (or the next one started) puts it at the top of the status page
// and mails it once to every human player. A few messages a day at most: players read their
// mail, not a chat.

#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "core/game/mail_link.h"

namespace ventari {

class EventSink;
class Mailer;
struct ProgramRecords;

inline constexpr int kMostNewsPerDay = 4;

struct HostNewsItem {
  long long id = 0;  // when it was written, in seconds since the epoch (one more when taken)
  std::string text;
};

std::string NewsPath(const std::string& gamesFolder);

// The host's message; nothing when there is none (or it was cleared).
std::optional<HostNewsItem> ReadNews(const std::string& gamesFolder);
// The ids of the messages mailed, oldest first, from the game's store.
std::vector<long long> ReadNewsSent(const std::string& gameDir);

// `ventari --news TEXT` in the current folder (where ventari.def is), `now` in seconds since the
// epoch. An empty text clears the page's message. Exit status 0 when done, 1 with a message on
// `err` (no settings, or kMostNewsPerDay messages in the last 24 hours already).
int NewsCommand(const std::string& text, long long now, std::ostream& out, std::ostream& err);

class HostNews {
 public:
  HostNews(ProgramRecords& records, Mailer& mailer, MailLink link);
  void SetEvents(EventSink* events) { m_events = events; }

  // The message for the page; a message not mailed yet is mailed first to every human player
  // (recorded before the mails, as the reminders are) and told to the event command.
  std::optional<std::string> Look();

 private:
  ProgramRecords& m_records;
  Mailer& m_mailer;
  MailLink m_link;
  EventSink* m_events = nullptr;
  long long m_failedId = -1;  // a record that could not be written, logged once
};

}  // namespace ventari
