#include "tests/support/game_store_rows.h"

#include <filesystem>

#include "core/game/game_store.h"

namespace ventari::test {

std::vector<std::string> StoreRows(const std::string& gameDir, const std::string& sql) {
  std::vector<std::string> rows;
  GameStore store(gameDir, GameStore::Access::kRead);
  GameStore::Query query = store.Select(sql);
  while (query.Step()) {
    std::string row;
    for (int column = 0; column < query.Columns(); ++column)
      row += (column == 0 ? "" : "|") + query.Text(column);
    rows.push_back(row);
  }
  return rows;
}

void FailStoreWrites(const std::string& gameDir, const std::string& table) {
  GameStore store(gameDir, GameStore::Access::kWrite);
  for (const char* change : {"INSERT", "UPDATE", "DELETE"})
    store.Execute("CREATE TRIGGER fail_" + std::string(change) + "_" + table + " BEFORE " + change +
                  " ON " + table + " BEGIN SELECT RAISE(ABORT, 'database or disk is full'); END");
}

void DropGameStore(const std::string& gameDir) {
  for (const char* suffix : {"", "-wal", "-shm"})
    std::filesystem::remove(GameStorePath(gameDir) + suffix);
}

}  // namespace ventari::test
