#pragma once
// The taskbars the slideshow hides, and gives back exactly as it found them.
#include <windows.h>

#include <atomic>
#include <cstddef>
#include <vector>

namespace lumora {

class Taskbars {
public:
    // At load: hides every visible taskbar, the main one (class
    // Shell_traywnd; only one with an empty title matches, as the name asked
    // for is "" and not null) and each other monitor's. Those already hidden
    // are the user's: they stay hidden, now and after the show.
    void Hide();
    // During the show: hides any taskbar that shows, one Explorer showed
    // again or a new one (Explorer started again, a monitor came).
    void HideAgain();
    // Shows again every taskbar the show hid, and no other. Safe on another
    // thread while the window's thread may still be in HideAgain.
    void ShowHidden();

private:
    bool Hid(HWND bar) const;

    std::vector<HWND> foundHidden_;  // the window's thread only
    // Fixed room, so that a fault's last chance on another thread can read
    // it while the window's thread adds to it: a slot is written before the
    // count that covers it.
    static constexpr std::size_t kRoom = 64;
    HWND hidden_[kRoom] = {};
    std::atomic<std::size_t> hiddenCount_{0};
};

}  // namespace lumora
