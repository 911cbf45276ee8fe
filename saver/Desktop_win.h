#pragma once
// What the slideshow takes from the desktop and gives back at the end: the
// pointer, the input method of its window, the taskbars and the foreground.
#include "saver/Taskbars_win.h"

#include <windows.h>
#include <imm.h>

namespace lumora {

class Desktop {
public:
    // At load: remembers the window in front, hides the pointer, detaches the
    // input method from `window` and hides the taskbars.
    void Hide(HWND window);
    // On every tick and when Explorer starts again: a taskbar that shows is
    // hidden again.
    void HideTaskbarsAgain() { taskbars_.HideAgain(); }
    // Everything back as it was found, on the window's thread's input state:
    // called once, at the end or by a fault's last chance.
    void GiveBack();
    // The window whose thread took the desktop.
    HWND window() const { return window_; }

private:
    HWND window_ = nullptr;
    HIMC oldImc_ = nullptr;
    HWND previousForeground_ = nullptr;
    Taskbars taskbars_;
};

}  // namespace lumora
