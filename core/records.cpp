#include "core/records.h"

namespace ventari {

std::string DeadlineCachePath(const ProgramRecords& records) {
  return records.host.repJeu + "/" + records.game.gameName + "/nextdl.txt";
}

std::string YearCachePath(const ProgramRecords& records) {
  return records.host.repJeu + "/" + records.game.gameName + "/curyear.txt";
}

std::string StaleDeadlineMarkPath(const ProgramRecords& records) {
  return records.host.repJeu + "/" + records.game.gameName + "/ventari-stale-deadline.txt";
}

ProgramRecords& TheProgramRecords() {
  static ProgramRecords records;
  return records;
}

}  // namespace ventari
