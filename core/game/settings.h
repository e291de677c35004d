#pragma once
// The host settings file `ventari.def` and the game settings file `ventari.pla`.

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace ventari {

class TextFileReader;

struct HostSettings {
  std::string binariesDir;
  std::string executableName;
  std::string publicationDir;
  std::string repJeu;  // the game folder
};

inline constexpr char kComputerAddress[] = "COMPUTER";

struct PlayerEntry {
  std::string name;
  std::string address;
  // Exactly "COMPUTER", compared byte for byte.
  bool isComputer() const { return address == kComputerAddress; }
  int line = 0;  // its line in ventari.pla, for the messages; 0 when it was never read
  // The line could not be read as its author meant (no tab, no comma): what the message says.
  // Such a row is nobody's, and no turn may be generated over it.
  std::string problem;
};

// A settings line the robot read but cannot use as its author meant: the design's reading keeps
// going (a line without a tab leaves its field unchanged), and this says where and why.
struct SettingsProblem {
  std::string file;  // "ventari.def" or "ventari.pla"
  int line = 0;      // from 1
  std::string text;  // the line as read
  std::string what;  // "pas de tabulation", ...
  // "ventari.pla, ligne 9 : pas de tabulation (« 2 Bob,bob@x »)"
  std::string Message() const;
};
using SettingsProblems = std::vector<SettingsProblem>;

inline constexpr int kPlayerRows = 12;

struct GameSettings {
  std::string gameName;
  std::string webFolder;
  std::string hostAddress;
  std::int32_t reservedNumber = 0;
  bool autoGenerate = false;
  std::int32_t hoursToDeadline = 0;
  std::int32_t playerCount = 0;

  // Row n (1 to 12); raises ERangeError outside that range.
  PlayerEntry& player(int n);
  const PlayerEntry& player(int n) const;

 private:
  std::array<PlayerEntry, kPlayerRows> m_players;
};

// Opens `ventari.def` in the working folder and updates `settings` in place. False, changing
// nothing, when the file cannot be opened. Raises the conversion and I/O errors.
bool LoadHostSettings(HostSettings& settings, SettingsProblems* problems = nullptr);
// Opens repJeu + "\ventari.pla" and updates `settings` in place. False, changing nothing, when
// the file cannot be opened. Raises conversion, range and I/O errors.
bool LoadGameSettings(GameSettings& settings, const std::string& repJeu,
                      SettingsProblems* problems = nullptr);

// The two loads without the opening: read the lines from a file already open, or from text
// given to the reader, and update `settings` in place. Raise as the loads do.
// `problems`, when given, learns every line that has no tab, every player line without a
// comma, and the line of a value that does not convert (before its error is raised).
void ReadHostSettings(TextFileReader& file, HostSettings& settings,
                      SettingsProblems* problems = nullptr);
void ReadGameSettings(TextFileReader& file, GameSettings& settings,
                      SettingsProblems* problems = nullptr);

// Reads the next line as a settings line: the text after its first tab, or false when the line
// has no tab (the field keeps its value).
bool ReadSettingValue(TextFileReader& file, std::string& value);
// A player line: without a tab "???" and "COMPUTER"; else the rest split at its first comma.
PlayerEntry ParsePlayerLine(const std::string& line);

}  // namespace ventari
