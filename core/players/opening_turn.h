#pragma once
// A game's first turn files. The game leaves them in the per-game folder when it is created, and
// no generation ever mails them: when the robot first runs a game whose turn files were never
// published nor mailed, it publishes them and mails each human player his own, once. What went
// is recorded in the game's store, so that a restart sends nothing again.

#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "core/game/mail_link.h"
#include "stars/stars_file.h"

namespace ventari {

class Clock;
class Mailer;
struct ProgramRecords;

// The file an older robot kept the record of the first turn files in: "turn <t>", then
// "mailed <row>" and "failed <row> <seconds>" lines.
std::string OpeningRecordPath(const std::string& gameDir);

class OpeningTurn {
 public:
  OpeningTurn(ProgramRecords& records, Mailer& mailer, const Clock& clock, MailLink link);

  // At each look, with the host file's header: starts the first files' round when the game is
  // at its start, or goes on with the mails still to go. Never raises.
  void Look(const stars::FileHeader& host);

 private:
  struct Round {
    std::set<int> mailed;
    std::map<int, std::vector<long long>> failures;  // row -> when each try failed
  };
  // Whether the game's files show a game whose first files never went; said in the log when
  // they cannot (a turn file missing).
  bool AtStart(const stars::FileHeader& host);
  std::optional<Round> ReadRound(int turn) const;
  bool WriteRound(int turn, const Round& round);
  void MailPlayers(const stars::FileHeader& host, Round& round);
  std::string GameDir() const;

  ProgramRecords& m_records;
  Mailer& m_mailer;
  const Clock& m_clock;
  MailLink m_link;
  std::string m_settled;  // the game and turn found done, or not at its start
  std::string m_said;     // the last problem logged
};

}  // namespace ventari
