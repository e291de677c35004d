#pragma once
// The game's past turns, for the players' page: when each was generated against its deadline,
// whether it was forced, who sent no orders, and when each player's orders came in. Kept in the
// game's store: the tick records orders as they come, the generation the turn it played.

#include <optional>
#include <string>
#include <vector>

namespace ventari {

// Times are seconds since the epoch.
struct OrdersArrival {
  int row = 0;
  long long firstAt = 0;  // his first orders that counted
  long long lastAt = 0;   // his last: a correction's time, else the first's
};

struct PastTurn {
  int turn = 0;  // the host file's turn played: its orders were those of its year
  std::optional<long long> openedAt;  // the turn before's generation, when recorded
  std::optional<long long> deadline;  // unknown when the robot had none
  long long generatedAt = 0;
  bool forced = false;
  std::vector<int> leftOut;  // the human rows whose orders were not in
  std::vector<OrdersArrival> orders;
};

// A set of orders that counts for `turn`; one already recorded with these bytes changes
// nothing. Raises EInOutError.
void RecordOrdersIn(const std::string& gameDir, int turn, int row, const std::string& hash,
                    long long at);
// The game ran `turn` at `generatedAt`; it left out the `humans` whose orders were not recorded.
// One transaction. Raises EInOutError.
void RecordTurnPlayed(const std::string& gameDir, int turn, std::optional<long long> deadline,
                      long long generatedAt, bool forced, const std::vector<int>& humans);
// The last `count` turns played, the latest first. Raises EInOutError.
std::vector<PastTurn> ReadTurnHistory(const std::string& gameDir, int count);

}  // namespace ventari
