#pragma once
// The robot without a window, for a machine without a display: the same refresh, ticks,
// generations, fetches and mails, with every box written to the event log and answered as its
// only button would be, and the window's lines logged when they change.

namespace ventari {

// Runs until the robot ends: the exit status (1 after a box that ends it, 0 on TERM or INT).
int RunHeadless(int argc, char** argv);

}  // namespace ventari
