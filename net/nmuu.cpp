#include "net/nmuu.h"

#include <cstdint>

namespace ventari {

namespace {

constexpr std::size_t kLineBytes = 45;
constexpr char kMimeAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

// uuencode writes 0 as "`" rather than a blank, so that no line ends in blanks.
char UUChar(unsigned value) { return value == 0 ? '`' : static_cast<char>(' ' + value); }

std::uint32_t Group(std::string_view bytes, std::size_t at) {
  std::uint32_t g = 0;
  for (std::size_t k = 0; k < 3; ++k) {
    g <<= 8;
    if (at + k < bytes.size()) g |= static_cast<unsigned char>(bytes[at + k]);
  }
  return g;
}

}  // namespace

std::string EncodeMimeLines(std::string_view input) {
  std::string out;
  for (std::size_t line = 0; line < input.size(); line += kLineBytes) {
    const std::string_view run = input.substr(line, kLineBytes);
    for (std::size_t i = 0; i < run.size(); i += 3) {
      const std::uint32_t g = Group(run, i);
      const std::size_t have = run.size() - i;
      out += kMimeAlphabet[(g >> 18) & 63];
      out += kMimeAlphabet[(g >> 12) & 63];
      out += have > 1 ? kMimeAlphabet[(g >> 6) & 63] : '=';
      out += have > 2 ? kMimeAlphabet[g & 63] : '=';
    }
    out += "\r\n";
  }
  return out;
}

std::string EncodeUULines(std::string_view input) {
  std::string out;
  for (std::size_t line = 0; line < input.size(); line += kLineBytes) {
    const std::string_view run = input.substr(line, kLineBytes);
    out += UUChar(static_cast<unsigned>(run.size()));
    for (std::size_t i = 0; i < run.size(); i += 3) {
      const std::uint32_t g = Group(run, i);
      for (int shift = 18; shift >= 0; shift -= 6) out += UUChar((g >> shift) & 63);
    }
    out += "\r\n";
  }
  out += UUChar(0);
  out += "\r\n";
  return out;
}

std::string TNMUUProcessor::Encode(std::string_view input) {
  if (OnBeginEncode) OnBeginEncode(*this);
  std::string out = Method == uuMime ? EncodeMimeLines(input) : EncodeUULines(input);
  if (OnEndEncode) OnEndEncode(*this);
  return out;
}

}  // namespace ventari
