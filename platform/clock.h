#pragma once
// The local clock behind a seam, so that tests can set the time.

#include <ctime>
#include <string>

#include "platform/datetime.h"

namespace ventari {

class Clock {
 public:
  virtual ~Clock() = default;
  virtual TDateTime Now() const = 0;
};

// The local date-time of a moment given in seconds since the epoch (a leap second reads as :59);
// the zero of the scale when it cannot be converted.
TDateTime LocalDateTime(long long secondsSinceEpoch, int millisecond = 0);
// The inverse: the seconds since the epoch of a local date-time, so that spans are measured in
// real time (across a daylight-saving change a local day is 23 or 25 hours). A local time the
// change skips reads as the hour after it.
long long EpochSeconds(TDateTime local);
// The machine's local fields of a moment in seconds since the epoch, and that moment written
// with strftime's `format`.
std::tm LocalTimeFields(long long secondsSinceEpoch);
std::string FormatLocalTime(long long secondsSinceEpoch, const char* format);

// The machine's local date and time.
class SystemClock final : public Clock {
 public:
  TDateTime Now() const override;
};

}  // namespace ventari
