#include "core/turn/turn_history.h"

#include <algorithm>
#include <sstream>

#include "core/game/game_store.h"

namespace ventari {

namespace {

std::string RowsText(const std::vector<int>& rows) {
  std::string text;
  for (int row : rows) text += (text.empty() ? "" : " ") + std::to_string(row);
  return text;
}

std::vector<int> RowsOf(const std::string& text) {
  std::vector<int> rows;
  std::istringstream fields(text);
  for (int row = 0; fields >> row;) rows.push_back(row);
  return rows;
}

}  // namespace

void RecordOrdersIn(const std::string& gameDir, int turn, int row, const std::string& hash,
                    long long at) {
  GameStore store(gameDir, GameStore::Access::kWrite);
  store.Run(
      "INSERT INTO orders_in(turn, row, hash, first_at, last_at) VALUES(?, ?, ?, ?, ?) "
      "ON CONFLICT(turn, row) DO UPDATE SET hash = excluded.hash, last_at = excluded.last_at "
      "WHERE hash <> excluded.hash",
      turn, row, hash, at, at);
}

void RecordTurnPlayed(const std::string& gameDir, int turn, std::optional<long long> deadline,
                      long long generatedAt, bool forced, const std::vector<int>& humans) {
  GameStore store(gameDir, GameStore::Access::kWrite);
  store.Transaction([&] {
    std::vector<int> leftOut;
    for (int row : humans)
      if (!store.Select("SELECT 1 FROM orders_in WHERE turn = ? AND row = ?", turn, row).Step())
        leftOut.push_back(row);
    GameStore::Query insert = store.Select(
        "INSERT OR REPLACE INTO turn_played(turn, deadline, generated_at, forced, left_out) "
        "VALUES(?, ?, ?, ?, ?)");
    insert.Bind(turn);
    if (deadline)
      insert.Bind(*deadline);
    else
      insert.Bind(std::nullopt);
    insert.Bind(generatedAt).Bind(forced ? 1 : 0).Bind(RowsText(leftOut));
    while (insert.Step()) {
    }
  });
}

std::vector<PastTurn> ReadTurnHistory(const std::string& gameDir, int count) {
  GameStore store(gameDir, GameStore::Access::kRead);
  std::vector<PastTurn> turns;
  if (!store.HasTable("turn_played")) return turns;
  GameStore::Query played = store.Select(
      "SELECT turn, deadline, generated_at, forced, left_out FROM turn_played "
      "ORDER BY turn DESC LIMIT ?",
      count);
  while (played.Step()) {
    PastTurn& past = turns.emplace_back();
    past.turn = static_cast<int>(played.Int(0));
    if (!played.IsNull(1)) past.deadline = played.Int(1);
    past.generatedAt = played.Int(2);
    past.forced = played.Int(3) != 0;
    past.leftOut = RowsOf(played.Text(4));
  }
  for (PastTurn& past : turns) {
    GameStore::Query opened =
        store.Select("SELECT generated_at FROM turn_played WHERE turn = ?", past.turn - 1);
    if (opened.Step()) past.openedAt = opened.Int(0);
    GameStore::Query orders = store.Select(
        "SELECT row, first_at, last_at FROM orders_in WHERE turn = ? ORDER BY first_at, row",
        past.turn);
    while (orders.Step())
      past.orders.push_back(
          {static_cast<int>(orders.Int(0)), orders.Int(1), std::max(orders.Int(1), orders.Int(2))});
  }
  return turns;
}

}  // namespace ventari
