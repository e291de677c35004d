#include "net/nmurl.h"

namespace ventari {

namespace {

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

std::optional<std::string> UrlDecode(std::string_view input, std::string* error) {
  std::string out;
  out.reserve(input.size());
  for (std::size_t i = 0; i < input.size(); ++i) {
    const char c = input[i];
    if (c == '+') {
      out += ' ';
    } else if (c == '%') {
      if (i + 2 >= input.size()) {
        if (error) *error = "Incomplete escape '" + std::string(input.substr(i)) + "'";
        return std::nullopt;
      }
      const int hi = HexValue(input[i + 1]);
      const int lo = HexValue(input[i + 2]);
      if (hi < 0 || lo < 0) {
        if (error) *error = "'" + std::string(input.substr(i, 3)) + "' is not a valid escape";
        return std::nullopt;
      }
      out += static_cast<char>(hi * 16 + lo);
      i += 2;
    } else {
      out += c;
    }
  }
  return out;
}

std::string TNMURL::Decode() {
  std::string message;
  if (auto decoded = UrlDecode(InputString, &message)) return *decoded;
  if (OnError) OnError(*this, "Error during decode", message);
  return InputString;
}

}  // namespace ventari
