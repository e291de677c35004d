#pragma once
// Local date-times on the runtime's scale: days since 30 December 1899 00:00, the time of day
// as the fraction.

#include <ctime>
#include <optional>
#include <string>
#include <string_view>

namespace ventari {

using TDateTime = double;

// The zero of the scale: 30 December 1899, 00:00.
inline constexpr TDateTime kZeroDateTime = 0.0;

struct DateTimeParts {
  int year = 1899, month = 12, day = 30;
  int hour = 0, minute = 0, second = 0, millisecond = 0;
};

// std::nullopt when a field is out of range (day 31 in a 30-day month, hour 24, ...).
std::optional<TDateTime> TryEncodeDateTime(const DateTimeParts& parts);
DateTimeParts DecodeDateTime(TDateTime value);

// Reads "day/month/year[ hours:minutes[:seconds]]" (blanks around the parts allowed); nothing but
// the date gives midnight. std::nullopt for anything else.
std::optional<TDateTime> TryParseDayMonthYear(std::string_view text);

// The fields of a local date-time for the C library (mktime, strftime): the day of the week
// filled in, the daylight-saving flag left for mktime to find (-1).
std::tm LocalFields(TDateTime value);

// The system's short date format, a blank and its long time format; the blank and the time are
// left out when the time of day is 00:00:00.
std::string DateTimeToStr(TDateTime value);

}  // namespace ventari
