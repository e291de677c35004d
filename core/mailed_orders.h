#pragma once
// Orders by mail: the host's mail delivery fills a Maildir, and each message that lands in its
// new/ is handled once. An order file it carries that counts, sent from the address of the row
// it names, is placed in the game folder as that row's order file (the look that follows judges
// and receipts it as any other); a refused one writes nothing and the player hears why; "tour
// <game>" as the subject sends the player his turn file again. A stranger gets no answer. What
// is done with a message is recorded before it is done, so a robot killed in the middle places
// nothing twice and answers nothing twice.

#include <cstddef>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "core/mail_link.h"
#include "stars/stars_file.h"

namespace ventari {

class Clock;
class Mailer;
class OrderReceipts;
struct MailedMessage;
struct ProgramRecords;

// VENTARI_MAILDIR; nothing when unset or empty (no orders by mail).
std::optional<std::string> MaildirFromEnvironment();
// Why the robot cannot take messages from the folder (not a Maildir with new/, cur/ and tmp/
// it may read and write); nothing when it can.
std::optional<std::string> MaildirProblem(const std::string& maildir);
// The messages waiting in new/.
std::size_t MessagesWaiting(const std::string& maildir);
// The per-game folder's record of what was done with each message.
std::string MailRecordPath(const std::string& gameDir);

// A player may ask for his turn file this many times a day.
inline constexpr int kTurnRequestsPerDay = 3;

class MailedOrders {
 public:
  MailedOrders(ProgramRecords& records, Mailer& mailer, OrderReceipts& receipts, const Clock& clock,
               MailLink link, std::string maildir);

  const std::string& maildir() const { return m_maildir; }

  // Handles each message waiting in new/, in the order they arrived, against the turn whose host
  // file has `host`. Never raises: a problem is logged once and the messages wait.
  void Look(const stars::FileHeader& host);

 private:
  // What the record says of one message.
  struct Handled {
    std::map<int, long long> placing;  // row -> when its placement began
    std::set<int> placed;
    bool answered = false;  // a refusal went
    bool turnSent = false;
    std::optional<std::string> done;  // the flags it moves to cur/ with
  };
  void Handle(const std::string& name, const stars::FileHeader& host);
  // True when the file of `row` may be placed again after a robot killed during its placement:
  // nothing newer came since.
  bool MayPlaceAgain(int row, long long since) const;
  void Place(const std::string& key, int row, const std::string& bytes, Handled& handled);
  void SendTurnAgain(const std::string& key, int row, const stars::FileHeader& host,
                     Handled& handled);
  void Finish(const std::string& name, const std::string& key, const std::string& flags,
              const std::string& why);
  void Record(const std::string& line);
  void LoadRecord();
  void LogOnce(const std::string& problem);

  ProgramRecords& m_records;
  Mailer& m_mailer;
  OrderReceipts& m_receipts;
  const Clock& m_clock;
  MailLink m_link;
  std::string m_maildir;
  std::string m_recordPath;  // of the game the record was loaded for
  std::map<std::string, Handled> m_handled;
  std::map<int, std::vector<long long>> m_turnRequests;  // row -> when his turn file went again
  std::string m_loggedProblem;
  bool m_problemSeen = false;  // in the look running
};

}  // namespace ventari
