// The integer syntax of the settings files and the URL ports: TryStrToInt against a reference
// written here on std::from_chars, and StrToInt's result and error text. Any disagreement traps.

#include <charconv>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>

#include "platform/convert.h"
#include "platform/errors.h"

namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// One to eight hexadecimal digits and nothing else, as a 32-bit pattern.
std::optional<std::int32_t> ReferenceHex(std::string_view digits) {
  if (digits.empty() || digits.size() > 8) return std::nullopt;
  std::uint32_t value = 0;
  const char* end = digits.data() + digits.size();
  // from_chars takes no sign for an unsigned type and no "0x": only digits get through.
  const auto [ptr, ec] = std::from_chars(digits.data(), end, value, 16);
  if (ec != std::errc() || ptr != end) return std::nullopt;
  return static_cast<std::int32_t>(value);
}

// Leading blanks; "$", "x", "X", "0x" or "0X" and hex digits; or an optional sign and decimal
// digits in the signed 32-bit range. Nothing may follow.
std::optional<std::int32_t> Reference(std::string_view text) {
  const std::size_t first = text.find_first_not_of(' ');
  if (first == std::string_view::npos) return std::nullopt;
  text.remove_prefix(first);
  if (text.starts_with("0x") || text.starts_with("0X")) return ReferenceHex(text.substr(2));
  if (text[0] == '$' || text[0] == 'x' || text[0] == 'X') return ReferenceHex(text.substr(1));

  // from_chars knows only "-": a "+" is taken off here, and a digit must follow either sign.
  const std::string_view number = text[0] == '+' ? text.substr(1) : text;
  const std::size_t digitsAt = text[0] == '-' ? 1 : 0;
  if (number.size() <= digitsAt || !IsDigit(number[digitsAt])) return std::nullopt;
  std::int32_t value = 0;
  const char* end = number.data() + number.size();
  const auto [ptr, ec] = std::from_chars(number.data(), end, value, 10);
  if (ec != std::errc() || ptr != end) return std::nullopt;
  return value;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);

  const std::optional<std::int32_t> got = ventari::TryStrToInt(text);
  if (got != Reference(text)) __builtin_trap();

  try {
    const std::int32_t value = ventari::StrToInt(text);
    if (!got || value != *got) __builtin_trap();
  } catch (const ventari::EConvertError& e) {
    if (got) __builtin_trap();
    const std::string message = "'" + std::string(text) + "' is not a valid integer value";
    // what() ends at the first zero byte; so does the comparison.
    if (std::strcmp(e.what(), message.c_str()) != 0) __builtin_trap();
  }
  return 0;
}
