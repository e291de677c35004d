#pragma once
// The program's icon: the logo of the about box, on both windows.

#include <QIcon>

namespace ventari {

// Empty when the built-in logo cannot be decoded.
QIcon ProgramIcon();

}  // namespace ventari
