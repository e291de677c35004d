#pragma once
// Orders by mail: the host's mail delivery fills one Maildir for all his games and his own mail.
// A message belongs to the game whose files it carries (the game id in their header) or whose
// name its "tour <game>" subject gives; each robot takes its own, once per Message-ID, and leaves
// every other message as it found it: another game's, the host's own, a machine's, and one whose
// sender is no player of the game. A message of the game from one of its players: his file that
// counts is placed in the game folder as his order file (the look that follows judges and
// receipts it as any other), unless orders that came in after it was sent are there; files that
// do not count are named in one answer; "tour <game>" sends his turn file again. What is done is
// recorded before it is done, so a robot killed in the middle places nothing twice and answers
// nothing twice.

#include <cstddef>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "core/game/mail_link.h"
#include "core/players/mail_record.h"
#include "core/players/maildir.h"
#include "stars/stars_file.h"

namespace ventari {

class Clock;
class Mailer;
class OrderReceipts;
struct MailedFile;
struct MailedMessage;
struct ProgramRecords;

// A player may ask for his turn file this many times a day.
inline constexpr int kTurnRequestsPerDay = 3;

// VENTARI_MAIL_AUTHSERV: the authserv-id of the host's receiving server, whose
// Authentication-Results must vouch for a sender; empty when unset (From is taken as it stands).
std::string MailAuthservFromEnvironment();

// What the robot makes of one message of the Maildir.
enum class MessageFate {
  kNotOurs,          // another game's or the host's own: left as it is
  kMachine,          // of the game, but sent by a machine: left for the host
  kStranger,         // of the game, from no player of it: left for the host
  kUnauthenticated,  // of the game, but the host's server does not vouch for its sender
  kAgain,            // a message handled already, delivered again under another name
  kTake,             // the robot acts on it
};

class MailedOrders {
 public:
  MailedOrders(ProgramRecords& records, Mailer& mailer, OrderReceipts& receipts, const Clock& clock,
               MailLink link, std::string maildir,
               std::string authserv = MailAuthservFromEnvironment());

  const std::string& maildir() const { return m_maildir; }

  // Handles each message of the game waiting in new/ or left in cur/ by another reader, in the
  // order they arrived, against the turn whose host file has `host`. Never raises: a problem is
  // logged once and the messages wait.
  void Look(const stars::FileHeader& host);

  // The messages the robot would act on now (for --check); nothing is moved or recorded.
  std::size_t Waiting(const stars::FileHeader& host);

  // Why the last file mailed by `row`'s player in `turn` did not count, while no good file of
  // his has come since; nothing otherwise. For the status page.
  std::optional<std::string> Refusal(int row, int turn) const;
  // A good file of `row` is in: his earlier refusal no longer shows.
  void GoodFileIn(int row) { m_refusals.erase(row); }

 private:
  struct Read;
  // A message is read again only when it comes into another folder, or when the players
  // change for one that waits for its sender to become one.
  struct Settled {
    bool inNew = false;
    bool forSender = false;
  };
  bool LoadRecord();
  std::vector<MaildirEntry> Unsettled();
  std::optional<Read> ReadEntry(const MaildirEntry& entry, const stars::FileHeader& host);
  MessageFate Fate(const MaildirEntry& entry, const Read& read) const;
  void Handle(const MaildirEntry& entry, const stars::FileHeader& host);
  void Act(const MaildirEntry& entry, const Read& read, const stars::FileHeader& host);
  // Why a file of row `row` sent at `sentAt` must not replace the orders there; nothing when it
  // may.
  std::optional<std::string> NewerOrdersThere(int row, long long sentAt,
                                              const stars::FileHeader& host) const;
  // True when the file of `row` may be placed again after a robot killed during its placement:
  // nothing newer came since.
  bool MayPlaceAgain(int row, long long since) const;
  bool Place(const std::string& key, int row, const std::string& bytes,
             const MailedPlacement& placement);
  void SendTurnAgain(const std::string& key, int row, const stars::FileHeader& host);
  void Finish(const MaildirEntry& entry, const std::string& why);
  void Settle(const MaildirEntry& entry, bool forSender = false);
  std::vector<int> SenderRows(const std::string& sender) const;
  std::string OrderFile(int row) const;
  void LogOnce(const std::string& problem);

  ProgramRecords& m_records;
  Mailer& m_mailer;
  OrderReceipts& m_receipts;
  const Clock& m_clock;
  MailLink m_link;
  std::string m_maildir;
  std::string m_authserv;
  MailRecord m_record;
  std::string m_gameSeen;     // the game (folder and id) the settled messages were judged for
  std::string m_playersSeen;  // the players' addresses when they were
  std::map<std::string, Settled> m_settled;  // key -> where it was left
  struct RowRefusal {
    int turn = 0;
    std::string reason;
  };
  std::map<int, RowRefusal> m_refusals;  // row -> his last mailed file's refusal
  std::string m_loggedProblem;
  bool m_problemSeen = false;  // in the look running
};

}  // namespace ventari
