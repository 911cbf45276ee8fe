#pragma once
// Last chance to give the desktop back: the slideshow hides the taskbar and
// the pointer, and a fault that kills the process must not leave them hidden.
#include <windows.h>

namespace lumora {

using RestoreSteps = void (*)(void* context);

// Runs `restore` once, on the window's thread's input state, when an
// unhandled fault or std::terminate is about to end the process; the process
// then ends quietly with the fault's code. `window` is the window whose
// thread did the hiding. Installing again replaces the steps.
void InstallLastChance(HWND window, RestoreSteps restore, void* context);

// Whoever ends the process takes the steps over: a later fault restores
// nothing. False only when a fault has taken them already: the process is
// then ending with the fault's code, and the caller leaves it to that.
bool DisarmLastChance();

}  // namespace lumora
