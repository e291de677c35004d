#include "core/game/records.h"

#include "core/game/game_store.h"

namespace ventari {

std::string DeadlineCachePath(const ProgramRecords& records) {
  return records.host.repJeu + "/" + records.game.gameName + "/nextdl.txt";
}

std::string YearCachePath(const ProgramRecords& records) {
  return records.host.repJeu + "/" + records.game.gameName + "/curyear.txt";
}

namespace {

std::string GameDir(const ProgramRecords& records) {
  return records.host.repJeu + "/" + records.game.gameName;
}

}  // namespace

void MarkDeadlineCacheStale(const ProgramRecords& records, const std::string& cache) {
  GameStore store(GameDir(records), GameStore::Access::kWrite);
  store.Run("INSERT OR REPLACE INTO note(name, value) VALUES('stale-deadline', ?)", cache);
}

bool DeadlineCacheMarkedStale(const ProgramRecords& records) {
  GameStore store(GameDir(records), GameStore::Access::kRead);
  return store.Select("SELECT 1 FROM note WHERE name = 'stale-deadline'").Step();
}

void ForgetStaleDeadlineCache(const ProgramRecords& records) {
  GameStore store(GameDir(records), GameStore::Access::kWrite);
  store.Run("DELETE FROM note WHERE name = 'stale-deadline'");
}

ProgramRecords& TheProgramRecords() {
  static ProgramRecords records;
  return records;
}

}  // namespace ventari
