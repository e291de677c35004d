#pragma once
// `ventari --restore YEAR`: puts the game's files back from one of its backups, from the command
// line and without a window. The current files are backed up first, and both caches go, so that
// the next start rebuilds the deadline and the year.

#include <ostream>
#include <string>

namespace ventari {

// Works in the current folder (where ventari.def is). Returns the exit status: 0 when restored,
// 1 with a message on `err` otherwise (an unknown year lists the backups there are).
int RestoreCommand(const std::string& year, std::ostream& out, std::ostream& err);

}  // namespace ventari
