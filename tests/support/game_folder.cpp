#include "tests/support/game_folder.h"

#include <sys/stat.h>

namespace ventari::test {

GameFolder::GameFolder() {
  ::mkdir(binDir().c_str(), 0777);
  ::mkdir(gameRoot().c_str(), 0777);
}

void GameFolder::WriteHostSettings(const std::string& executableName) {
  WriteFile(root() + "/ventari.def", "bin\t" + binDir() + "\r\nexe\t" + executableName +
                                         "\r\npub\t" + pubDir() + "\r\njeu\t" + gameRoot() +
                                         "\r\n");
  // A program that starts: the refresh checks that the game executable would.
  WriteFile(binDir() + "/stars.exe", "#!/bin/sh\nexit 0\n");
  MakeExecutable(binDir() + "/stars.exe");
}

void GameFolder::WriteGameSettings(const std::vector<PlayerLine>& players, bool autoGenerate,
                                   int hours) {
  std::string content = "nom\t" + game + "\r\nweb\t" + webFolder + "\r\nhote\t" + hostAddress +
                        "\r\nres\t0\r\nauto\t" + (autoGenerate ? "1" : "0") + "\r\nheures\t" +
                        std::to_string(hours) + "\r\nnb\t" + std::to_string(players.size()) +
                        "\r\n";
  int n = 1;
  for (const PlayerLine& player : players)
    content += "J" + std::to_string(n++) + "\t" + player.name + "," + player.address + "\r\n";
  WriteFile(gameRoot() + "/ventari.pla", content);
}

void GameFolder::WriteDeadlineCache(const std::string& firstLine) {
  ::mkdir(gameDir().c_str(), 0777);
  WriteFile(gameDir() + "/nextdl.txt", firstLine + "\r\n");
}

void GameFolder::WriteYearCache(const std::string& firstLine) {
  ::mkdir(gameDir().c_str(), 0777);
  WriteFile(gameDir() + "/curyear.txt", firstLine + "\r\n");
}

void GameFolder::WriteGame(const std::vector<PlayerLine>& players, const std::string& deadline,
                           const std::string& year) {
  WriteHostSettings();
  WriteGameSettings(players);
  WriteDeadlineCache(deadline);
  WriteYearCache(year);
}

void RecordingView::SetLine(WindowLine line, const std::string& text) {
  lines.emplace_back(line, text);
}

std::string RecordingView::line(WindowLine which) const {
  for (auto it = lines.rbegin(); it != lines.rend(); ++it)
    if (it->first == which) return it->second;
  return "<never written>";
}

}  // namespace ventari::test
