#include "platform/datetime.h"

#include <langinfo.h>

#include <cmath>
#include <ctime>

namespace ventari {

namespace {

// Days since 1970-01-01 of a proleptic Gregorian date (Howard Hinnant's algorithm).
long DaysFromCivil(long y, unsigned m, unsigned d) {
  y -= m <= 2;
  const long era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<long>(doe) - 719468;
}

void CivilFromDays(long z, int& year, int& month, int& day) {
  z += 719468;
  const long era = (z >= 0 ? z : z - 146096) / 146097;
  const unsigned doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const long y = static_cast<long>(yoe) + era * 400;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  year = static_cast<int>(y + (month <= 2));
}

const long kEpochOffset = DaysFromCivil(1899, 12, 30);

bool IsLeap(int y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

int DaysInMonth(int y, int m) {
  static const int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return m == 2 && IsLeap(y) ? 29 : kDays[m - 1];
}

// Reads an unsigned decimal number of at most `maxDigits` digits, skipping blanks before it.
std::optional<int> ReadNumber(std::string_view text, std::size_t& pos, std::size_t maxDigits) {
  while (pos < text.size() && text[pos] == ' ') ++pos;
  const std::size_t start = pos;
  int value = 0;
  while (pos < text.size() && text[pos] >= '0' && text[pos] <= '9' && pos - start < maxDigits) {
    value = value * 10 + (text[pos] - '0');
    ++pos;
  }
  if (pos == start) return std::nullopt;
  if (pos < text.size() && text[pos] >= '0' && text[pos] <= '9') return std::nullopt;
  return value;
}

bool Expect(std::string_view text, std::size_t& pos, char c) {
  while (pos < text.size() && text[pos] == ' ') ++pos;
  if (pos >= text.size() || text[pos] != c) return false;
  ++pos;
  return true;
}

}  // namespace

std::optional<TDateTime> TryEncodeDateTime(const DateTimeParts& p) {
  if (p.year < 1 || p.year > 9999 || p.month < 1 || p.month > 12 || p.day < 1 ||
      p.day > DaysInMonth(p.year, p.month))
    return std::nullopt;
  if (p.hour < 0 || p.hour > 23 || p.minute < 0 || p.minute > 59 || p.second < 0 || p.second > 59 ||
      p.millisecond < 0 || p.millisecond > 999)
    return std::nullopt;
  const double days = static_cast<double>(
      DaysFromCivil(p.year, static_cast<unsigned>(p.month), static_cast<unsigned>(p.day)) -
      kEpochOffset);
  const double time =
      (p.hour * 3600000.0 + p.minute * 60000.0 + p.second * 1000.0 + p.millisecond) / 86400000.0;
  // Before the zero the time still counts forward from midnight, as on the runtime's scale.
  return days >= 0 ? days + time : days - time;
}

DateTimeParts DecodeDateTime(TDateTime value) {
  DateTimeParts parts;
  const double dayPart = std::trunc(value);
  long long ms = std::llround(std::fabs(value - dayPart) * 86400000.0);
  long days = static_cast<long>(dayPart);
  if (ms >= 86400000LL) {
    ms -= 86400000LL;
    days += value >= 0 ? 1 : -1;
  }
  CivilFromDays(days + kEpochOffset, parts.year, parts.month, parts.day);
  parts.hour = static_cast<int>(ms / 3600000);
  parts.minute = static_cast<int>(ms / 60000 % 60);
  parts.second = static_cast<int>(ms / 1000 % 60);
  parts.millisecond = static_cast<int>(ms % 1000);
  return parts;
}

std::optional<TDateTime> TryParseDayMonthYear(std::string_view text) {
  DateTimeParts parts;
  std::size_t pos = 0;
  const auto day = ReadNumber(text, pos, 2);
  if (!day || !Expect(text, pos, '/')) return std::nullopt;
  const auto month = ReadNumber(text, pos, 2);
  if (!month || !Expect(text, pos, '/')) return std::nullopt;
  const auto year = ReadNumber(text, pos, 4);
  if (!year) return std::nullopt;
  parts.day = *day;
  parts.month = *month;
  parts.year = *year;
  std::size_t after = pos;
  while (after < text.size() && text[after] == ' ') ++after;
  if (after < text.size()) {
    if (after == pos) return std::nullopt;  // the time follows the date after a blank
    pos = after;
    const auto hour = ReadNumber(text, pos, 2);
    if (!hour || !Expect(text, pos, ':')) return std::nullopt;
    const auto minute = ReadNumber(text, pos, 2);
    if (!minute) return std::nullopt;
    parts.hour = *hour;
    parts.minute = *minute;
    if (pos < text.size() && text[pos] == ':') {
      ++pos;
      const auto second = ReadNumber(text, pos, 2);
      if (!second) return std::nullopt;
      parts.second = *second;
    }
    while (pos < text.size() && text[pos] == ' ') ++pos;
    if (pos != text.size()) return std::nullopt;
  }
  return TryEncodeDateTime(parts);
}

std::tm LocalFields(TDateTime value) {
  const DateTimeParts p = DecodeDateTime(value);
  std::tm tm{};
  tm.tm_year = p.year - 1900;
  tm.tm_mon = p.month - 1;
  tm.tm_mday = p.day;
  tm.tm_hour = p.hour;
  tm.tm_min = p.minute;
  tm.tm_sec = p.second;
  tm.tm_isdst = -1;
  tm.tm_wday = static_cast<int>(
      (DaysFromCivil(p.year, static_cast<unsigned>(p.month), static_cast<unsigned>(p.day)) % 7 +
       11) %
      7);
  return tm;
}

std::string DateTimeToStr(TDateTime value) {
  const DateTimeParts p = DecodeDateTime(value);
  const std::tm tm = LocalFields(value);
  std::string format = nl_langinfo(D_FMT);
  if (p.hour != 0 || p.minute != 0 || p.second != 0) {
    format += ' ';
    format += nl_langinfo(T_FMT);
  }
  char buffer[256];
  const std::size_t n = std::strftime(buffer, sizeof buffer, format.c_str(), &tm);
  return std::string(buffer, n);
}

}  // namespace ventari
