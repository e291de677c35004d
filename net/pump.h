#pragma once
// One pump step: a 2 ms sleep, then every pending event of the application is dispatched.
// Every wait of the socket layer is made of such steps, so the window stays alive meanwhile.

namespace ventari {

void PumpStep();

}  // namespace ventari
