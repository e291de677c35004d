#pragma once
// The past turns on the players' page: a JSON array for programs, a table and a plain SVG strip
// of when orders arrived against each deadline for people (no script).

#include <string>
#include <vector>

#include "core/turn/turn_history.h"

namespace ventari {

struct StatusPlayer;

// The players name the rows; a row no longer among them is "joueur N".
std::string HistoryJson(const std::vector<PastTurn>& turns,
                        const std::vector<StatusPlayer>& players);
// Nothing when no turn has been played yet.
std::string HistoryHtml(const std::vector<PastTurn>& turns,
                        const std::vector<StatusPlayer>& players);

}  // namespace ventari
