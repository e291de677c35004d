#include "core/turn/pause.h"

#include <cerrno>
#include <cstring>

#include "core/game/game_checks.h"
#include "core/game/records.h"
#include "platform/errors.h"
#include "platform/files.h"

namespace ventari {

std::string PausePath(const std::string& gamesFolder) { return gamesFolder + "/ventari-pause.txt"; }

std::optional<std::string> ReadPause(const std::string& gamesFolder) {
  if (gamesFolder.empty()) return std::nullopt;
  TextFileReader file;
  if (!file.open(PausePath(gamesFolder))) return std::nullopt;
  return file.readLine();
}

void WritePause(const std::string& gamesFolder, const std::string& text) {
  // One line: a line break in the text would hide the rest from every reader.
  std::string line;
  for (char c : text) line += (c == '\r' || c == '\n') ? ' ' : c;
  ReplaceFileContents(PausePath(gamesFolder), line + "\n");
}

int PauseCommand(bool pause, const std::string& text, std::ostream& out, std::ostream& err) {
  ProgramRecords records;
  HostSettings& host = records.host;
  GameSettings& game = records.game;
  try {
    if (!LoadCommandSettings(host, game, err)) return 1;
    const std::string path = PausePath(host.repJeu);
    if (pause) {
      WritePause(host.repJeu, text);
      out << game.gameName << ": paused" << (text.empty() ? "" : " (" + text + ")")
          << "; no turn is generated but by \"génère\" until `ventari --resume`\n";
      return 0;
    }
    if (!FileExists(path)) {
      out << game.gameName << ": not paused\n";
      return 0;
    }
    if (!DeleteFileQuiet(path)) {
      err << "ventari: " << path << " not deleted: " << std::strerror(errno) << "\n";
      return 1;
    }
    out << game.gameName << ": resumed\n";
    return 0;
  } catch (const std::exception& error) {
    err << "ventari: " << error.what() << "\n";
    return 1;
  }
}

}  // namespace ventari
