#include "platform/text.h"

#include <algorithm>

namespace ventari {

std::string LowerAscii(std::string_view text) {
  std::string lower(text);
  for (char& c : lower)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return lower;
}

std::string Trimmed(std::string_view text, std::string_view blanks) {
  const std::size_t first = text.find_first_not_of(blanks);
  if (first == std::string_view::npos) return {};
  return std::string(text.substr(first, text.find_last_not_of(blanks) - first + 1));
}

std::optional<double> ParseHours(std::string_view text) {
  // Read by hand: the locale's decimal point must not change what the host wrote.
  const std::size_t point = text.find('.');
  const std::string_view whole = text.substr(0, point);
  const std::string_view fraction =
      point == std::string_view::npos ? std::string_view() : text.substr(point + 1);
  auto digits = [](std::string_view part) {
    return std::all_of(part.begin(), part.end(), [](char c) { return c >= '0' && c <= '9'; });
  };
  if (whole.empty() || whole.size() > 6 || fraction.size() > 6 || !digits(whole) ||
      !digits(fraction) || (point != std::string_view::npos && fraction.empty()))
    return std::nullopt;
  double hours = 0;
  for (char c : whole) hours = hours * 10 + (c - '0');
  double scale = 1;
  for (char c : fraction) hours += (c - '0') * (scale /= 10);
  if (hours <= 0) return std::nullopt;
  return hours;
}

}  // namespace ventari
