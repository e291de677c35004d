#pragma once
// Text to number conversion with the runtime's integer syntax.

#include <cstdint>
#include <optional>
#include <string_view>

namespace ventari {

// Optional leading spaces; then an optional sign and decimal digits (signed 32-bit range), or a
// hexadecimal marker ("$", "x", "X", "0x", "0X") and one to eight hex digits read as a 32-bit
// pattern. Nothing may follow. std::nullopt when the text does not follow this syntax.
std::optional<std::int32_t> TryStrToInt(std::string_view text);

// As TryStrToInt; raises EConvertError "'%s' is not a valid integer value".
std::int32_t StrToInt(std::string_view text);

}  // namespace ventari
