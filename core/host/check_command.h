#pragma once
// `ventari --check`: what the robot sees, printed without generating or mailing anything, for
// the host to run after every change to his settings.

#include <ostream>

namespace ventari {

// Works in the current folder (where ventari.def is); needs a Qt application object for the one
// fetch of the league page. Exit status 0 when a turn could be generated, else 1 after the first
// problem.
int CheckCommand(std::ostream& out);

}  // namespace ventari
