#include "core/settings.h"

#include "platform/convert.h"
#include "platform/errors.h"
#include "platform/files.h"

namespace ventari {

PlayerEntry& GameSettings::player(int n) {
  if (n < 1 || n > kPlayerRows) throw ERangeError();
  return m_players[static_cast<std::size_t>(n - 1)];
}

const PlayerEntry& GameSettings::player(int n) const {
  if (n < 1 || n > kPlayerRows) throw ERangeError();
  return m_players[static_cast<std::size_t>(n - 1)];
}

bool ReadSettingValue(TextFileReader& file, std::string& value) {
  const std::string line = file.readLine();
  const auto tab = line.find('\t');
  if (tab == std::string::npos) return false;
  value = line.substr(tab + 1);
  return true;
}

PlayerEntry ParsePlayerLine(const std::string& line) {
  const auto tab = line.find('\t');
  if (tab == std::string::npos) return {"???", kComputerAddress};
  const std::string rest = line.substr(tab + 1);
  const auto comma = rest.find(',');
  if (comma == std::string::npos) return {"", kComputerAddress};
  return {rest.substr(0, comma), rest.substr(comma + 1)};
}

namespace {

void ReadText(TextFileReader& file, std::string& field) {
  std::string value;
  if (ReadSettingValue(file, value)) field = std::move(value);
}

void ReadInteger(TextFileReader& file, std::int32_t& field) {
  std::string value;
  if (ReadSettingValue(file, value)) field = StrToInt(value);
}

}  // namespace

void ReadHostSettings(TextFileReader& file, HostSettings& settings) {
  ReadText(file, settings.binariesDir);
  ReadText(file, settings.executableName);
  ReadText(file, settings.publicationDir);
  ReadText(file, settings.repJeu);
}

void ReadGameSettings(TextFileReader& file, GameSettings& settings) {
  ReadText(file, settings.gameName);
  ReadText(file, settings.webFolder);
  ReadText(file, settings.hostAddress);
  ReadInteger(file, settings.reservedNumber);
  std::string flag;
  if (ReadSettingValue(file, flag)) settings.autoGenerate = flag != "0";
  ReadInteger(file, settings.hoursToDeadline);
  ReadInteger(file, settings.playerCount);
  for (int n = 1; n <= settings.playerCount; ++n) {
    const std::string line = file.readLine();
    settings.player(n) = ParsePlayerLine(line);  // row 13 raises the range error
  }
}

bool LoadHostSettings(HostSettings& settings) {
  TextFileReader file;
  if (!file.open("ventari.def")) return false;
  ReadHostSettings(file, settings);
  return true;
}

bool LoadGameSettings(GameSettings& settings, const std::string& repJeu) {
  TextFileReader file;
  if (!file.open(repJeu + "\\ventari.pla")) return false;
  ReadGameSettings(file, settings);
  return true;
}

}  // namespace ventari
