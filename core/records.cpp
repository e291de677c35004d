#include "core/records.h"

namespace ventari {

std::string DeadlineCachePath(const ProgramRecords& records) {
  return records.host.repJeu + "/" + records.game.gameName + "/nextdl.txt";
}

std::string YearCachePath(const ProgramRecords& records) {
  return records.host.repJeu + "/" + records.game.gameName + "/curyear.txt";
}

ProgramRecords& TheProgramRecords() {
  static ProgramRecords records;
  return records;
}

}  // namespace ventari
