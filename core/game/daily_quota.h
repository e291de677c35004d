#pragma once
// At most so many acts in any 24 hours (the host's messages, the turn files sent again): one
// count for every quota of the robot.

#include <algorithm>
#include <optional>
#include <vector>

namespace ventari {

inline constexpr long long kQuotaDay = 24 * 60 * 60;

// Given when the earlier acts were (seconds since the epoch, any order): nothing when one more
// may go at `now`, else the second from which the next may.
inline std::optional<long long> NextAllowedAt(std::vector<long long> times, long long now,
                                              int most) {
  std::sort(times.begin(), times.end());
  if (most <= 0 || times.size() < static_cast<std::size_t>(most)) return std::nullopt;
  const long long oldest = times[times.size() - static_cast<std::size_t>(most)];
  if (oldest <= now - kQuotaDay) return std::nullopt;
  return oldest + kQuotaDay;
}

}  // namespace ventari
