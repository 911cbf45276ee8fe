// Start-up as the desktop drives it: preview, password, single instance.
#include "tools/driver/Lumora_win.h"

#include <gtest/gtest.h>

namespace lumora::e2e {
namespace {

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
        HWND box = WaitForMessageBox(saver.pid());
        ASSERT_NE(box, nullptr) << "no message box for " << WideToUtf8(args);
        EXPECT_EQ(TopWindowsOf(saver.pid()), std::vector<HWND>{box});
        const DialogContents c = ReadDialog(box);
        EXPECT_EQ(c.texts, std::vector<std::wstring>{kPasswordMessage});
        EXPECT_EQ(c.buttons, std::vector<std::wstring>{L"OK"});
        EXPECT_EQ(c.icons, 0);
        EXPECT_TRUE(saver.Running()) << "must wait for the box to be closed";

        EXPECT_TRUE(CloseMessageBox(box));
        EXPECT_TRUE(saver.WaitExit(5000));
        EXPECT_TRUE(TopWindowsOf(saver.pid()).empty());
    }
}

TEST(Startup, ASecondCopyEndsAtOnceWhateverItsSwitch) {
    TestFolder folder(L"startup-second copy with a long name");
    // The first copy holds its message box open, so it stays alive meanwhile.
    Process first = Process::Start(folder.scr(), L"/a");
    ASSERT_NE(WaitForMessageBox(first.pid()), nullptr);

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
        ASSERT_TRUE(CloseMessageBox(WaitForMessageBox(first.pid())));
        ASSERT_TRUE(first.WaitExit(5000));
    }
    Process next = Process::Start(folder.scr(), L"/a");
    EXPECT_NE(WaitForMessageBox(next.pid()), nullptr);
}

}  // namespace
}  // namespace lumora::e2e
