#pragma once
#include <windows.h>

namespace lumora {

// Runs the thread's message loop until WM_QUIT and returns its exit code.
// Windows marked WS_EX_CONTROLPARENT get dialog keyboard handling (Tab, Enter,
// Escape, access keys); all others, the slideshow above all, see every key.
int RunMessageLoop();

// Dialog keyboard handling for one message, as RunMessageLoop applies it.
bool TranslateDialogMessage(MSG& msg);

// Ends the program at once, as every window does when it is done: no unload
// handler runs and no thread, the picture worker in the middle of a decode
// included, is waited for. Nothing is left to flush, since nothing is written.
[[noreturn]] void EndProgram();

}  // namespace lumora
