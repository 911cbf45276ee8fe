// However the slideshow ends, the desktop is whole afterwards: the process is
// gone, the taskbar is back and no window of it is left, a fault included.
#include "saver/PictureCycle.h"
#include "tests/e2e/Driver_win.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

namespace lumora::e2e {
namespace {

constexpr wchar_t kCaption[] = L"Form1";
constexpr UINT_PTR kTimer1Id = 1;

std::wstring PictureName(int n) { return PictureFileName(L"", static_cast<std::int16_t>(n)).substr(1); }

void Tick(HWND form) { ::SendMessageW(form, WM_TIMER, kTimer1Id, 0); }

LRESULT SendWithin(HWND form, UINT msg, WPARAM wp, LPARAM lp) {
    DWORD_PTR result = 0;
    ::SendMessageTimeoutW(form, msg, wp, lp, SMTO_ABORTIFHUNG, 2000, &result);
    return static_cast<LRESULT>(result);
}

// A fault on a thread of the saver's own: a thread that starts at address 0
// dies of an access violation inside the saver process, where only the
// process's unhandled-exception filter sees it. Nothing in the saver has to
// offer a way to crash it.
bool FaultInside(const Process& p) {
    HANDLE thread = ::CreateRemoteThread(p.handle(), nullptr, 0, nullptr, nullptr, 0, nullptr);
    if (!thread) return false;
    ::CloseHandle(thread);
    return true;
}

// Under Wine GetCursorInfo reports the display count of the foreground
// thread's input state, so the saver's hidden pointer shows while it is in
// front. Another process can never see that count once the saver has gone.
std::optional<bool> CursorShowing() {
    CURSORINFO info{};
    info.cbSize = sizeof(info);
    if (!::GetCursorInfo(&info)) return std::nullopt;
    return (info.flags & CURSOR_SHOWING) != 0;
}

struct WayOut {
    const char* name;
    DWORD exitCode;
    void (*act)(const Process& p, HWND form);
};

TEST(Exit, EveryWayOutLeavesTheDesktopWhole) {
    TestFolder folder(L"exit-ways");
    for (int n = 1; n <= 3; ++n)
        ASSERT_TRUE(WritePicture(folder.file(PictureName(n)), PictureFormat::Png, 320, 240, 0x3080C0));
    const WayOut ways[] = {
        {"key", 0, [](const Process&, HWND) { PressKey('K'); }},
        {"click", 0, [](const Process&, HWND form) { ::PostMessageW(form, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(50, 50)); }},
        {"movement",
         0,
         [](const Process&, HWND form) {
             SendWithin(form, WM_MOUSEMOVE, 0, MAKELPARAM(100, 100));
             SendWithin(form, WM_MOUSEMOVE, 0, MAKELPARAM(200, 200));
         }},
        {"WM_CLOSE", 0, [](const Process&, HWND form) { ::PostMessageW(form, WM_CLOSE, 0, 0); }},
        {"WM_QUERYENDSESSION",
         0,
         [](const Process&, HWND form) { SendWithin(form, WM_QUERYENDSESSION, 0, ENDSESSION_LOGOFF); }},
        {"WM_ENDSESSION alone", 0, [](const Process&, HWND form) { SendWithin(form, WM_ENDSESSION, TRUE, 0); }},
        {"fault on a thread of the saver", static_cast<DWORD>(EXCEPTION_ACCESS_VIOLATION),
         [](const Process& p, HWND) { ASSERT_TRUE(FaultInside(p)); }},
        {"fault right after a picture change", static_cast<DWORD>(EXCEPTION_ACCESS_VIOLATION),
         [](const Process& p, HWND form) {
             Tick(form);
             ASSERT_TRUE(FaultInside(p));
         }},
    };
    std::optional<bool> hiddenSeen;
    for (const WayOut& way : ways) {
        SCOPED_TRACE(way.name);
        ASSERT_TRUE(WaitUntil(TaskbarVisible, 2000)) << "the desktop was not whole before this run";
        Process p = Process::Start(folder.scr(), L"/s");
        HWND form = WaitForWindow(p.pid(), kCaption, 10000);
        ASSERT_NE(form, nullptr);
        ASSERT_TRUE(WaitUntil([] { return !TaskbarVisible(); }, 2000));
        ::SetForegroundWindow(form);
        ::Sleep(150);  // the movement reported as the window appeared has come
        Tick(form);    // arms the first-move capture again
        if (const auto showing = CursorShowing(); showing && ::GetForegroundWindow() == form) hiddenSeen = !*showing;
        ASSERT_TRUE(p.Running());

        way.act(p, form);

        EXPECT_TRUE(p.WaitExit(5000)) << "still running";
        EXPECT_EQ(p.ExitCode().value_or(1234), way.exitCode);
        EXPECT_TRUE(WaitUntil(TaskbarVisible, 2000)) << "taskbar left hidden";
        EXPECT_TRUE(TopWindowsOf(p.pid(), false).empty()) << "a window outlived the process";
        EXPECT_FALSE(::IsWindow(form));
    }
    if (hiddenSeen) {
        std::printf("[ FIGURES  ] pointer hidden while the saver was in front: %s\n", *hiddenSeen ? "yes" : "no");
        EXPECT_TRUE(*hiddenSeen);
    }
    std::printf("[ FIGURES  ] the pointer's display count after the saver has gone belongs to no thread "
                "another process can query; not checked\n");
    std::fflush(stdout);
}

TEST(Exit, CancelledSessionEndKeepsTheSlideshowRunning) {
    TestFolder folder(L"exit-cancelled");
    ASSERT_TRUE(WritePicture(folder.file(PictureName(1)), PictureFormat::Png, 320, 240, 0x3080C0));
    Process p = Process::Start(folder.scr(), L"/s");
    HWND form = WaitForWindow(p.pid(), kCaption, 10000);
    ASSERT_NE(form, nullptr);
    // Another program refused the log-off: the session goes on, and so does the saver.
    SendWithin(form, WM_ENDSESSION, FALSE, 0);
    ::Sleep(300);
    EXPECT_TRUE(p.Running());
    EXPECT_FALSE(TaskbarVisible());
    ::PostMessageW(form, WM_CLOSE, 0, 0);
    EXPECT_TRUE(p.WaitExit(5000));
    EXPECT_TRUE(WaitUntil(TaskbarVisible, 2000));
}

}  // namespace
}  // namespace lumora::e2e
