#include "core/turn_record.h"

#include <charconv>

#include "platform/files.h"

namespace ventari {

std::string ReminderRecordPath(const std::string& gameDir) {
  return gameDir + "/ventari-reminder.txt";
}

std::string ForcedReminderRecordPath(const std::string& gameDir) {
  return gameDir + "/ventari-forced-reminder.txt";
}

bool TurnRecordHolds(const std::string& path, const std::string& turnKey) {
  TextFileReader file;
  return file.open(path) && file.readLine() == turnKey;
}

void WriteTurnRecord(const std::string& path, const std::string& turnKey) {
  WriteTurnRecord(path, turnKey, {});
}

std::vector<int> TurnRecordRows(const std::string& path, const std::string& turnKey) {
  std::vector<int> rows;
  TextFileReader file;
  if (!file.open(path) || file.readLine() != turnKey) return rows;
  for (std::string line = file.readLine(); !line.empty(); line = file.readLine()) {
    int row = 0;
    const auto [end, error] = std::from_chars(line.data(), line.data() + line.size(), row);
    if (error == std::errc() && end == line.data() + line.size()) rows.push_back(row);
  }
  return rows;
}

void WriteTurnRecord(const std::string& path, const std::string& turnKey,
                     const std::vector<int>& rows) {
  std::string text = turnKey + "\r\n";
  for (int row : rows) text += std::to_string(row) + "\r\n";
  ReplaceFileContents(path, text);
}

}  // namespace ventari
