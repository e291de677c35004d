#pragma once
// What the robot waits for without dispatching events (the game's run), named while it lasts,
// so that a stop asked for meanwhile can be acknowledged at once, from another thread, by
// saying what is finished first.

#include <string>

namespace ventari {

class LongWait {
 public:
  // `what` is finished first, up to its time limit, when a stop is asked for: "the game's run
  // (pid 4242)".
  explicit LongWait(std::string what);
  ~LongWait();
  LongWait(const LongWait&) = delete;
  LongWait& operator=(const LongWait&) = delete;
};

// The wait under way, or empty. Safe from any thread.
std::string CurrentLongWait();

}  // namespace ventari
