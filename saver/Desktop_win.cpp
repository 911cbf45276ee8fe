#include "saver/Desktop_win.h"

namespace lumora {

void Desktop::Hide(HWND window) {
    window_ = window;
    // The user comes back to the window they left, not to the taskbar.
    previousForeground_ = ::GetForegroundWindow();
    ::ShowCursor(FALSE);
    oldImc_ = ::ImmAssociateContext(window_, nullptr);
    taskbars_.Hide();
}

void Desktop::GiveBack() {
    ::ShowCursor(TRUE);
    ::ImmAssociateContext(window_, oldImc_);
    taskbars_.ShowHidden();
    // Back to the window the user left, unless another has taken the
    // foreground from us meanwhile; whatever the system picks when that window
    // is gone, but never a taskbar because we showed it.
    if (::GetForegroundWindow() == window_ && previousForeground_ && ::IsWindow(previousForeground_))
        ::SetForegroundWindow(previousForeground_);
}

}  // namespace lumora
