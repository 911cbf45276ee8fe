// Start-up as the desktop drives it: preview, password, single instance.
#include "startup/Switch.h"
#include "tests/e2e/Driver_win.h"

#include <gtest/gtest.h>

namespace lumora::e2e {
namespace {

constexpr wchar_t kTitle[] = L"Lumora";

// The message box of the password switch: its static texts and buttons.
struct MessageBoxContents {
    std::vector<std::wstring> texts;
    std::vector<std::wstring> buttons;
    bool hasIcon = false;
};

MessageBoxContents ReadMessageBox(HWND box) {
    MessageBoxContents c;
    for (HWND child : ChildWindows(box)) {
        const std::wstring cls = ClassName(child);
        if (cls == L"Button") {
            c.buttons.push_back(WindowText(child));
        } else if (cls == L"Static") {
            if ((::GetWindowLongPtrW(child, GWL_STYLE) & SS_TYPEMASK) == SS_ICON) {
                c.hasIcon = c.hasIcon || ::SendMessageW(child, STM_GETICON, 0, 0) != 0;
            } else if (!WindowText(child).empty()) {
                c.texts.push_back(WindowText(child));
            }
        }
    }
    return c;
}

TEST(Startup, PreviewEndsAtOnceWithoutAWindow) {
    TestFolder folder(L"startup-preview");
    for (const wchar_t* args : {L"/p 1234", L"/P 99", L"/p"}) {
        Process saver = Process::Start(folder.scr(), args);
        ASSERT_TRUE(saver.started());
        bool sawWindow = false;
        const bool ended = WaitUntil(
            [&] {
                sawWindow = sawWindow || !TopWindowsOf(saver.pid()).empty();
                return !saver.Running();
            },
            5000, 10);
        EXPECT_TRUE(ended) << "still running after " << WideToUtf8(args);
        EXPECT_FALSE(sawWindow) << WideToUtf8(args);
        EXPECT_EQ(saver.ExitCode().value_or(1234), 0u);
    }
}

TEST(Startup, PasswordSwitchShowsTheMessageAndEndsWhenClosed) {
    TestFolder folder(L"startup-password");
    for (const wchar_t* args : {L"/a", L"/A 9"}) {
        Process saver = Process::Start(folder.scr(), args);
        HWND box = WaitForWindow(saver.pid(), kTitle);
        ASSERT_NE(box, nullptr) << "no message box for " << WideToUtf8(args);
        EXPECT_EQ(ClassName(box), L"#32770");
        const MessageBoxContents c = ReadMessageBox(box);
        ASSERT_EQ(c.texts.size(), 1u);
        EXPECT_EQ(c.texts[0], kPasswordMessage);
        EXPECT_EQ(c.buttons, std::vector<std::wstring>{L"OK"});
        EXPECT_FALSE(c.hasIcon);
        EXPECT_TRUE(saver.Running()) << "must wait for the box to be closed";

        ::PostMessageW(box, WM_COMMAND, IDOK, 0);
        EXPECT_TRUE(saver.WaitExit(5000));
        EXPECT_TRUE(TopWindowsOf(saver.pid()).empty());
    }
}

TEST(Startup, ASecondCopyEndsAtOnceWhateverItsSwitch) {
    TestFolder folder(L"startup-second copy with a long name");
    // The first copy holds its message box open, so it stays alive meanwhile.
    Process first = Process::Start(folder.scr(), L"/a");
    ASSERT_NE(WaitForWindow(first.pid(), kTitle), nullptr);

    wchar_t shortPath[MAX_PATH];
    const DWORD n = ::GetShortPathNameW(folder.scr().c_str(), shortPath, MAX_PATH);
    ASSERT_GT(n, 0u);
    ASSERT_NE(std::wstring(shortPath, n), folder.scr()) << "the test needs an 8.3 path that differs";

    const std::wstring paths[] = {folder.scr(), std::wstring(shortPath, n)};
    for (const std::wstring& path : paths) {
        for (const wchar_t* args : {L"/s", L"/c", L"", L"/a", L"/p 5"}) {
            Process second = Process::Start(path, args);
            ASSERT_TRUE(second.started());
            EXPECT_TRUE(second.WaitExit(5000)) << WideToUtf8(path) << " " << WideToUtf8(args);
            EXPECT_TRUE(TopWindowsOf(second.pid()).empty());
        }
    }
    EXPECT_TRUE(first.Running());
    EXPECT_EQ(TopWindowsOf(first.pid()).size(), 1u);
}

TEST(Startup, AfterTheFirstCopyEndsANewOneRuns) {
    TestFolder folder(L"startup-again");
    {
        Process first = Process::Start(folder.scr(), L"/a");
        HWND box = WaitForWindow(first.pid(), kTitle);
        ASSERT_NE(box, nullptr);
        ::PostMessageW(box, WM_COMMAND, IDOK, 0);
        ASSERT_TRUE(first.WaitExit(5000));
    }
    Process next = Process::Start(folder.scr(), L"/a");
    EXPECT_NE(WaitForWindow(next.pid(), kTitle), nullptr);
}

}  // namespace
}  // namespace lumora::e2e
