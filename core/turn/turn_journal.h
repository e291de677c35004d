#pragma once
// The journal of one generation, in the per-game folder: the plan of the turn and which of its
// steps are done, so that a robot killed in the middle (power cut, kill -9, reboot) finishes the
// turn at its next start, without running the game twice or mailing a player twice. Each step
// is recorded before the next one begins.

#include <optional>
#include <string>
#include <vector>

namespace ventari {

struct TurnJournal {
  int oldTurn = 0;        // the host file's turn before the game ran
  std::string backupDir;  // the backup taken just before
  std::string yearText;   // the year the mails name: the one read before the game ran
  // Sets this generation's mails apart from those of another generation of the same year (the
  // turn played again after a restore, a new game under the old name): the backup's name and
  // the game's id. Empty in a journal of an older robot, whose mails keep the ids they had.
  std::string round;
  int gamePid = 0;  // the game's process, recorded before its program may run
  unsigned long long gameStart = 0;
  bool gameDone = false;  // the game ran and its files were found right
  bool published = false;
  struct MailFailure {
    int row = 0;              // 0: the host's report
    long long atSeconds = 0;  // when the try failed, seconds since the epoch; 0: unknown
  };
  std::vector<int> mailed;                // rows whose turn mail has gone out
  std::vector<MailFailure> mailFailures;  // one per failed try
  bool reported = false;
  bool cachesDeleted = false;
  // The game's files are being put back from the backup: nothing of this turn is distributed.
  bool restoring = false;
  std::string failure;  // the failure that made a fresh generation undo itself, or nothing
  // The failure notice went to the host: a restore finished at a later start goes on quietly.
  bool noticeSent = false;

  int MailTries(int row) const;
  // When the last failed try of `row`'s mail was made; nothing when none was.
  std::optional<long long> LastTry(int row) const;
  bool Mailed(int row) const;
};

std::string JournalPath(const std::string& gameDir);

// Nothing when there is no journal. Raises Exception, naming the path and what is wrong, for a
// journal that cannot be read or is not one.
std::optional<TurnJournal> ReadJournal(const std::string& path);
// Replaces the journal whole, flushed to the disk. Raises EInOutError.
void WriteJournal(const std::string& path, const TurnJournal& journal);

}  // namespace ventari
