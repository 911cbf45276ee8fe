#pragma once
// Last chance to give the desktop back: the slideshow hides the taskbar and
// the pointer, and a fault that kills the process must not leave them hidden.
#include "saver/Desktop_win.h"

namespace lumora {

// Gives `desktop` back once, on its window's thread's input state, when an
// unhandled fault or std::terminate is about to end the process; the process
// then ends quietly with the fault's code. Installing again replaces it.
void InstallLastChance(Desktop& desktop);

// Whoever ends the process takes the desktop over: a later fault gives back
// nothing. False only when a fault has taken it already: the process is then
// ending with the fault's code, and the caller leaves it to that.
bool DisarmLastChance();

}  // namespace lumora
