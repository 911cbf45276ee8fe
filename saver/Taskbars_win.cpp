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

void Taskbars::Hide() {
    ForEachTaskbar([this](HWND bar) {
        if (!::IsWindowVisible(bar)) foundHidden_.push_back(bar);
    });
    HideAgain();
}

void Taskbars::HideAgain() {
    ForEachTaskbar([this](HWND bar) {
        if (!::IsWindowVisible(bar)) return;
        // One the user had hidden goes again, and stays hidden after the show.
        const bool users = std::find(foundHidden_.begin(), foundHidden_.end(), bar) != foundHidden_.end();
        if (!users && !Hid(bar)) {
            const std::size_t n = hiddenCount_.load();
            // One that could not be given back later stays in view.
            if (n == kRoom) return;
            hidden_[n] = bar;
            hiddenCount_.store(n + 1);
        }
        ::SetWindowPos(bar, nullptr, 0, 0, 0, 0, SWP_HIDEWINDOW | kQuietly);
    });
}

void Taskbars::ShowHidden() {
    const std::size_t n = hiddenCount_.exchange(0);
    for (std::size_t i = 0; i < n; ++i)
        if (::IsWindow(hidden_[i])) ::SetWindowPos(hidden_[i], nullptr, 0, 0, 0, 0, SWP_SHOWWINDOW | kQuietly);
}

bool Taskbars::Hid(HWND bar) const {
    const std::size_t n = hiddenCount_.load();
    return std::find(hidden_, hidden_ + n, bar) != hidden_ + n;
}

}  // namespace lumora
