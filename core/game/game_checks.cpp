#include "core/game/game_checks.h"

#include <algorithm>

#include "core/game/settings.h"
#include "mail/mail_message.h"
#include "platform/errors.h"
#include "platform/files.h"

namespace ventari {

namespace {

bool IsControl(char c) {
  const auto byte = static_cast<unsigned char>(c);
  return byte < 0x20 || byte == 0x7F;
}

// The name as the message shows it: control characters as "?".
std::string Shown(std::string name) {
  for (char& c : name)
    if (IsControl(c)) c = '?';
  return name;
}

}  // namespace

void CheckGameSettings(const GameSettings& game) {
  if (game.playerCount < 0 || game.playerCount > kPlayerRows) throw ERangeError();
  const std::string& name = game.gameName;
  const bool valid = !name.empty() && name != "." && name != ".." &&
                     name.find_first_of("/\\") == std::string::npos &&
                     std::none_of(name.begin(), name.end(), IsControl);
  if (!valid) throw Exception("'" + Shown(name) + "' is not a valid game name");
  // The host's reports and failure notices go there.
  if (!IsPlainAddress(game.hostAddress))
    throw Exception("ventari.pla, ligne 3 : l'adresse de l'hôte n'est pas une adresse (« " +
                    game.hostAddress + " »)");
  // A row that could not be read (a space for the tab) would read as a computer's: the turn
  // would be generated without its player. A human row nobody could mail: his turn would be
  // generated and never sent.
  for (int n = 1; n <= game.playerCount; ++n) {
    const PlayerEntry& player = game.player(n);
    if (!player.problem.empty()) throw Exception(player.problem);
    if (player.isComputer() || IsPlainAddress(player.address)) continue;
    throw Exception("ventari.pla, ligne " + std::to_string(player.line) +
                    " : l'adresse du joueur " + std::to_string(n) + " (" + player.name +
                    ") n'est pas une adresse (« " + player.address + " »)");
  }
}

std::string AbsoluteFolder(const std::string& folder, const std::string& workingFolder) {
  if (folder.empty() || folder[0] == '/' || folder[0] == '\\') return folder;
  return workingFolder + "/" + folder;
}

void MakeFoldersAbsolute(HostSettings& host, const std::string& workingFolder) {
  for (std::string* folder : {&host.binariesDir, &host.publicationDir, &host.repJeu})
    *folder = AbsoluteFolder(*folder, workingFolder);
}

bool LoadCommandSettings(HostSettings& host, GameSettings& game, std::ostream& err) {
  if (!LoadHostSettings(host)) {
    err << "ventari: config file not found: ventari.def in " << GetCurrentDir() << "\n";
    return false;
  }
  MakeFoldersAbsolute(host, GetCurrentDir());
  if (!LoadGameSettings(game, host.repJeu)) {
    err << "ventari: config file not found: " << host.repJeu << "/ventari.pla\n";
    return false;
  }
  return true;
}

}  // namespace ventari
