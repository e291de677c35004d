#include "core/turn_record.h"

#include "platform/files.h"

namespace ventari {

std::string ReminderRecordPath(const std::string& gameDir) {
  return gameDir + "/ventari-reminder.txt";
}

bool TurnRecordHolds(const std::string& path, const std::string& turnKey) {
  TextFileReader file;
  return file.open(path) && file.readLine() == turnKey;
}

void WriteTurnRecord(const std::string& path, const std::string& turnKey) {
  ReplaceFileContents(path, turnKey + "\r\n");
}

}  // namespace ventari
