#pragma once
// A game held by its host: while `<game folder>/ventari-pause.txt` exists, no tick generates a
// turn and no reminder goes out; the host's own "génère" still generates. The file's first line
// is the host's reason. `ventari --pause` and `--resume` only write or delete that file, so that
// they work beside a running robot, which sees it at its next look.

#include <optional>
#include <ostream>
#include <string>

namespace ventari {

std::string PausePath(const std::string& gamesFolder);

// The pause's text ("" when it gives none); nothing when the game is not paused.
std::optional<std::string> ReadPause(const std::string& gamesFolder);

// Pauses the game with `text`, replacing the file whole; raises EInOutError.
void WritePause(const std::string& gamesFolder, const std::string& text);

// `ventari --pause [TEXT]` (pause) or `ventari --resume`, in the current folder (where
// ventari.def is). Returns the exit status: 0 when done, 1 with a message on `err`.
int PauseCommand(bool pause, const std::string& text, std::ostream& out, std::ostream& err);

}  // namespace ventari
