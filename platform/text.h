#pragma once
// Small text helpers shared by every reader of settings, headers and subjects.

#include <optional>
#include <string>
#include <string_view>

namespace ventari {

// A-Z made a-z; every other byte as it is, whatever the locale.
std::string LowerAscii(std::string_view text);

// Without the leading and trailing bytes of `blanks`.
std::string Trimmed(std::string_view text, std::string_view blanks = " \t");

// A number of hours the host wrote: a positive decimal number ("24", "1.5"); nothing for
// anything else.
std::optional<double> ParseHours(std::string_view text);

}  // namespace ventari
