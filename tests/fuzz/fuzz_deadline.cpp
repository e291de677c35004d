// The first line of the deadline cache, as any server may have filled it. ParseDeadline either
// gives a date-time that decodes back to the day, month and year its pieces spell, or raises
// the conversion error that quotes the joined text; anything else traps. Deadlines written in
// the plain form (every digit in place) must convert exactly when the calendar has that day.

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>

#include "core/turn/refresh.h"
#include "platform/datetime.h"
#include "platform/errors.h"

namespace {

// Characters first .. first + count - 1, counted from 1, cut short at the end of the text.
std::string Piece(std::string_view text, std::size_t first, std::size_t count) {
  if (text.size() < first) return {};
  return std::string(text.substr(first - 1, count));
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// The number a piece starts with, after its blanks; none when no digit comes first.
std::optional<int> LeadingNumber(std::string_view piece) {
  std::size_t i = 0;
  while (i < piece.size() && piece[i] == ' ') ++i;
  if (i == piece.size() || !IsDigit(piece[i])) return std::nullopt;
  int value = 0;
  for (; i < piece.size() && IsDigit(piece[i]); ++i) value = value * 10 + (piece[i] - '0');
  return value;
}

// Every character is a digit where the mask has "9" and equal to the mask elsewhere.
bool Matches(std::string_view text, std::string_view mask) {
  if (text.size() != mask.size()) return false;
  for (std::size_t i = 0; i < text.size(); ++i)
    if (mask[i] == '9' ? !IsDigit(text[i]) : text[i] != mask[i]) return false;
  return true;
}

int Number(std::string_view text, std::size_t at, std::size_t count) {
  int value = 0;
  for (std::size_t i = at; i < at + count; ++i) value = value * 10 + (text[i] - '0');
  return value;
}

bool RealDate(int year, int month, int day) {
  static const int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (year < 1 || month < 1 || month > 12 || day < 1) return false;
  const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
  return day <= kDays[month - 1] + (month == 2 && leap ? 1 : 0);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  const std::string day = Piece(text, 9, 2);
  const std::string month = Piece(text, 6, 2);
  const std::string year = Piece(text, 1, 4);
  const std::string time = Piece(text, 11, 9);
  const std::string joined = day + "/" + month + "/" + year + time;

  // The plain forms "YYYY-MM-DD" and "YYYY-MM-DD hh:mm:ss" (any characters at 5 and 8).
  std::optional<bool> plainValid;
  std::string canonical = text.substr(0, 19);
  if (canonical.size() >= 10) canonical[4] = canonical[7] = '-';
  const bool dateOnly = Matches(canonical, "9999-99-99");
  const bool withTime = Matches(canonical, "9999-99-99 99:99:99");
  if (dateOnly || withTime) {
    plainValid = RealDate(Number(text, 0, 4), Number(text, 5, 2), Number(text, 8, 2));
    if (withTime)
      *plainValid = *plainValid && Number(text, 11, 2) < 24 && Number(text, 14, 2) < 60 &&
                    Number(text, 17, 2) < 60;
  }

  ventari::TDateTime value = 0;
  try {
    value = ventari::ParseDeadline(text);
  } catch (const ventari::EConvertError& e) {
    if (plainValid == true) __builtin_trap();
    // what() ends at the first zero byte; so does the comparison.
    const std::string message = "'" + joined + "' is not a valid date and time";
    if (std::strcmp(e.what(), message.c_str()) != 0) __builtin_trap();
    return 0;
  }
  if (plainValid == false || !std::isfinite(value)) __builtin_trap();

  const ventari::DateTimeParts parts = ventari::DecodeDateTime(value);
  if (LeadingNumber(day) != parts.day || LeadingNumber(month) != parts.month ||
      LeadingNumber(year) != parts.year)
    __builtin_trap();
  if (parts.millisecond != 0 || parts.hour > 23 || parts.minute > 59 || parts.second > 59)
    __builtin_trap();
  if (ventari::TryEncodeDateTime(parts) != value) __builtin_trap();
  if (withTime && (parts.hour != Number(text, 11, 2) || parts.minute != Number(text, 14, 2) ||
                   parts.second != Number(text, 17, 2)))
    __builtin_trap();
  if (dateOnly && (parts.hour != 0 || parts.minute != 0 || parts.second != 0)) __builtin_trap();
  return 0;
}
