#pragma once
// The journal of one generation, in the per-game folder: which of its steps are done, so that a
// robot killed in the middle (power cut, kill -9, reboot) finishes the turn at its next start,
// without running the game twice or mailing a player twice.

#include <optional>
#include <string>
#include <vector>

namespace ventari {

struct TurnJournal {
  int oldTurn = 0;        // the host file's turn before the game ran
  std::string backupDir;  // the backup taken just before
  std::string yearText;   // the year the mails name: the one read before the game ran
  int gamePid = 0;        // the game's process, while it may still run
  unsigned long long gameStart = 0;
  bool gameDone = false;  // the game ran and its files were found right
  bool published = false;
  std::vector<int> mailed;  // rows whose turn mail has gone out
  bool reported = false;
  bool cachesDeleted = false;
};

std::string JournalPath(const std::string& gameDir);

// Nothing when there is no journal. Raises Exception for a journal that cannot be read as one.
std::optional<TurnJournal> ReadJournal(const std::string& path);
// Replaces the journal whole, flushed to the disk. Raises EInOutError.
void WriteJournal(const std::string& path, const TurnJournal& journal);

}  // namespace ventari
