#include "core/game/settings.h"

#include <optional>
#include <utility>

#include "platform/convert.h"
#include "platform/errors.h"
#include "platform/files.h"
#include "platform/utf8.h"

namespace ventari {

namespace {

bool IsValidUtf8(const std::string& text) {
  for (std::size_t at = 0; at < text.size();) {
    const std::size_t length = Utf8SequenceAt(text, at);
    if (length == 0) return false;
    at += length;
  }
  return true;
}

// The code points of 0x80 to 0x9F in Windows-1252; its five unassigned bytes keep their own
// value, as Windows itself converts them.
constexpr char16_t kWindows1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

std::string Windows1252ToUtf8(const std::string& text) {
  std::string result;
  result.reserve(text.size() * 2);
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    const char32_t code = byte < 0x80 ? byte : byte < 0xA0 ? kWindows1252High[byte - 0x80] : byte;
    if (code < 0x80) {
      result += static_cast<char>(code);
    } else if (code < 0x800) {
      result += static_cast<char>(0xC0 | (code >> 6));
      result += static_cast<char>(0x80 | (code & 0x3F));
    } else {
      result += static_cast<char>(0xE0 | (code >> 12));
      result += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
      result += static_cast<char>(0x80 | (code & 0x3F));
    }
  }
  return result;
}

// A settings line in the program's UTF-8: files brought from the old Windows host are in
// Windows-1252, and a line that is not valid UTF-8 is read as such.
std::string ReadSettingsLine(TextFileReader& file) {
  std::string line = file.readLine();
  return IsValidUtf8(line) ? line : Windows1252ToUtf8(line);
}

}  // namespace

PlayerEntry& GameSettings::player(int n) {
  if (n < 1 || n > kPlayerRows) throw ERangeError();
  return m_players[static_cast<std::size_t>(n - 1)];
}

const PlayerEntry& GameSettings::player(int n) const {
  if (n < 1 || n > kPlayerRows) throw ERangeError();
  return m_players[static_cast<std::size_t>(n - 1)];
}

bool ReadSettingValue(TextFileReader& file, std::string& value) {
  const std::string line = ReadSettingsLine(file);
  const auto tab = line.find('\t');
  if (tab == std::string::npos) return false;
  value = line.substr(tab + 1);
  return true;
}

PlayerEntry ParsePlayerLine(const std::string& line) {
  const auto tab = line.find('\t');
  if (tab == std::string::npos) return {"???", kComputerAddress, 0, {}};
  const std::string rest = line.substr(tab + 1);
  const auto comma = rest.find(',');
  if (comma == std::string::npos) return {"", kComputerAddress, 0, {}};
  return {rest.substr(0, comma), rest.substr(comma + 1), 0, {}};
}

namespace {

// Reads the lines of one settings file, counting them, and notes what cannot be used.
class SettingsLines {
 public:
  SettingsLines(TextFileReader& file, const char* name, SettingsProblems* problems)
      : m_file(file), m_name(name), m_problems(problems) {}

  std::string Next() {
    ++m_line;
    m_text = ReadSettingsLine(m_file);
    return m_text;
  }
  // The problem's message.
  std::string Problem(const std::string& what) {
    SettingsProblem problem{m_name, m_line, m_text, what};
    std::string message = problem.Message();
    if (m_problems) m_problems->push_back(std::move(problem));
    return message;
  }
  // The value after the line's tab; nothing (noted) when it has none.
  std::optional<std::string> Value() {
    const std::string line = Next();
    const auto tab = line.find('\t');
    if (tab == std::string::npos) {
      Problem("pas de tabulation");
      return std::nullopt;
    }
    return line.substr(tab + 1);
  }
  void Text(std::string& field) {
    if (std::optional<std::string> value = Value()) field = std::move(*value);
  }
  void Integer(std::int32_t& field) {
    const std::optional<std::string> value = Value();
    if (!value) return;
    try {
      field = StrToInt(*value);
    } catch (const EConvertError&) {
      Problem("pas un nombre entier");
      throw;  // the design's error, after the line is known
    }
  }
  int line() const { return m_line; }

 private:
  TextFileReader& m_file;
  const char* m_name;
  SettingsProblems* m_problems;
  int m_line = 0;
  std::string m_text;
};

}  // namespace

std::string SettingsProblem::Message() const {
  return file + ", ligne " + std::to_string(line) + " : " + what + " (« " + text + " »)";
}

void ReadHostSettings(TextFileReader& file, HostSettings& settings, SettingsProblems* problems) {
  SettingsLines lines(file, "ventari.def", problems);
  lines.Text(settings.binariesDir);
  lines.Text(settings.executableName);
  lines.Text(settings.publicationDir);
  lines.Text(settings.repJeu);
}

void ReadGameSettings(TextFileReader& file, GameSettings& settings, SettingsProblems* problems) {
  SettingsLines lines(file, "ventari.pla", problems);
  lines.Text(settings.gameName);
  lines.Text(settings.webFolder);
  lines.Text(settings.hostAddress);
  lines.Integer(settings.reservedNumber);
  if (const std::optional<std::string> flag = lines.Value()) settings.autoGenerate = *flag != "0";
  lines.Integer(settings.hoursToDeadline);
  lines.Integer(settings.playerCount);
  for (int n = 1; n <= settings.playerCount; ++n) {
    const std::string line = lines.Next();
    PlayerEntry entry = ParsePlayerLine(line);  // row 13 raises the range error below
    if (line.find('\t') == std::string::npos)
      entry.problem = lines.Problem("pas de tabulation");
    else if (line.find(',', line.find('\t')) == std::string::npos)
      entry.problem = lines.Problem("pas de virgule entre le nom et l'adresse");
    entry.line = lines.line();
    settings.player(n) = std::move(entry);
  }
}

bool LoadHostSettings(HostSettings& settings, SettingsProblems* problems) {
  TextFileReader file;
  if (!file.open("ventari.def")) return false;
  ReadHostSettings(file, settings, problems);
  return true;
}

bool LoadGameSettings(GameSettings& settings, const std::string& repJeu,
                      SettingsProblems* problems) {
  TextFileReader file;
  if (!file.open(repJeu + "\\ventari.pla")) return false;
  ReadGameSettings(file, settings, problems);
  return true;
}

}  // namespace ventari
