// Several monitors: the slideshow stays on the main one and every other
// monitor gets a black cover that ends the show on input just as the
// slideshow window does. Runs on two monitors side by side (see CMakeLists).
#include "tools/driver/Lumora_win.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace lumora::e2e {
namespace {

std::vector<RECT> Monitors() {
    std::vector<RECT> found;
    ::EnumDisplayMonitors(
        nullptr, nullptr,
        [](HMONITOR monitor, HDC, LPRECT, LPARAM lp) -> BOOL {
            MONITORINFO info{};
            info.cbSize = sizeof(info);
            if (::GetMonitorInfoW(monitor, &info) && !(info.dwFlags & MONITORINFOF_PRIMARY))
                reinterpret_cast<std::vector<RECT>*>(lp)->push_back(info.rcMonitor);
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&found));
    return found;  // the monitors besides the main one
}

// A slideshow with its cover over the second monitor.
struct Show {
    Slideshow slideshow;
    HWND cover = nullptr;
};

Show StartShow(const TestFolder& folder) {
    Show s{StartSlideshow(folder)};
    if (s.slideshow.form) s.cover = WaitForCover(s.slideshow);
    return s;
}

void ExpectEnded(const Show& s, const char* how) { EXPECT_EQ(s.slideshow.process.ExitCodeWithin(5000), 0u) << how; }

// Pictures 1 and 2: a picture change shows.
constexpr std::uint32_t kColours[] = {0x20C040, 0xC04020};

class Monitor : public ::testing::Test {
protected:
    void SetUp() override {
        // Wine lists the monitors its desktop process has read from X, which
        // may start after this program: until then it lists the last session's.
        WaitUntil([&] { return (others_ = Monitors()).size() == 1; }, 5000);
        // A skip would count as a pass in ctest.
        ASSERT_EQ(others_.size(), 1u) << "needs exactly two monitors, has " << others_.size() + 1
                                      << ": run it through ctest (e2e.monitors) or wine-session.sh run STATE "
                                         "dual:WxH+WxH LumoraDriver.exe --gtest_filter=Monitor.*";
        for (int n = 1; n <= 2; ++n)
            ASSERT_TRUE(WritePicture(folder_.file(PictureName(n)), PictureFormat::Png, 200, 100, kColours[n - 1]));
    }
    TestFolder folder_{L"monitors"};
    std::vector<RECT> others_;
};

TEST_F(Monitor, SecondMonitorGetsABlackTopmostCoverAndTheSlideshowStaysOnTheMain) {
    Show s = StartShow(folder_);
    ASSERT_NE(s.slideshow.form, nullptr);
    ASSERT_NE(s.cover, nullptr) << "no second window over the second monitor";
    EXPECT_EQ(TopWindowsOf(s.slideshow.process.pid()).size(), 2u) << "one cover per other monitor, nothing more";

    RECT form{}, cover{};
    ::GetWindowRect(s.slideshow.form, &form);
    ::GetWindowRect(s.cover, &cover);
    EXPECT_EQ(form.left, 0);
    EXPECT_EQ(form.top, 0);
    EXPECT_EQ(form.right, ::GetSystemMetrics(SM_CXSCREEN));
    EXPECT_EQ(form.bottom, ::GetSystemMetrics(SM_CYSCREEN));
    const RECT& second = others_[0];
    EXPECT_EQ(cover.left, second.left);
    EXPECT_EQ(cover.top, second.top);
    EXPECT_EQ(cover.right, second.right);
    EXPECT_EQ(cover.bottom, second.bottom);

    const LONG_PTR style = ::GetWindowLongPtrW(s.cover, GWL_STYLE);
    const LONG_PTR exStyle = ::GetWindowLongPtrW(s.cover, GWL_EXSTYLE);
    EXPECT_FALSE(style & (WS_CAPTION | WS_THICKFRAME));
    EXPECT_TRUE(exStyle & WS_EX_TOPMOST);
    EXPECT_TRUE(exStyle & WS_EX_TOOLWINDOW) << "a tool window has no taskbar button";
    EXPECT_FALSE(exStyle & WS_EX_APPWINDOW);
    EXPECT_EQ(::GetWindow(s.cover, GW_OWNER), nullptr);
    EXPECT_EQ(::WindowFromPoint({(second.left + second.right) / 2, (second.top + second.bottom) / 2}), s.cover);

    // A forced tick keeps both on top.
    Tick(s.slideshow.form);
    EXPECT_TRUE(::GetWindowLongPtrW(s.cover, GWL_EXSTYLE) & WS_EX_TOPMOST);

    // Black across the second monitor; the picture on the main one.
    Image shot;
    const int ox = ::GetSystemMetrics(SM_XVIRTUALSCREEN), oy = ::GetSystemMetrics(SM_YVIRTUALSCREEN);
    const auto blackOnSecond = [&] {
        for (LONG y = second.top; y < second.bottom; y += 7)
            for (LONG x = second.left; x < second.right; x += 7)
                if (!NearColour(shot.At(x - ox, y - oy), 0x000000, 8)) return false;
        return true;
    };
    // The tick's picture, 2, on the main monitor.
    const auto pictureOnMain = [&] { return NearColour(shot.At(form.right / 2 - ox, form.bottom / 2 - oy), kColours[1]); };
    EXPECT_TRUE(WaitUntil(
        [&] {
            shot = CaptureVirtualScreen();
            return blackOnSecond() && pictureOnMain();
        },
        2000, 100));
    EXPECT_TRUE(blackOnSecond());
    EXPECT_TRUE(pictureOnMain()) << "the picture on the main monitor";
    shot.Save(OutDir() + L"\\monitors-two.png");

    ::PostMessageW(s.slideshow.form, WM_CLOSE, 0, 0);
    ExpectEnded(s, "WM_CLOSE");
}

TEST_F(Monitor, KeysAndButtonsOnTheCoverEndTheShow) {
    const struct {
        const char* name;
        UINT msg;
        WPARAM wp;
    } inputs[] = {
        {"key", WM_KEYDOWN, 'A'},
        {"system key", WM_SYSKEYDOWN, VK_MENU},
        {"left button", WM_LBUTTONDOWN, MK_LBUTTON},
        {"right button", WM_RBUTTONDOWN, MK_RBUTTON},
    };
    for (const auto& input : inputs) {
        SCOPED_TRACE(input.name);
        Show s = StartShow(folder_);
        ASSERT_NE(s.cover, nullptr);
        ASSERT_TRUE(s.slideshow.process.Running());
        ::PostMessageW(s.cover, input.msg, input.wp, MAKELPARAM(20, 20));
        ExpectEnded(s, input.name);
    }
}

TEST_F(Monitor, MovementOnTheCoverIsMeasuredInTheSlideshowsFrame) {
    // Where the reference is taken, so the movement the windows get as they
    // appear over the pointer comes from there too.
    const RECT& second = others_[0];
    ASSERT_TRUE(ParkPointer(second.left + 100, second.top + 100));
    Show s = StartShow(folder_);
    ASSERT_NE(s.slideshow.form, nullptr);
    ASSERT_NE(s.cover, nullptr);
    // A picture change arms the first-move capture: the next movement, on
    // the cover, records the reference.
    Tick(s.slideshow.form);
    ASSERT_TRUE(WaitForCentre(kColours[1]));
    ASSERT_TRUE(MoveOver(s.cover, 100, 100));
    for (const POINT p : {POINT{103, 103}, POINT{95, 95}, POINT{400, 102}, POINT{102, 400}})
        ASSERT_TRUE(MoveOver(s.cover, p.x, p.y)) << "ended by a move to " << p.x << "," << p.y << " on the cover";
    // Back on the slideshow window at the same screen point: still close to the reference.
    ASSERT_TRUE(MoveOver(s.slideshow.form, second.left + 104, second.top + 104))
        << "the cover's and the slideshow's positions are not in one frame";
    MoveOver(s.cover, 160, 160);
    ExpectEnded(s, "large movement on the cover");
}

}  // namespace
}  // namespace lumora::e2e
