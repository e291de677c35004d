#pragma once
// What the robot refuses to act on, whatever the settings files say: every folder and file name
// of the game is built from its name, and every loop over the players from their count.

#include <ostream>
#include <string>

namespace ventari {

struct GameSettings;
struct HostSettings;

// Raises ERangeError for a player count below 0 or above 12, Exception for a game name that
// would lead outside the game's folders (empty, "." or "..", with "/" or "\", or with a control
// character), and Exception naming the file and line of a player row that could not be read or
// of a human row without a plain address.
void CheckGameSettings(const GameSettings& game);

// A folder named in a settings file, relative to the folder the robot works in: the robot
// changes into the game's folder to run the game, and the name must still mean the same folder.
std::string AbsoluteFolder(const std::string& folder, const std::string& workingFolder);
// The binaries, publication and game folders of the host settings, each made absolute.
void MakeFoldersAbsolute(HostSettings& host, const std::string& workingFolder);

// For a command run from the command line in the working folder: both settings files read, the
// folders made absolute. False, with the line said on `err`, when a file is missing.
bool LoadCommandSettings(HostSettings& host, GameSettings& game, std::ostream& err);

}  // namespace ventari
