#include "core/game/turn_record.h"

#include <filesystem>
#include <sstream>

#include "core/game/game_store.h"

namespace ventari {

namespace {

std::string FolderOf(const std::string& path) {
  return std::filesystem::path(path).parent_path().string();
}

std::string NameOf(const std::string& path) {
  std::string name = std::filesystem::path(path).filename().string();
  if (name.starts_with("ventari-")) name.erase(0, 8);
  if (name.ends_with(".txt")) name.erase(name.size() - 4);
  return name;
}

}  // namespace

std::string ReminderRecordPath(const std::string& gameDir) {
  return gameDir + "/ventari-reminder.txt";
}

std::string ForcedReminderRecordPath(const std::string& gameDir) {
  return gameDir + "/ventari-forced-reminder.txt";
}

bool TurnRecordHolds(const std::string& path, const std::string& turnKey) {
  GameStore store(FolderOf(path), GameStore::Access::kRead);
  return store
      .Select("SELECT 1 FROM turn_note WHERE name = ? AND turn_key = ?", NameOf(path), turnKey)
      .Step();
}

void WriteTurnRecord(const std::string& path, const std::string& turnKey) {
  WriteTurnRecord(path, turnKey, {});
}

std::vector<int> TurnRecordRows(const std::string& path, const std::string& turnKey) {
  std::vector<int> rows;
  GameStore store(FolderOf(path), GameStore::Access::kRead);
  GameStore::Query query = store.Select(
      "SELECT rows FROM turn_note WHERE name = ? AND turn_key = ?", NameOf(path), turnKey);
  if (!query.Step()) return rows;
  std::istringstream fields(query.Text(0));
  for (int row = 0; fields >> row;) rows.push_back(row);
  return rows;
}

void WriteTurnRecord(const std::string& path, const std::string& turnKey,
                     const std::vector<int>& rows) {
  std::string text;
  for (int row : rows) text += (text.empty() ? "" : " ") + std::to_string(row);
  GameStore store(FolderOf(path), GameStore::Access::kWrite);
  store.Run("INSERT OR REPLACE INTO turn_note(name, turn_key, rows) VALUES(?, ?, ?)", NameOf(path),
            turnKey, text);
}

void DropTurnRecord(const std::string& path) {
  GameStore store(FolderOf(path), GameStore::Access::kWrite);
  store.Run("DELETE FROM turn_note WHERE name = ?", NameOf(path));
}

}  // namespace ventari
