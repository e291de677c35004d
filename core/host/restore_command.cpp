#include "core/host/restore_command.h"

#include <algorithm>

#include "core/game/game_checks.h"
#include "core/game/records.h"
#include "core/game/turn_record.h"
#include "core/players/late_reminders.h"
#include "core/turn/backup.h"
#include "core/turn/forced_turn.h"
#include "core/turn/pause.h"
#include "core/turn/turn_journal.h"
#include "platform/files.h"
#include "platform/folder_lock.h"
#include "stars/stars_file.h"

namespace ventari {

int RestoreCommand(const std::string& year, std::ostream& out, std::ostream& err) {
  ProgramRecords records;
  HostSettings& host = records.host;
  GameSettings& game = records.game;
  try {
    if (!LoadCommandSettings(host, game, err)) return 1;
    CheckGameSettings(game);
    const std::string gameDir = host.repJeu + "/" + game.gameName;
    // Held for the whole restore: no robot may generate or distribute under it.
    FolderLock::Held holder;
    const FolderLock lock = FolderLock::Acquire(gameDir, &holder);
    if (!lock.held()) {
      err << "ventari: a robot runs on " << gameDir << " (process " << holder.pid << " holds "
          << holder.path << "): stop it before --restore\n";
      return 1;
    }
    const std::vector<std::string> backups = ListGameBackups(gameDir);
    if (std::find(backups.begin(), backups.end(), year) == backups.end()) {
      err << "ventari: no backup " << year << " in " << gameDir << "/backup; there are:";
      for (const std::string& name : backups) err << " " << name;
      if (backups.empty()) err << " none";
      err << "\n";
      return 1;
    }
    stars::FileHeader current;
    const std::string currentYear =
        stars::ReadHostHeader(gameDir + "/" + game.gameName + ".hst", current)
            ? std::to_string(current.year())
            : "unknown";
    const std::string saved = MakeGameBackup(gameDir, game.gameName, currentYear);
    out << "current files saved in " << saved << "\n";
    const RestoredFiles files =
        RestoreGameBackup(gameDir + "/backup/" + year, gameDir, game.gameName);
    for (const std::string& name : files.restored)
      out << "restored " << gameDir << "/" << name << "\n";
    for (const std::string& name : files.kept)
      out << "kept " << gameDir << "/" << name
          << ": an order file changed since the backup was taken\n";
    // What belonged to the turn left behind goes with it.
    for (const std::string& file :
         {DeadlineCachePath(records), YearCachePath(records), JournalPath(gameDir)})
      DeleteFileQuiet(file);
    for (const std::string& record : {ReminderRecordPath(gameDir), LateReminderRecordPath(gameDir),
                                      ForcedReminderRecordPath(gameDir)})
      DropTurnRecord(record);
    stars::FileHeader restored;
    ForgetGenerationsFrom(gameDir,
                          stars::ReadHostHeader(gameDir + "/" + game.gameName + ".hst", restored)
                              ? restored.turn
                              : 0);
    ForgetStaleDeadlineCache(records);
    out << "caches deleted: the next start fetches the deadline and reads the year anew\n";
    // The orders are back and the deadline may well have passed: no turn until the host says.
    WritePause(host.repJeu, "restauration de l'année " + year);
    out << "the game is paused (" << PausePath(host.repJeu)
        << "): no turn is generated but by \"génère\" until `ventari --resume`\n";
    return 0;
  } catch (const std::exception& error) {
    err << "ventari: " << error.what() << "\n";
    return 1;
  }
}

}  // namespace ventari
