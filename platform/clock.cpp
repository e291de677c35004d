#include "platform/clock.h"

#include <sys/time.h>

#include <ctime>

namespace ventari {

TDateTime LocalDateTime(long long secondsSinceEpoch, int millisecond) {
  std::tm local{};
  const time_t seconds = static_cast<time_t>(secondsSinceEpoch);
  if (::localtime_r(&seconds, &local) == nullptr) return kZeroDateTime;
  DateTimeParts parts;
  parts.year = local.tm_year + 1900;
  parts.month = local.tm_mon + 1;
  parts.day = local.tm_mday;
  parts.hour = local.tm_hour;
  parts.minute = local.tm_min;
  parts.second = local.tm_sec > 59 ? 59 : local.tm_sec;  // a leap second reads as :59
  parts.millisecond = millisecond;
  return TryEncodeDateTime(parts).value_or(kZeroDateTime);
}

long long EpochSeconds(TDateTime local) {
  std::tm fields = LocalFields(local);
  return static_cast<long long>(std::mktime(&fields));
}

std::tm LocalTimeFields(long long secondsSinceEpoch) {
  const std::time_t seconds = static_cast<std::time_t>(secondsSinceEpoch);
  std::tm local{};
  ::localtime_r(&seconds, &local);
  return local;
}

std::string FormatLocalTime(long long secondsSinceEpoch, const char* format) {
  const std::tm local = LocalTimeFields(secondsSinceEpoch);
  char text[64];
  return std::string(text, std::strftime(text, sizeof text, format, &local));
}

TDateTime SystemClock::Now() const {
  timeval tv{};
  ::gettimeofday(&tv, nullptr);
  return LocalDateTime(tv.tv_sec, static_cast<int>(tv.tv_usec / 1000));
}

}  // namespace ventari
