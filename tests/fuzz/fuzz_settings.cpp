// The settings reader on any text: the line reader, then both settings layouts read into records
// that already hold values (a line without a tab must leave its field alone). What they give is
// compared with a reading of the same text done here from the rules; only the conversion and the
// range errors may leave the reading, and only where the rules say. Lines that are not UTF-8 are
// read as Windows-1252; the reference converts them with iconv.

#include <iconv.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/game/settings.h"
#include "platform/convert.h"
#include "platform/errors.h"
#include "platform/files.h"

namespace {

using ventari::GameSettings;
using ventari::HostSettings;
using ventari::PlayerEntry;

// Converts all of `in` from one iconv encoding to another; none when any byte does not convert.
std::optional<std::string> Iconv(const char* to, const char* from, const std::string& in) {
  iconv_t cd = ::iconv_open(to, from);
  if (cd == reinterpret_cast<iconv_t>(-1)) __builtin_trap();
  std::string out(in.size() * 4 + 4, '\0');
  char* src = const_cast<char*>(in.data());
  std::size_t srcLeft = in.size();
  char* dst = out.data();
  std::size_t dstLeft = out.size();
  const std::size_t done = ::iconv(cd, &src, &srcLeft, &dst, &dstLeft);
  ::iconv_close(cd);
  if (done == static_cast<std::size_t>(-1) || srcLeft != 0) return std::nullopt;
  out.resize(out.size() - dstLeft);
  return out;
}

// A settings line as the program takes it: kept when it is UTF-8, otherwise read as
// Windows-1252, whose five unassigned bytes stand for the code points of their own value.
std::string AsUtf8(const std::string& line) {
  if (Iconv("UTF-32LE", "UTF-8", line)) return line;
  std::string result;
  for (const char c : line) {
    const auto byte = static_cast<unsigned char>(c);
    std::optional<std::string> one;
    if (byte == 0x81 || byte == 0x8D || byte == 0x8F || byte == 0x90 || byte == 0x9D) {
      const char32_t code = byte;
      one = Iconv("UTF-8", "UTF-32LE", std::string(reinterpret_cast<const char*>(&code), 4));
    } else {
      one = Iconv("UTF-8", "WINDOWS-1252", std::string(1, c));
    }
    if (!one) __builtin_trap();
    result += *one;
  }
  return result;
}

// A line ends at CR LF, CR or LF; Ctrl-Z ends the text; lines past the end are empty.
class ReferenceLines {
 public:
  explicit ReferenceLines(std::string_view text) {
    text = text.substr(0, text.find('\x1a'));
    std::size_t start = 0;
    while (start < text.size()) {
      const std::size_t end = text.find_first_of("\r\n", start);
      if (end == std::string_view::npos) {
        m_lines.emplace_back(text.substr(start));
        break;
      }
      m_lines.emplace_back(text.substr(start, end - start));
      start = end + (text.compare(end, 2, "\r\n") == 0 ? 2 : 1);
    }
  }
  std::size_t size() const { return m_lines.size(); }
  std::string operator[](std::size_t n) const { return n < m_lines.size() ? m_lines[n] : ""; }
  // Line n as the settings take it, in UTF-8.
  std::string setting(std::size_t n) const { return AsUtf8((*this)[n]); }
  // The text after the first tab of line n, in UTF-8; none without a tab.
  std::optional<std::string> value(std::size_t n) const {
    const std::string line = setting(n);
    const std::size_t tab = line.find('\t');
    if (tab == std::string::npos) return std::nullopt;
    return line.substr(tab + 1);
  }

 private:
  std::vector<std::string> m_lines;
};

enum class Outcome { kDone, kConvertError, kRangeError };

struct ExpectedGame {
  GameSettings settings;
  Outcome outcome = Outcome::kDone;
  std::string message;  // of the conversion error
};

GameSettings Filled() {
  GameSettings s;
  s.gameName = "old game";
  s.webFolder = "old web";
  s.hostAddress = "old host";
  s.reservedNumber = -7;
  s.autoGenerate = true;
  s.hoursToDeadline = 48;
  s.playerCount = 5;
  for (int n = 1; n <= ventari::kPlayerRows; ++n)
    s.player(n) = {"old " + std::to_string(n), "old@" + std::to_string(n), 0, {}};
  return s;
}

// Stores line n's integer; false (with the error noted) when it does not convert.
bool ExpectInteger(const ReferenceLines& lines, std::size_t n, std::int32_t& field,
                   ExpectedGame& e) {
  const auto value = lines.value(n);
  if (!value) return true;
  const auto number = ventari::TryStrToInt(*value);
  if (!number) {
    e.outcome = Outcome::kConvertError;
    e.message = "'" + *value + "' is not a valid integer value";
    return false;
  }
  field = *number;
  return true;
}

// A row that cannot be read carries a problem (its text is the reader's; only whether there is
// one is compared).
PlayerEntry ExpectedRow(const std::string& line) {
  const std::size_t tab = line.find('\t');
  if (tab == std::string::npos) return {"???", "COMPUTER", 0, "unread"};
  const std::string rest = line.substr(tab + 1);
  const std::size_t comma = rest.find(',');
  if (comma == std::string::npos) return {"", "COMPUTER", 0, "unread"};
  return {rest.substr(0, comma), rest.substr(comma + 1), 0, {}};
}

ExpectedGame ExpectGame(const ReferenceLines& lines) {
  ExpectedGame e;
  e.settings = Filled();
  GameSettings& s = e.settings;
  s.gameName = lines.value(0).value_or(s.gameName);
  s.webFolder = lines.value(1).value_or(s.webFolder);
  s.hostAddress = lines.value(2).value_or(s.hostAddress);
  if (!ExpectInteger(lines, 3, s.reservedNumber, e)) return e;
  if (const auto flag = lines.value(4)) s.autoGenerate = *flag != "0";
  if (!ExpectInteger(lines, 5, s.hoursToDeadline, e)) return e;
  if (!ExpectInteger(lines, 6, s.playerCount, e)) return e;
  for (std::int64_t n = 1; n <= s.playerCount; ++n) {
    if (n > ventari::kPlayerRows) {
      e.outcome = Outcome::kRangeError;
      return e;
    }
    s.player(static_cast<int>(n)) = ExpectedRow(lines.setting(static_cast<std::size_t>(6 + n)));
  }
  return e;
}

bool Same(const GameSettings& a, const GameSettings& b) {
  if (a.gameName != b.gameName || a.webFolder != b.webFolder || a.hostAddress != b.hostAddress ||
      a.reservedNumber != b.reservedNumber || a.autoGenerate != b.autoGenerate ||
      a.hoursToDeadline != b.hoursToDeadline || a.playerCount != b.playerCount)
    return false;
  for (int n = 1; n <= ventari::kPlayerRows; ++n)
    if (a.player(n).name != b.player(n).name || a.player(n).address != b.player(n).address ||
        a.player(n).problem.empty() != b.player(n).problem.empty())
      return false;
  return true;
}

void CheckLineReader(const std::string& text, const ReferenceLines& lines) {
  ventari::TextFileReader file;
  file.openText(text);
  for (std::size_t n = 0; n < lines.size() + 2; ++n)
    if (file.readLine() != lines[n]) __builtin_trap();
}

void CheckHostSettings(const std::string& text, const ReferenceLines& lines) {
  HostSettings host{"old bin", "old exe", "old pub", "old game folder"};
  ventari::TextFileReader file;
  file.openText(text);
  ventari::ReadHostSettings(file, host);  // texts only: nothing may be raised
  if (host.binariesDir != lines.value(0).value_or("old bin") ||
      host.executableName != lines.value(1).value_or("old exe") ||
      host.publicationDir != lines.value(2).value_or("old pub") ||
      host.repJeu != lines.value(3).value_or("old game folder"))
    __builtin_trap();
}

void CheckGameSettings(const std::string& text, const ReferenceLines& lines) {
  const ExpectedGame expected = ExpectGame(lines);
  GameSettings game = Filled();
  ventari::TextFileReader file;
  file.openText(text);
  Outcome outcome = Outcome::kDone;
  try {
    ventari::ReadGameSettings(file, game);
  } catch (const ventari::EConvertError& e) {
    outcome = Outcome::kConvertError;
    // what() ends at the first zero byte; so does the comparison.
    if (std::strcmp(e.what(), expected.message.c_str()) != 0) __builtin_trap();
  } catch (const ventari::ERangeError& e) {
    outcome = Outcome::kRangeError;
    if (std::strcmp(e.what(), "Range check error") != 0) __builtin_trap();
  }
  if (outcome != expected.outcome || !Same(game, expected.settings)) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  const ReferenceLines lines(text);
  CheckLineReader(text, lines);
  CheckHostSettings(text, lines);
  CheckGameSettings(text, lines);
  return 0;
}
