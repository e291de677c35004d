#pragma once
// Receipts for the players' order files: each contents of a human player's order file in a turn
// (the hash of its bytes) gets one mail to that player saying whether it counts, and why not.
// What was receipted is recorded in the game's store, so that a restart, a restore or a copy
// of the same file sends nothing twice. An incomplete file is refused only once it has stayed
// unchanged for a while: an upload in progress is no fault of the player.

#include <array>
#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "core/game/mail_link.h"
#include "core/players/order_file_judge.h"
#include "stars/stars_file.h"

namespace ventari {

class Clock;
class Mailer;
struct GameSettings;
struct ProgramRecords;

// The last lines of a mail to a player: the link to the game's page, if any, and the signature.
std::string GamePageLink(const MailLink& link, const GameSettings& game);

// VENTARI_RECEIPTS: "0" turns receipts off; unset or anything else leaves them on.
bool ReceiptsOnFromEnvironment();

// The file an older robot kept the receipted versions in.
std::string ReceiptRecordPath(const std::string& gameDir);

class OrderReceipts {
 public:
  // How long an incomplete file must stay unchanged before it is refused.
  static constexpr std::chrono::seconds kSettleTime{30};

  OrderReceipts(ProgramRecords& records, Mailer& mailer, const Clock& clock, MailLink link,
                bool on);

  // Row `row`'s order file as the tick judged it against the host file `host`, in the version
  // judged (nothing: no file). Sends the receipt when this version has none yet.
  void Look(int row, const std::string& orderFile, const std::optional<FileVersion>& version,
            const stars::OrderJudgement& judgement, const stars::FileHeader& host);

  // A refusal of files that never reached the game folder (mailed ones): one sentence per file
  // ("le fichier « x » ne compte pas : ..."), to row `row`, unless receipts are off. `key` makes
  // the mail's Message-ID.
  void SendRefusal(int row, const std::vector<std::string>& refused, const stars::FileHeader& host,
                   const std::string& key);

  // The receipt of `row`'s file with this hash in `turn`, still to go, will also name these
  // refused files of the same message (one sentence each), so the player gets one answer. False
  // when no such receipt is to go (receipts off, or that file receipted already).
  bool AddToReceipt(int row, int turn, const std::string& hash,
                    const std::vector<std::string>& refused);

  // When an incomplete file waits to be old enough to refuse: how long until it is.
  std::optional<std::chrono::milliseconds> LookAgainIn() const;

  bool on() const { return m_on; }

 private:
  // What the record says of `row`'s last receipt.
  struct Receipt {
    int turn = -1;
    std::string hash;
    long long at = 0;  // when it went, seconds since the epoch; 0 when not recorded
    bool accepted = false;
  };
  std::optional<Receipt> LastReceipt(const std::string& gameDir, int row) const;
  bool Record(const std::string& gameDir, int row, const Receipt& receipt);
  std::string RefusalBody(const std::vector<std::string>& refused,
                          const stars::FileHeader& host) const;
  void Send(int row, const std::string& orderFile, const stars::OrderJudgement& judgement,
            const stars::FileHeader& host, const Receipt& receipt,
            const std::optional<Receipt>& replaced);

  ProgramRecords& m_records;
  Mailer& m_mailer;
  const Clock& m_clock;
  MailLink m_link;
  bool m_on;
  // Per row, when an incomplete file becomes old enough to refuse.
  std::array<std::optional<std::chrono::system_clock::time_point>, 13> m_refuseAt{};
  std::string m_failedRecord;  // the game whose receipt could not be recorded, logged
  struct Notes {
    int turn = -1;
    std::string hash;
    std::vector<std::string> refused;
  };
  std::array<Notes, 13> m_notes{};  // per row, what the next receipt names beside its file
};

}  // namespace ventari
