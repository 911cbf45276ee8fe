#include "saver/Taskbars_win.h"

#include <algorithm>

namespace lumora {
namespace {

// Asynchronous, so that a hung Explorer cannot hang the slideshow, and never
// activating, so that the taskbar takes neither the foreground nor the keys.
constexpr UINT kQuietly = SWP_NOACTIVATE | SWP_NOMOVE | SWP_NOSIZE | SWP_NOZORDER | SWP_ASYNCWINDOWPOS;

template <typename Each>
void ForEachTaskbar(Each each) {
    for (const char* cls : {"Shell_traywnd", "Shell_SecondaryTrayWnd"})
        for (HWND bar = ::FindWindowExA(nullptr, nullptr, cls, ""); bar; bar = ::FindWindowExA(nullptr, bar, cls, ""))
            each(bar);
}

}  // namespace

HWND Taskbars::Hide() {
    ForEachTaskbar([this](HWND bar) {
        // One the user hid is none of ours to show later.
        if (!::IsWindowVisible(bar) || std::find(hidden_.begin(), hidden_.end(), bar) != hidden_.end()) return;
        ::SetWindowPos(bar, nullptr, 0, 0, 0, 0, SWP_HIDEWINDOW | kQuietly);
        hidden_.push_back(bar);
    });
    return ::FindWindowA("Shell_traywnd", "");
}

void Taskbars::ShowHidden() {
    for (HWND bar : hidden_)
        if (::IsWindow(bar)) ::SetWindowPos(bar, nullptr, 0, 0, 0, 0, SWP_SHOWWINDOW | kQuietly);
    hidden_.clear();
}

}  // namespace lumora
