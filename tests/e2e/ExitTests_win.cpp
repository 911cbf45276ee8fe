// However the slideshow ends, the desktop is whole afterwards: the process is
// gone, the taskbar is back and no window of it is left, a fault included.
#include "tools/driver/Lumora_win.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <optional>
#include <string>

namespace lumora::e2e {
namespace {

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
    // Picture 2 in a colour of its own, so that the tick's picture change can be seen.
    for (int n = 1; n <= 3; ++n)
        ASSERT_TRUE(
            WritePicture(folder.file(PictureName(n)), PictureFormat::Png, 320, 240, n == 2 ? 0xC08030 : 0x3080C0));
    const WayOut ways[] = {
        {"key", 0, [](const Process&, HWND) { PressKey('K'); }},
        {"click", 0, [](const Process&, HWND form) { ::PostMessageW(form, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(50, 50)); }},
        {"movement",
         0,
         [](const Process&, HWND form) {
             MoveOver(form, 100, 100);
             MoveOver(form, 200, 200);
         }},
        {"WM_CLOSE", 0, [](const Process&, HWND form) { ::PostMessageW(form, WM_CLOSE, 0, 0); }},
        {"WM_QUERYENDSESSION",
         0,
         [](const Process&, HWND form) { SendWithin(form, WM_QUERYENDSESSION, 0, ENDSESSION_LOGOFF); }},
        {"WM_ENDSESSION alone", 0, [](const Process&, HWND form) { SendWithin(form, WM_ENDSESSION, TRUE, 0); }},
        {"fault on a thread of the saver", static_cast<DWORD>(EXCEPTION_ACCESS_VIOLATION),
         [](const Process& p, HWND) { ASSERT_TRUE(p.Fault()); }},
        {"fault right after a picture change", static_cast<DWORD>(EXCEPTION_ACCESS_VIOLATION),
         [](const Process& p, HWND form) {
             Tick(form);
             ASSERT_TRUE(p.Fault());
         }},
    };
    std::optional<bool> hiddenSeen;
    for (const WayOut& way : ways) {
        SCOPED_TRACE(way.name);
        ASSERT_TRUE(WaitUntil(TaskbarVisible, 2000)) << "the desktop was not whole before this run";
        Slideshow s = StartSlideshow(folder);
        const Process& p = s.process;
        HWND form = s.form;
        ASSERT_TRUE(s.InFront());
        const Process helper = HelperOf(s);
        ASSERT_TRUE(helper.started());
        // Arms the first-move capture again, once its picture is on screen.
        Tick(form);
        ASSERT_TRUE(WaitForCentre(0xC08030));
        if (const auto showing = CursorShowing(); showing && ::GetForegroundWindow() == form) hiddenSeen = !*showing;
        ASSERT_TRUE(p.Running());

        way.act(p, form);

        EXPECT_EQ(p.ExitCodeWithin(5000), way.exitCode);
        EXPECT_TRUE(helper.WaitExit(1000)) << "the picture helper outlived the saver";
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

// A slideshow in `folder`, in front with the taskbar hidden.
Slideshow StartShow(const TestFolder& folder) {
    Slideshow s = StartSlideshow(folder);
    EXPECT_TRUE(s.InFront()) << "the show is not in front with the taskbar hidden";
    return s;
}

void ExpectEnded(const Slideshow& s) { EXPECT_EQ(s.process.ExitCodeWithin(5000), 0u); }

// The helper is ended with the saver however the saver ends, even in the
// middle of a decode and even when the saver is killed from outside, when
// nothing of the saver's own can run.
TEST(Exit, NoPictureHelperOutlivesTheSaver) {
    TestFolder folder(L"exit-helper");
    ASSERT_TRUE(WritePicture(folder.file(PictureName(1)), PictureFormat::Png, 320, 240, 0x3080C0));
    // Prepared ahead as soon as 1 shows: 48 megapixels keep the helper busy meanwhile.
    ASSERT_TRUE(WritePicture(folder.file(PictureName(2)), PictureFormat::Jpeg, 8000, 6000, Grainy(0x20C020)));
    HWND taskbar = Taskbar();
    struct ShowAgain {  // a killed saver cannot give the taskbar back
        HWND taskbar;
        ~ShowAgain() { ::ShowWindow(taskbar, SW_SHOWNA); }
    } showAgain{taskbar};
    const struct {
        const char* name;
        void (*end)(const Process& saver);
        DWORD exitCode;
    } ends[] = {
        {"a key while the helper decodes", [](const Process&) { PressKey('K'); }, 0},
        {"killed from outside", [](const Process& saver) { ::TerminateProcess(saver.handle(), 42); }, 42},
    };
    for (const auto& e : ends) {
        SCOPED_TRACE(e.name);
        ::ShowWindow(taskbar, SW_SHOWNA);
        Slideshow s = StartShow(folder);
        ASSERT_NE(s.form, nullptr);
        ASSERT_TRUE(WaitForCentre(0x3080C0));
        const Process helper = HelperOf(s);
        ASSERT_TRUE(helper.started());
        e.end(s.process);
        EXPECT_EQ(s.process.ExitCodeWithin(5000), e.exitCode);
        EXPECT_TRUE(helper.WaitExit(1000)) << "the picture helper outlived the saver";
    }
    // Ended the moment its window shows, the saver may be starting its helper
    // just then: one caught before its first instruction must go too.
    for (int round = 1; round <= 5; ++round) {
        SCOPED_TRACE(::testing::Message() << "closed at once, round " << round);
        Slideshow s = StartSlideshow(folder);
        ASSERT_NE(s.form, nullptr);
        ::PostMessageW(s.form, WM_CLOSE, 0, 0);
        EXPECT_EQ(s.process.ExitCodeWithin(5000), 0u);
        EXPECT_TRUE(WaitUntil([&] { return ChildProcessIds(s.process.pid()).empty(); }, 1000))
            << "a picture helper outlived the saver";
    }
}

TEST(Exit, NothingButAWayOutEndsTheShow) {
    TestFolder folder(L"exit-no-way-out");
    ASSERT_TRUE(WritePicture(folder.file(PictureName(1)), PictureFormat::Png, 320, 240, 0x3080C0));
    const struct {
        const char* name;
        UINT msg;
        WPARAM wp;
    } messages[] = {
        // Another program refused the log-off: the session goes on, and so does the show.
        {"cancelled session end", WM_ENDSESSION, FALSE},
        // The idle timer asking again must not start another saver over this one.
        {"screen-saver command", WM_SYSCOMMAND, SC_SCREENSAVE},
    };
    Slideshow s = StartShow(folder);
    ASSERT_NE(s.form, nullptr);
    for (const auto& m : messages) {
        // Handled at once: had it ended the show, the window would not have answered.
        EXPECT_TRUE(SendWithin(s.form, m.msg, m.wp, 0)) << m.name;
        EXPECT_TRUE(s.process.Running()) << m.name;
        EXPECT_EQ(::GetForegroundWindow(), s.form) << m.name;
        EXPECT_FALSE(TaskbarVisible()) << m.name;
    }
    ::PostMessageW(s.form, WM_CLOSE, 0, 0);
    ExpectEnded(s);
    EXPECT_TRUE(WaitUntil(TaskbarVisible, 2000));
}

// Regression: the taskbar was shown again by a call that also activated it, so
// after the show the user's keys went to the taskbar; and every taskbar was
// shown, hidden before the show or not. Regression: a taskbar that Explorer
// showed again during the show, or that came with a new monitor, stood over
// the show until it ended.
TEST(Exit, TheDesktopComesBackAsItWasFound) {
    TestFolder folder(L"exit-as-found");
    ASSERT_TRUE(WritePicture(folder.file(PictureName(1)), PictureFormat::Png, 320, 240, 0x3080C0));
    // A program in front, a taskbar on another monitor and one there that the user hid.
    OwnWindow front({.title = L"the program in front"});
    OwnWindow other({.className = L"Shell_SecondaryTrayWnd", .title = L"", .activate = false});
    OwnWindow hidden({.className = L"Shell_SecondaryTrayWnd", .title = L"", .visible = false, .activate = false});
    ASSERT_TRUE(WaitUntil([&] { return ::GetForegroundWindow() == front.hwnd(); }, 2000));

    Slideshow s = StartShow(folder);
    ASSERT_NE(s.form, nullptr);
    EXPECT_TRUE(WaitUntil([&] { return !::IsWindowVisible(other.hwnd()); }, 2000)) << "the other taskbar shows";
    // Explorer shows two taskbars again, and a monitor comes with one of its
    // own; the next tick hides all three.
    ::ShowWindow(Taskbar(), SW_SHOWNA);
    ::ShowWindow(other.hwnd(), SW_SHOWNA);
    OwnWindow added({.className = L"Shell_SecondaryTrayWnd", .title = L"", .activate = false});
    const auto shown = [&] { return std::array{TaskbarVisible(), ::IsWindowVisible(other.hwnd()) != FALSE,
                                               ::IsWindowVisible(added.hwnd()) != FALSE}; };
    ASSERT_TRUE(WaitUntil([&] { return shown() == std::array{true, true, true}; }, 2000));
    Tick(s.form);
    EXPECT_TRUE(WaitUntil([&] { return shown() == std::array{false, false, false}; }, 2000))
        << "a taskbar stays over the show";
    PressKey('K');
    ExpectEnded(s);
    EXPECT_TRUE(WaitUntil([&] { return ::GetForegroundWindow() == front.hwnd(); }, 2000))
        << "in front now: " << WideToUtf8(ClassName(::GetForegroundWindow()));
    EXPECT_TRUE(WaitUntil([&] { return shown() == std::array{true, true, true}; }, 2000));
    EXPECT_FALSE(::IsWindowVisible(hidden.hwnd())) << "a taskbar hidden before the show is shown after it";

    // The main taskbar, hidden by the user, stays hidden too.
    HWND taskbar = Taskbar();
    ::ShowWindow(taskbar, SW_HIDE);
    struct ShowAgain {
        HWND taskbar;
        ~ShowAgain() { ::ShowWindow(taskbar, SW_SHOWNA); }
    } showAgain{taskbar};
    Slideshow again = StartShow(folder);
    ::PostMessageW(again.form, WM_CLOSE, 0, 0);
    ExpectEnded(again);
    EXPECT_TRUE(SendWithin(taskbar, WM_NULL)) << "the taskbar has not handled what the show asked of it";
    EXPECT_FALSE(TaskbarVisible());
}

// As the platform's own screen-saver framework does: the user sees where the keys go.
TEST(Exit, AnotherProgramTakingTheForegroundEndsTheShow) {
    TestFolder folder(L"exit-foreground");
    ASSERT_TRUE(WritePicture(folder.file(PictureName(1)), PictureFormat::Png, 320, 240, 0x3080C0));
    OwnWindow before({.title = L"the program in front before the show"});
    ASSERT_TRUE(WaitUntil([&] { return ::GetForegroundWindow() == before.hwnd(); }, 2000));
    Slideshow s = StartShow(folder);
    ASSERT_NE(s.form, nullptr);
    OwnWindow other({.title = L"a program that came to the front"});
    ExpectEnded(s);
    // Shown again, the taskbar has done all the show asked of it.
    EXPECT_TRUE(WaitUntil(TaskbarVisible, 2000));
    EXPECT_EQ(::GetForegroundWindow(), other.hwnd()) << "the show took the foreground away from it";
}

// Taskbars belong to Explorer: one that hangs must not hang the show, and a
// new one (Explorer started again) is hidden too.
TEST(Exit, HungOrNewTaskbarsNeitherHoldUpTheShowNorStayInView) {
    TestFolder folder(L"exit-taskbars");
    ASSERT_TRUE(WritePicture(folder.file(PictureName(1)), PictureFormat::Png, 320, 240, 0x3080C0));
    std::optional<OwnWindow> hung(
        OwnWindow::Options{.className = L"Shell_SecondaryTrayWnd", .title = L"", .activate = false, .hung = true});
    Slideshow s = StartShow(folder);
    ASSERT_NE(s.form, nullptr);
    EXPECT_TRUE(WaitForCentre(0x3080C0)) << "the show is held up by a hung taskbar";
    DWORD_PTR ignored = 0;
    EXPECT_NE(::SendMessageTimeoutW(s.form, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, 1000, &ignored), 0);

    OwnWindow reborn({.className = L"Shell_TrayWnd", .title = L"", .activate = false});
    SendWithin(s.form, ::RegisterWindowMessageW(L"TaskbarCreated"), 0, 0);
    EXPECT_TRUE(WaitUntil([&] { return !::IsWindowVisible(reborn.hwnd()); }, 2000)) << "the new taskbar shows";
    EXPECT_TRUE(s.process.Running());
    PressKey('K');
    ExpectEnded(s);
    EXPECT_TRUE(WaitUntil([&] { return ::IsWindowVisible(reborn.hwnd()) && TaskbarVisible(); }, 2000));
    hung.reset();  // answers again, and takes the queued hide and show in turn
}

}  // namespace
}  // namespace lumora::e2e
