#pragma once
// A call at a short interval while there is work to watch: the event loop's timer in the
// program. Without one (a command-line action, a test) the owner of the work polls it itself.

#include <chrono>
#include <functional>
#include <memory>

namespace ventari {

class Ticker {
 public:
  virtual ~Ticker() = default;
  virtual void Start() = 0;
  virtual void Stop() = 0;
};

// Makes the ticker that calls `tick` every `interval` once started.
using TickerMaker = std::function<std::unique_ptr<Ticker>(std::chrono::milliseconds interval,
                                                          std::function<void()> tick)>;

}  // namespace ventari
