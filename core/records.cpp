#include "core/records.h"

namespace ventari {

ProgramRecords& TheProgramRecords() {
  static ProgramRecords records;
  return records;
}

}  // namespace ventari
