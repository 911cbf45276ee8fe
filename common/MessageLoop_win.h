#pragma once
#include <windows.h>

namespace lumora {

// Runs the thread's message loop until WM_QUIT and returns its exit code.
// Windows marked WS_EX_CONTROLPARENT get dialog keyboard handling (Tab, Enter,
// Escape, access keys); all others, the slideshow above all, see every key.
int RunMessageLoop();

// Dialog keyboard handling for one message, as RunMessageLoop applies it.
bool TranslateDialogMessage(MSG& msg);

}  // namespace lumora
