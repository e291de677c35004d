#pragma once
// Copies of the game's files taken before every generation, in <game folder>/backup/<year>/, so
// that a failed generation, or the host, can put the game back as it was.

#include <string>
#include <vector>

#include "platform/errors.h"

namespace ventari {

// A backup that could not be made or put back; the message names the folder and the system's
// error, in the style of the robot's fatal messages.
class BackupError : public Exception {
 public:
  using Exception::Exception;
};

// The files of the game `gameName` in `gameDir`: every plain file named gameName + ".*".
std::vector<std::string> GameFileNames(const std::string& gameDir, const std::string& gameName);

// Copies every game file into a new folder <gameDir>/backup/<year> (or <year>-2, -3, ... when
// that one exists) and returns its path. Each copy is flushed to the disk and the folder appears
// only once it is complete. Raises BackupError, leaving no backup folder.
std::string MakeGameBackup(const std::string& gameDir, const std::string& gameName,
                           const std::string& year);

struct RestoredFiles {
  std::vector<std::string> restored;  // copied back from the backup
  std::vector<std::string> kept;      // order files changed since the backup, left as they are
};

// Puts the game's files back as the backup holds them: each one copied over (whole or not at
// all), and every game file that the backup does not hold deleted. A live order file
// (<game>.x<n>) of the backup's game and turn that differs from the backup's, or that the
// backup lacks, is a player's correction uploaded meanwhile: it stays. Raises BackupError.
RestoredFiles RestoreGameBackup(const std::string& backupDir, const std::string& gameDir,
                                const std::string& gameName);

// <game>.x<n>: a player's order file.
bool IsOrderFileName(const std::string& name, const std::string& gameName);

// The names of the backups in <gameDir>/backup, sorted.
std::vector<std::string> ListGameBackups(const std::string& gameDir);

}  // namespace ventari
