// The slideshow as a user sees it: full screen, topmost, pictures fitted and
// cycled, the desktop restored however it ends.
#include "tools/driver/Lumora_win.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace lumora::e2e {
namespace {

int ScreenWidth() { return ::GetSystemMetrics(SM_CXSCREEN); }
int ScreenHeight() { return ::GetSystemMetrics(SM_CYSCREEN); }

// A picture change arms the first-move capture again, so the next movement,
// ours, records the reference; with the pointer off the screen no other comes.
// The change is done once the next picture, of `colour`, is on screen.
void ArmReferenceAt(HWND form, int x, int y, std::uint32_t colour) {
    EXPECT_TRUE(WaitUntil(PointerOffScreen, 2000)) << "the window system would move the pointer over the show";
    Tick(form);
    EXPECT_TRUE(WaitForCentre(colour)) << "the next picture did not come";
    EXPECT_TRUE(MoveOver(form, x, y)) << "the reference's movement ended the show";
}

// A real button press where the pointer is (Wine keeps it in the desktop's
// bottom-right corner, see MoveOver).
void PressButton(bool right) {
    INPUT in[2]{};
    in[0].type = in[1].type = INPUT_MOUSE;
    in[0].mi.dwFlags = right ? MOUSEEVENTF_RIGHTDOWN : MOUSEEVENTF_LEFTDOWN;
    in[1].mi.dwFlags = right ? MOUSEEVENTF_RIGHTUP : MOUSEEVENTF_LEFTUP;
    ::SendInput(2, in, sizeof(INPUT));
}

// Ending must restore the desktop and end the process cleanly.
void ExpectEndedAndRestored(const Slideshow& s, const char* how) {
    EXPECT_EQ(s.process.ExitCodeWithin(5000), 0u) << how;
    EXPECT_TRUE(WaitUntil(TaskbarVisible, 2000)) << how << ": taskbar not restored";
}

// The helper has done what it had to and waits: its CPU time stands still.
bool HelperIdle(const Process& helper, const TestFolder& folder) {
    double before = -1;
    return WaitUntil(
        [&] {
            const double now = CpuSeconds(helper.handle(), HelperCommandLine(folder));
            return now >= 0 && std::exchange(before, now) == now;
        },
        10000, 300);
}

// Colour of the cycle test's picture n, distinct for 1..50.
std::uint32_t CycleColour(int n) {
    const std::uint32_t r = static_cast<std::uint32_t>(n % 7) * 40, g = static_cast<std::uint32_t>(n / 7) * 30 + 20;
    return (r << 16) | (g << 8) | 0x80;
}

TEST(Saver, CoversTheScreenTopmostWithoutTaskbarButtonAndHidesTheTaskbar) {
    TestFolder folder(L"saver-window");
    ASSERT_TRUE(WritePicture(folder.file(PictureName(1)), PictureFormat::Png, 200, 100, 0x20C040));
    ASSERT_TRUE(TaskbarVisible()) << "the test desktop should have a visible taskbar";

    Slideshow s = StartSlideshow(folder);
    ASSERT_NE(s.form, nullptr);

    // The first picture is in place as soon as the window is seen.
    const int cx = ScreenWidth() / 2, cy = ScreenHeight() / 2;
    EXPECT_TRUE(WaitUntil([&] { return NearColour(ScreenPixel(cx, cy), 0x20C040); }, 1000))
        << "first picture not on screen right after the window appeared";

    RECT r{};
    ::GetWindowRect(s.form, &r);
    EXPECT_EQ(r.left, 0);
    EXPECT_EQ(r.top, 0);
    EXPECT_EQ(r.right, ScreenWidth());
    EXPECT_EQ(r.bottom, ScreenHeight());
    const RECT client = ClientRectOnScreen(s.form);
    EXPECT_EQ(client.right - client.left, ScreenWidth()) << "no border: the client area is the screen";
    EXPECT_EQ(client.bottom - client.top, ScreenHeight());

    const LONG_PTR style = ::GetWindowLongPtrW(s.form, GWL_STYLE);
    const LONG_PTR exStyle = ::GetWindowLongPtrW(s.form, GWL_EXSTYLE);
    EXPECT_FALSE(style & WS_CAPTION);
    EXPECT_FALSE(style & WS_THICKFRAME);
    EXPECT_FALSE(style & (WS_MAXIMIZEBOX | WS_MINIMIZEBOX));
    EXPECT_TRUE(exStyle & WS_EX_TOPMOST);
    EXPECT_TRUE(exStyle & WS_EX_TOOLWINDOW) << "a tool window has no taskbar button";
    EXPECT_FALSE(exStyle & WS_EX_APPWINDOW);
    EXPECT_EQ(::GetWindow(s.form, GW_OWNER), nullptr);
    if (HWND taskbar = Taskbar()) {
        EXPECT_EQ(ChildWithText(taskbar, kSlideshowCaption), nullptr) << "taskbar button";
    }

    EXPECT_FALSE(TaskbarVisible()) << "taskbar shown during the slideshow";
    EXPECT_EQ(::WindowFromPoint({cx, cy}), s.form);
    EXPECT_EQ(::WindowFromPoint({ScreenWidth() - 1, ScreenHeight() - 1}), s.form) << "taskbar corner";

    // Another window that makes itself topmost without taking the foreground
    // is covered again at the next tick.
    {
        OwnWindow rival({.title = L"rival", .activate = false});
        ::SetWindowPos(rival.hwnd(), HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
        ASSERT_EQ(::WindowFromPoint({20, 20}), rival.hwnd());
        Tick(s.form);
        EXPECT_EQ(::WindowFromPoint({20, 20}), s.form) << "not back on top after a tick";
        EXPECT_EQ(::GetForegroundWindow(), s.form);
    }

    // The screenshot for the record.
    CaptureScreen().Save(OutDir() + L"\\saver-window.png");

    ::PostMessageW(s.form, WM_CLOSE, 0, 0);
    ExpectEndedAndRestored(s, "WM_CLOSE");
}

TEST(Saver, ForcedTicksShowEachPictureInTurnAndWrapFrom50To1) {
    TestFolder folder(L"saver-cycle");
    for (int n = 1; n <= 50; ++n)
        ASSERT_TRUE(WritePicture(folder.file(PictureName(n)), PictureFormat::Png, 64, 48, CycleColour(n)));

    Slideshow s = StartSlideshow(folder);
    ASSERT_NE(s.form, nullptr);
    const int cx = ScreenWidth() / 2, cy = ScreenHeight() / 2;
    ASSERT_TRUE(WaitUntil([&] { return NearColour(ScreenPixel(cx, cy), CycleColour(1)); }, 2000));
    // 50 ticks take us once round; two more show 1 and 2 again.
    for (int tick = 1; tick <= 51; ++tick) {
        Tick(s.form);
        const int expected = tick % 50 + 1;
        EXPECT_TRUE(WaitUntil([&] { return NearColour(ScreenPixel(cx, cy), CycleColour(expected)); }, 2000))
            << "after tick " << tick << " expected picture " << expected;
    }
    EXPECT_TRUE(s.process.Running()) << "ticks alone must not end the slideshow";
    PressKey('A');
    ExpectEndedAndRestored(s, "key after the cycle");
}

TEST(Saver, MissingOrBrokenPictureGivesOneBlackIntervalAndTheCycleGoesOn) {
    TestFolder folder(L"saver-broken");
    // The odd numbers are pictures, so that each broken one turns a picture on
    // screen black; 11 is a JPEG.
    for (int n = 1; n <= 11; n += 2)
        ASSERT_TRUE(WritePicture(folder.file(PictureName(n)), n == 11 ? PictureFormat::Jpeg : PictureFormat::Png, 300,
                                 200, CycleColour(n)));
    // 2 is missing.
    ASSERT_TRUE(folder.Write(PictureName(4), {'n', 'o', 't', ' ', 'a', ' ', 'p', 'i', 'c', 't', 'u', 'r', 'e'}));
    ASSERT_TRUE(folder.Write(PictureName(6), {}));
    // 8: a PNG cut off after its header.
    const std::wstring whole = folder.file(L"whole.png");
    ASSERT_TRUE(WritePicture(whole, PictureFormat::Png, 300, 200, 0x808080));
    std::vector<std::uint8_t> bytes = ReadFileBytes(whole);
    ASSERT_GT(bytes.size(), 40u);
    bytes.resize(40);
    ASSERT_TRUE(folder.Write(PictureName(8), bytes));
    // 10: a folder by the picture's name.
    ASSERT_TRUE(::CreateDirectoryW(folder.file(PictureName(10)).c_str(), nullptr));

    Slideshow s = StartSlideshow(folder);
    ASSERT_NE(s.form, nullptr);
    const int cx = ScreenWidth() / 2, cy = ScreenHeight() / 2;
    ASSERT_TRUE(WaitForCentre(CycleColour(1)));
    for (int n = 2; n <= 11; ++n) {
        Tick(s.form);
        if (n % 2) {
            EXPECT_TRUE(WaitForCentre(CycleColour(n), 2000, 24)) << "the picture after a broken one, " << n;
            continue;
        }
        EXPECT_TRUE(WaitUntil([&] { return IsBlack(ScreenPixel(cx, cy)); }, 2000)) << "picture " << n;
        if (n == 2) {
            const Image shot = CaptureScreen();
            EXPECT_TRUE(NonBlackBox(shot).empty()) << "the whole screen is black for a missing picture";
            shot.Save(OutDir() + L"\\saver-missing.png");
        }
    }
    // 12 to 50 are missing; the cycle comes round to 1 again.
    for (int n = 12; n <= 50; ++n) Tick(s.form);
    EXPECT_TRUE(WaitUntil([&] { return IsBlack(ScreenPixel(cx, cy)); }, 2000));
    Tick(s.form);
    EXPECT_TRUE(WaitForCentre(CycleColour(1))) << "wrapped to 1";
    ::PostMessageW(s.form, WM_CLOSE, 0, 0);
    ExpectEndedAndRestored(s, "WM_CLOSE");
}

// Regression: pictures were decoded on the window thread, so a tick held the
// window, and every key, until its picture was done.
TEST(Saver, SlowPictureNeitherHoldsUpTheWindowNorShowsAfterANewerOne) {
    constexpr std::uint32_t kRed = 0xE02020, kBlue = 0x2040E0, kGreen = 0x20C020, kYellow = 0xE0E020;
    TestFolder folder(L"saver-slow");
    ASSERT_TRUE(WritePicture(folder.file(PictureName(1)), PictureFormat::Png, 320, 240, kRed));
    ASSERT_TRUE(WritePicture(folder.file(PictureName(2)), PictureFormat::Png, 320, 240, kBlue));
    // 24 megapixels: its decode takes the best part of a second under Wine.
    ASSERT_TRUE(WritePicture(folder.file(PictureName(3)), PictureFormat::Jpeg, 6000, 4000, kGreen));
    ASSERT_TRUE(WritePicture(folder.file(PictureName(4)), PictureFormat::Png, 320, 240, kYellow));

    Slideshow s = StartSlideshow(folder);
    ASSERT_NE(s.form, nullptr);
    ASSERT_TRUE(WaitForCentre(kRed));
    Tick(s.form);
    // From the moment 2 shows, 3 is being prepared ahead of its tick.
    ASSERT_TRUE(WaitForCentre(kBlue));
    Tick(s.form);
    EXPECT_TRUE(NearColour(ScreenPixel(ScreenWidth() / 2, ScreenHeight() / 2), kBlue))
        << "the tick waited for its picture";
    DWORD_PTR ignored = 0;
    EXPECT_NE(::SendMessageTimeoutW(s.form, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, 100, &ignored), 0)
        << "the window does not answer while a picture is prepared";
    // Any program may post the number prepared pictures are announced with:
    // what it names is no result, and is ignored.
    for (const WPARAM junk : {WPARAM{0}, WPARAM{1}, WPARAM{3}, WPARAM{7}, ~WPARAM{0}})
        ::PostMessageW(s.form, WM_APP + 1, junk, static_cast<LPARAM>(0xDEADBEEF));
    // A newer tick, queued behind them, supersedes 3 before it is ready: 3 never shows.
    ::PostMessageW(s.form, WM_TIMER, kTimer1Id, 0);
    EXPECT_TRUE(WaitForCentre(kYellow)) << "the show did not go on after the stray messages";
    EXPECT_FALSE(WaitForCentre(kGreen, 2000, 24)) << "a superseded picture showed after a newer one";
    PressKey(VK_SPACE);
    ExpectEndedAndRestored(s, "space");
}

// Pictures are prepared ahead of their tick, yet what shows is the file as it
// is at the tick, and no picture file is held open against the user's changes.
TEST(Saver, PictureChangedOrDeletedAfterItWasPreparedShowsAsItIsAtItsTick) {
    constexpr std::uint32_t kColours[] = {0xE02020, 0x2040E0, 0x20C020, 0xE0E020};
    constexpr std::uint32_t kMagenta = 0xE020E0;
    TestFolder folder(L"saver-changed");
    for (int n = 1; n <= 4; ++n)
        ASSERT_TRUE(WritePicture(folder.file(PictureName(n)), PictureFormat::Png, 320, 240, kColours[n - 1]));
    Slideshow s = StartSlideshow(folder);
    ASSERT_NE(s.form, nullptr);
    ASSERT_TRUE(WaitForCentre(kColours[0]));
    const Process helper = HelperOf(s);
    ASSERT_TRUE(helper.started());
    ASSERT_TRUE(HelperIdle(helper, folder)) << "2 was not prepared ahead";
    for (int n = 1; n <= 4; ++n) {
        const UniqueFile alone(::CreateFileW(folder.file(PictureName(n)).c_str(), GENERIC_READ | GENERIC_WRITE, 0,
                                             nullptr, OPEN_EXISTING, 0, nullptr));
        EXPECT_TRUE(alone) << "picture " << n << " is held open";
    }
    ASSERT_TRUE(WritePicture(folder.file(PictureName(2)), PictureFormat::Png, 320, 240, kMagenta));
    Tick(s.form);
    EXPECT_TRUE(WaitForCentre(kMagenta)) << "the picture as it was when prepared ahead";

    ASSERT_TRUE(HelperIdle(helper, folder)) << "3 was not prepared ahead";
    ASSERT_TRUE(::DeleteFileW(folder.file(PictureName(3)).c_str()));
    Tick(s.form);
    EXPECT_TRUE(WaitForCentre(0x000000)) << "a deleted picture showed";
    Tick(s.form);
    EXPECT_TRUE(WaitForCentre(kColours[3])) << "the cycle goes on";
    ::PostMessageW(s.form, WM_CLOSE, 0, 0);
    ExpectEndedAndRestored(s, "WM_CLOSE");
}

// A picture prepared ahead is decoded once: its tick only asks the helper
// whether the file is unchanged, which costs it a sliver of what the tick of
// a picture written after its preparation ahead costs.
TEST(Saver, APicturePreparedAheadIsNotDecodedAgainAtItsTick) {
    constexpr std::uint32_t kRed = 0xE02020, kGreen = 0x20C020, kBlue = 0x2040E0;
    TestFolder folder(L"saver-ahead");
    ASSERT_TRUE(WritePicture(folder.file(PictureName(1)), PictureFormat::Png, 320, 240, kRed));
    ASSERT_TRUE(WritePicture(folder.file(PictureName(2)), PictureFormat::Jpeg, 6000, 4000, Grainy(kGreen)));
    Slideshow s = StartSlideshow(folder);
    ASSERT_NE(s.form, nullptr);
    ASSERT_TRUE(WaitForCentre(kRed));
    const Process helper = HelperOf(s);
    ASSERT_TRUE(helper.started());
    // Each cost runs from the helper at rest to the helper at rest again.
    const auto tickCost = [&](std::uint32_t colour) {
        EXPECT_TRUE(HelperIdle(helper, folder));
        const double before = CpuSeconds(helper.handle(), HelperCommandLine(folder));
        Tick(s.form);
        EXPECT_TRUE(WaitForCentre(colour, 5000, 24));
        EXPECT_TRUE(HelperIdle(helper, folder));
        return CpuSeconds(helper.handle(), HelperCommandLine(folder)) - before;
    };
    const double ahead = tickCost(kGreen);  // 3, missing meanwhile, is found so ahead
    ASSERT_TRUE(WritePicture(folder.file(PictureName(3)), PictureFormat::Jpeg, 6000, 4000, Grainy(kBlue)));
    const double cold = tickCost(kBlue);
    std::printf("[ FIGURES  ] helper CPU for a tick: %.3f s prepared ahead, %.3f s written since\n", ahead, cold);
    EXPECT_LT(ahead, cold / 4) << "decoded again at its tick";
    EXPECT_TRUE(s.process.Running());
    PressKey(VK_SPACE);
    ExpectEndedAndRestored(s, "space");
}

// Power messages that say nothing of the display: a wrong length, another
// setting, no setting, or one that is not in memory.
void SendMalformed(HWND form, DWORD state) {
    EXPECT_TRUE(SendPowerSetting(form, GUID_CONSOLE_DISPLAY_STATE, state, 2) &&
                SendPowerSetting(form, GUID_ACDC_POWER_SOURCE, state));
    for (const LPARAM nowhere : {LPARAM{0}, LPARAM{0x10}})
        EXPECT_TRUE(SendWithin(form, WM_POWERBROADCAST, PBT_POWERSETTINGCHANGE, nowhere));
}

// Nobody sees a dark display: while it is off (0), ticks change nothing and
// start no picture work, and after one whole interval (a second tick) the
// helper is gone. Back on (1) or dimmed (2), the next picture is prepared at
// once and shows at the next tick. Ticks are forced only in the dark; those
// that must show a picture are the timer's own, so that none races them.
TEST(Saver, SleepsWhileTheDisplayIsOffAndShowsTheNextPictureWhenItIsBack) {
    constexpr std::uint32_t kRed = 0xE02020, kGreen = 0x20C020, kYellow = 0xE0E020;
    TestFolder folder(L"saver-display-off");
    ASSERT_TRUE(WritePicture(folder.file(PictureName(1)), PictureFormat::Png, 320, 240, kRed));
    // What a picture costs to prepare, against what ticks in the dark cost.
    ASSERT_TRUE(WritePicture(folder.file(PictureName(2)), PictureFormat::Jpeg, 6000, 4000, Grainy(kGreen)));
    ASSERT_TRUE(WritePicture(folder.file(PictureName(3)), PictureFormat::Png, 320, 240, kYellow));
    Slideshow s = StartSlideshow(folder);
    ASSERT_TRUE(s.form && WaitForCentre(kRed));
    const Process helper = HelperOf(s);
    const std::wstring saverLine = folder.scr() + L" /s";
    // Off well before the timer's first tick, 10 s after the start.
    EXPECT_TRUE(SendPowerSetting(s.form, GUID_CONSOLE_DISPLAY_STATE, 0));
    Tick(s.form);
    Tick(s.form);
    EXPECT_TRUE(helper.WaitExit(10000)) << "the helper outlived a whole interval of a dark display";
    const double saverBefore = CpuSeconds(s.process.handle(), saverLine);
    for (int tick = 0; tick < 5; ++tick) Tick(s.form);
    const double asleep = CpuSeconds(s.process.handle(), saverLine) - saverBefore;
    SendMalformed(s.form, 1);
    EXPECT_FALSE(WaitUntil([&] { return !NearColour(ScreenPixel(ScreenWidth() / 2, ScreenHeight() / 2), kRed); },
                           1000))
        << "the picture changed in the dark";
    EXPECT_TRUE(ChildProcessIds(s.process.pid()).empty()) << "picture work started in the dark";

    EXPECT_TRUE(SendPowerSetting(s.form, GUID_CONSOLE_DISPLAY_STATE, 1));
    SendMalformed(s.form, 0);
    const Process woken = HelperOf(s, helper.pid());
    ASSERT_TRUE(HelperIdle(woken, folder)) << "no helper prepared 2 after the display came back";
    const double wake = CpuSeconds(woken.handle(), HelperCommandLine(folder));
    EXPECT_TRUE(WaitForCentre(kGreen, 12000, 24)) << "the timer's next tick did not show picture 2";
    std::printf("[ FIGURES  ] CPU of 5 ticks in the dark %.2f s, of waking to a 24 MP photo %.2f s\n", asleep, wake);
    EXPECT_LT(asleep, wake / 5) << "ticks in the dark cost more than a fifth of one picture";

    // Off the Windows 7 way, then dimmed: the show goes on with picture 3.
    EXPECT_TRUE(SendPowerSetting(s.form, GUID_MONITOR_POWER_ON, 0));
    Tick(s.form);
    EXPECT_FALSE(WaitForCentre(kYellow, 1000)) << "picture 3 showed in the dark";
    EXPECT_TRUE(SendPowerSetting(s.form, GUID_CONSOLE_DISPLAY_STATE, 2));
    EXPECT_TRUE(WaitForCentre(kYellow, 12000)) << "the timer's next tick did not show picture 3";
    PressKey(VK_SPACE);
    ExpectEndedAndRestored(s, "space");
}

// The saver's own process reads no picture file, not even its size and time,
// and never loads a decoder: all of that is the helper's.
TEST(Saver, OnlyTheHelperReadsPictureFilesOrLoadsDecoders) {
    constexpr std::uint32_t kColours[] = {0xE02020, 0x2040E0, 0x20C020};
    TestFolder folder(L"saver-no-files");
    for (int n = 1; n <= 3; ++n)
        ASSERT_TRUE(WritePicture(folder.file(PictureName(n)), PictureFormat::Png, 320, 240, kColours[n - 1]));
    Slideshow s = StartSlideshow(folder);
    ASSERT_NE(s.form, nullptr);
    ASSERT_TRUE(WaitForCentre(kColours[0]));
    const Process helper = HelperOf(s);
    ASSERT_TRUE(helper.started());
    std::optional<std::vector<std::wstring>> saverFiles;
    // Both watched over the same ticks: the helper's watch proves the watch sees picture files.
    const auto helperFiles = FilesNamedWhile(helper, [&] {
        saverFiles = FilesNamedWhile(s.process, [&] {
            for (int n = 2; n <= 3; ++n) {
                Tick(s.form);
                EXPECT_TRUE(WaitForCentre(kColours[n - 1])) << "picture " << n;
            }
        });
    });
    ASSERT_TRUE(helperFiles && saverFiles) << "the file calls could not be watched";
    const auto pictures = [](const std::vector<std::wstring>& names) {
        std::vector<std::string> found;
        for (const std::wstring& name : names)
            if (name.find(L"KORVA") != std::wstring::npos) found.push_back(WideToUtf8(name));
        return found;
    };
    EXPECT_EQ(pictures(*saverFiles), std::vector<std::string>{}) << "the saver touched picture files";
    EXPECT_FALSE(pictures(*helperFiles).empty()) << "the helper was not seen reading the pictures";
    EXPECT_FALSE(s.process.HasModule(L"windowscodecs.dll")) << "the saver loaded the imaging component";
    EXPECT_TRUE(helper.HasModule(L"windowscodecs.dll"));
    PressKey(VK_SPACE);
    ExpectEndedAndRestored(s, "space");
}

TEST(Saver, EmptyFolderStaysBlackAndStillEnds) {
    TestFolder folder(L"saver-empty");
    // The desktop is not black: all the black comes from the show.
    ASSERT_FALSE(NonBlackBox(CaptureScreen()).empty());
    Slideshow s = StartSlideshow(folder);
    ASSERT_NE(s.form, nullptr);
    EXPECT_TRUE(WaitUntil([] { return NonBlackBox(CaptureScreen()).empty(); }, 3000, 100));
    Tick(s.form);
    Tick(s.form);
    EXPECT_TRUE(NonBlackBox(CaptureScreen()).empty());
    EXPECT_FALSE(TaskbarVisible());
    PressKey(VK_SPACE);
    ExpectEndedAndRestored(s, "space");
}

// A pictures folder 300 characters deep, past MAX_PATH: the saver starts
// its helper from there and the helper opens the pictures there.
TEST(Saver, PicturesFromAFolderPastMaxPathShow) {
    TestFolder base(L"saver-long-path");
    std::wstring folder = base.path();
    while (folder.size() < 300) {
        folder += L"\\" + std::wstring(std::min<std::size_t>(100, 301 - folder.size()), L'd');
        ASSERT_TRUE(::CreateDirectoryW((L"\\\\?\\" + folder).c_str(), nullptr)) << ::GetLastError();
    }
    ASSERT_TRUE(::CopyFileW(base.scr().c_str(), (L"\\\\?\\" + folder + L"\\Lumora.scr").c_str(), FALSE));
    ASSERT_TRUE(WritePicture(L"\\\\?\\" + folder + L"\\" + PictureName(1), PictureFormat::Png, 320, 240, 0x2040E0));
    // Started by its short name, as the idle timer starts a saver, and not
    // in its own folder: Wine's process start overruns a buffer on a current
    // folder past MAX_PATH, and starts no executable by a path that long.
    wchar_t shortName[MAX_PATH] = {};
    const DWORD shortLength = ::GetShortPathNameW((L"\\\\?\\" + folder + L"\\Lumora.scr").c_str(), shortName, MAX_PATH);
    ASSERT_GT(shortLength, 0u);
    ASSERT_LT(shortLength, static_cast<DWORD>(MAX_PATH));
    const Process saver = Process::Start(shortName, L"/s", base.path());
    ASSERT_TRUE(saver.started()) << ::GetLastError();
    const HWND form = WaitForWindow(saver.pid(), kSlideshowCaption, 10000);
    ASSERT_NE(form, nullptr);
    EXPECT_TRUE(WaitForCentre(0x2040E0)) << "the picture from a folder of " << folder.size() << " characters";
    ::PostMessageW(form, WM_CLOSE, 0, 0);
    EXPECT_EQ(saver.ExitCodeWithin(5000), 0u);
}

// Each way out, on a fresh slideshow with the pointer's reference at (100, 100).
struct WayOut {
    const char* name;
    bool pictureCoversTheScreen;  // so that the pointer is over the picture
    void (*act)(HWND form);
};

TEST(Saver, EveryWayOutEndsTheProcessAndRestoresTheDesktop) {
    TestFolder margin(L"saver-dismiss-margin");
    TestFolder cover(L"saver-dismiss-cover");
    constexpr std::uint32_t kColours[] = {0xC0C0F0, 0x80F0C0};
    for (int n = 1; n <= 2; ++n) {
        ASSERT_TRUE(WritePicture(margin.file(PictureName(n)), PictureFormat::Bmp, 200, 100, kColours[n - 1]));
        ASSERT_TRUE(WritePicture(cover.file(PictureName(n)), PictureFormat::Bmp, ScreenWidth(), ScreenHeight(),
                                 kColours[n - 1]));
    }
    const WayOut ways[] = {
        {"letter key", false, [](HWND) { PressKey('Q'); }},
        {"function key", false, [](HWND) { PressKey(VK_F5); }},
        {"shift alone", false, [](HWND) { PressKey(VK_SHIFT); }},
        {"alt alone", false, [](HWND) { PressKey(VK_MENU); }},
        {"F10", false, [](HWND) { PressKey(VK_F10); }},
        {"left button over the margin", false, [](HWND) { PressButton(false); }},
        {"right button over the picture", true, [](HWND) { PressButton(true); }},
        {"middle button", false, [](HWND form) { ::PostMessageW(form, WM_MBUTTONDOWN, MK_MBUTTON, MAKELPARAM(9, 9)); }},
        {"large diagonal movement", false, [](HWND form) { MoveOver(form, 300, 250); }},
        {"real pointer movement", false, [](HWND) { MoveMouse(400, 300); }},
        {"key while the display is off", false, [](HWND form) {
             SendPowerSetting(form, GUID_CONSOLE_DISPLAY_STATE, 0);  // and two ticks: its helper is ending
             Tick(form);
             Tick(form);
             PressKey('Q');
         }},
        {"WM_CLOSE", false, [](HWND form) { ::PostMessageW(form, WM_CLOSE, 0, 0); }},
        {"system close command", false, [](HWND form) { ::PostMessageW(form, WM_SYSCOMMAND, SC_CLOSE, 0); }},
        {"session end",
         false,
         [](HWND form) {
             DWORD_PTR ignored = 0;
             ::SendMessageTimeoutW(form, WM_QUERYENDSESSION, 0, ENDSESSION_LOGOFF, SMTO_ABORTIFHUNG, 2000, &ignored);
         }},
    };
    for (const WayOut& way : ways) {
        SCOPED_TRACE(way.name);
        Slideshow s = StartSlideshow(way.pictureCoversTheScreen ? cover : margin);
        ASSERT_TRUE(s.InFront());
        ArmReferenceAt(s.form, 100, 100, kColours[1]);
        ASSERT_TRUE(s.process.Running());
        way.act(s.form);
        ExpectEndedAndRestored(s, way.name);
    }
}

TEST(Saver, SmallOrOneAxisMovementsDoNotEndIt) {
    TestFolder folder(L"saver-small-moves");
    // A small picture, centred: the reference is taken in the margin just off
    // its top-left corner, more than 5 pixels from the window's corner.
    // Colours a GIF's palette holds exactly, a new one for each picture change.
    constexpr std::uint32_t kColours[] = {0xFFFF00, 0x00FFFF, 0xFF00FF, 0x33CC33};
    for (int n = 1; n <= 4; ++n)
        ASSERT_TRUE(WritePicture(folder.file(PictureName(n)), PictureFormat::Gif, 200, 100, kColours[n - 1]));
    ASSERT_EQ(ScreenWidth(), 1024);
    ASSERT_EQ(ScreenHeight(), 768);
    // 200 x 100 at its natural size: left (1024 - 200) / 2 = 412, top (768 - 100) / 2 = 334.
    const POINT place{412, 334};
    const int x0 = place.x - 1, y0 = place.y - 1;
    Slideshow s = StartSlideshow(folder);
    ASSERT_NE(s.form, nullptr);
    ArmReferenceAt(s.form, x0, y0, kColours[1]);
    ASSERT_TRUE(s.process.Running());
    const POINT path[] = {
        {x0 + 1, y0 + 1},  // one pixel onto the picture's corner
        {x0 + 2, y0 + 2},   {x0, y0},           {x0 + 5, y0 + 5}, {x0 - 5, y0 - 5}, {x0 + 5, y0 - 5},
        {x0 + 300, y0 + 2},  // far along one axis only
        {x0 + 2, y0 + 300},  {x0 + 4, y0 + 4}, {x0 + 1, y0 + 1},
    };
    for (const POINT& p : path) ASSERT_TRUE(MoveOver(s.form, p.x, p.y)) << "ended by a move to " << p.x << "," << p.y;
    // The reverse: a reference on the picture, then out into the margin.
    ArmReferenceAt(s.form, place.x, place.y, kColours[2]);
    EXPECT_TRUE(MoveOver(s.form, place.x - 1, place.y - 1));
    EXPECT_TRUE(MoveOver(s.form, place.x - 3, place.y - 2)) << "ended by a move into the margin";

    // Slow diagonal steps add up from the reference and end it.
    ArmReferenceAt(s.form, x0, y0, kColours[3]);
    for (int step = 1; step <= 5; ++step) ASSERT_TRUE(MoveOver(s.form, x0 + step, y0 + step)) << "step " << step;
    MoveOver(s.form, x0 + 6, y0 + 6);
    ExpectEndedAndRestored(s, "slow diagonal steps");
}

// Regression: after the screen changed size the show went on covering the old
// screen, with every picture fitted to it.
TEST(Saver, FollowsTheScreenWhenItChangesSize) {
    ASSERT_EQ(ScreenWidth(), 1024);
    ASSERT_EQ(ScreenHeight(), 768);
    // Back to the desktop's own size however the test ends.
    struct ResetDisplay {
        ~ResetDisplay() { ::ChangeDisplaySettingsExW(nullptr, nullptr, nullptr, 0, nullptr); }
    } reset;
    TestFolder folder(L"saver-display-change");
    // 4:1, so it fills the width with black bands above and below:
    // 1024 x 256 at top (768 - 256) / 2 = 256; on 800 x 600, 800 x 200 at top 200.
    ASSERT_TRUE(WritePicture(folder.file(PictureName(1)), PictureFormat::Png, 1600, 400, 0x40A0E0));
    Slideshow s = StartSlideshow(folder);
    ASSERT_NE(s.form, nullptr);
    const auto boxIs = [](Box want) {
        return WaitUntil([&] { return NonBlackBox(CaptureScreen()) == want; }, 3000, 100);
    };
    ASSERT_TRUE(boxIs({0, 256, 1024, 512}));
    ASSERT_TRUE(MoveOver(s.form, 1000, 700));  // the reference, as the picture has armed it

    DEVMODEW mode{};
    mode.dmSize = sizeof(mode);
    mode.dmPelsWidth = 800;
    mode.dmPelsHeight = 600;
    mode.dmFields = DM_PELSWIDTH | DM_PELSHEIGHT;
    ASSERT_EQ(::ChangeDisplaySettingsExW(nullptr, &mode, nullptr, 0, nullptr), DISP_CHANGE_SUCCESSFUL);
    ASSERT_TRUE(WaitUntil([] { return ScreenWidth() == 800 && ScreenHeight() == 600; }, 3000));
    EXPECT_TRUE(WaitUntil(
        [&] {
            RECT r{};
            ::GetWindowRect(s.form, &r);
            return r.left == 0 && r.top == 0 && r.right == 800 && r.bottom == 600;
        },
        3000))
        << "the window still covers the old screen";
    EXPECT_TRUE(boxIs({0, 200, 800, 400})) << "the picture is not fitted to the new screen";
    // The system moves the pointer with the screen: the reference is taken afresh.
    EXPECT_TRUE(MoveOver(s.form, 700, 500) && MoveOver(s.form, 703, 503))
        << "a move after the change was measured from the old reference";
    PressKey(VK_SPACE);
    ExpectEndedAndRestored(s, "space");
}

TEST(Saver, RunsAndEndsNormallyWithoutATaskbarWindow) {
    // The taskbar is only found by its empty title; with a title it is not
    // found, so the slideshow must neither hide nor show it.
    struct RenamedTaskbar {
        HWND taskbar = Taskbar();
        ~RenamedTaskbar() { ::SetWindowTextW(taskbar, L""); }
    } renamed;
    ASSERT_NE(renamed.taskbar, nullptr);
    ASSERT_TRUE(::SetWindowTextW(renamed.taskbar, L"renamed for the test"));
    TestFolder folder(L"saver-no-taskbar");
    ASSERT_TRUE(WritePicture(folder.file(PictureName(1)), PictureFormat::Png, 200, 100, 0x20C040));
    Slideshow s = StartSlideshow(folder);
    EXPECT_NE(s.form, nullptr);
    // The taskbar has handled whatever the show asked of it as it loaded.
    EXPECT_TRUE(SendWithin(renamed.taskbar, WM_NULL));
    EXPECT_TRUE(TaskbarVisible());
    EXPECT_TRUE(WaitForCentre(0x20C040));
    if (s.form) Tick(s.form);
    EXPECT_TRUE(s.process.Running());
    PressKey('X');
    EXPECT_EQ(s.process.ExitCodeWithin(5000), 0u);
}

// The real timer, untouched: nothing forces a tick, and picture 2 comes
// 10 s after the start, not before.
TEST(Saver, OwnTimerShowsTheNextPictureAfterTenSeconds) {
    constexpr std::uint32_t kFirst = 0x2040E0, kSecond = 0xE0A020;
    TestFolder folder(L"saver-own-timer");
    ASSERT_TRUE(WritePicture(folder.file(PictureName(1)), PictureFormat::Png, 320, 240, kFirst));
    ASSERT_TRUE(WritePicture(folder.file(PictureName(2)), PictureFormat::Png, 320, 240, kSecond));
    const auto started = std::chrono::steady_clock::now();
    Slideshow s = StartSlideshow(folder);
    ASSERT_NE(s.form, nullptr);
    ASSERT_TRUE(WaitForCentre(kFirst));
    EXPECT_TRUE(WaitForCentre(kSecond, 15000)) << "picture 2 did not come by itself";
    const long long ms = (std::chrono::steady_clock::now() - started) / std::chrono::milliseconds(1);
    std::printf("[ FIGURES  ] picture 2 on screen %lld ms after the start\n", ms);
    EXPECT_GE(ms, 8000) << "before the timer's 10 s";
    EXPECT_LE(ms, 12500) << "well after the timer's 10 s";
    PressKey(VK_SPACE);
    ExpectEndedAndRestored(s, "space");
}

// A picture's transparent parts show the black behind it, its opaque parts
// their own colour.
TEST(Saver, TransparentPartsOfAPictureShowBlack) {
    ASSERT_EQ(ScreenWidth(), 1024);
    ASSERT_EQ(ScreenHeight(), 768);
    TestFolder folder(L"saver-alpha");
    // Left half white but fully transparent, right half opaque green.
    ASSERT_TRUE(WritePicture(folder.file(PictureName(1)), PictureFormat::PngWithAlpha, 200, 100,
                             [](int x, int) { return x < 100 ? 0x00FFFFFFu : 0xFF20C040u; }));
    Slideshow s = StartSlideshow(folder);
    ASSERT_NE(s.form, nullptr);
    // At its natural size, 200 x 100 sits at (1024 - 200) / 2 = 412, (768 - 100) / 2 = 334:
    // its opaque half is 512..612 across.
    EXPECT_TRUE(WaitUntil([] { return NonBlackBox(CaptureScreen()) == Box{512, 334, 612, 434}; }, 3000, 100))
        << "the transparent half is not black";
    EXPECT_TRUE(NearColour(ScreenPixel(562, 384), 0x20C040));
    EXPECT_TRUE(IsBlack(ScreenPixel(462, 384)));
    ::PostMessageW(s.form, WM_CLOSE, 0, 0);
    ExpectEndedAndRestored(s, "WM_CLOSE");
}

// The input method is detached from the slideshow window while it runs and
// given back as it ends, seen where the process asks to be terminated.
TEST(Saver, InputMethodIsDetachedDuringTheShowAndGivenBackAtItsEnd) {
    TestFolder folder(L"saver-input-method");
    ASSERT_TRUE(WritePicture(folder.file(PictureName(1)), PictureFormat::Png, 200, 100, 0x20C040));
    {
        // The probe sees a window's input context: the settings dialog keeps its own.
        const Settings settings = StartSettings(folder);
        ASSERT_NE(settings.window, nullptr);
        EXPECT_NE(InputContextOf(settings.process, settings.window).value_or(0), 0u);
    }
    Slideshow s = StartSlideshow(folder);
    ASSERT_NE(s.form, nullptr);
    ASSERT_TRUE(s.InFront());
    EXPECT_EQ(InputContextOf(s.process, s.form), 0u);
    Tick(s.form);
    EXPECT_EQ(InputContextOf(s.process, s.form), 0u) << "given back before the end";
    ASSERT_TRUE(HoldAtExit(s.process, [] { PressKey(VK_SPACE); })) << "the key did not end the show";
    ASSERT_TRUE(::IsWindow(s.form));
    EXPECT_NE(InputContextOf(s.process, s.form).value_or(0), 0u) << "not given back";
    EXPECT_TRUE(WaitUntil(TaskbarVisible, 2000)) << "the taskbar, given back just before";
}

// Picture shapes against the screen, with the rectangle each must take on
// each desktop. Fitted by hand: smaller both ways keeps its natural size,
// centred; otherwise it fills the width when it is relatively wider than the
// screen, else the height, and is centred along the other axis. Each edge is
// rounded to the nearest pixel, halves away from zero.
struct Fit {
    int width, height;
    Box want;
};
struct Shape {
    const char* what;
    PictureFormat format;
    Fit on[3];  // 1024 x 768, 768 x 1024, 1366 x 768
};

const Shape kShapes[] = {
    // Natural size: on 1024 x 768 left (1024 - 341) / 2 = 341.5 -> 342, right 682.5 -> 683.
    {"small", PictureFormat::Png,
     {{341, 192, {342, 288, 683, 480}}, {256, 256, {256, 384, 512, 640}}, {455, 192, {456, 288, 911, 480}}}},
    // Halves on both axes: left 461.5, top 358.5; 333.5, 486.5; 632.5, 358.5.
    {"small, odd size", PictureFormat::Bmp,
     {{101, 51, {462, 359, 563, 410}}, {101, 51, {334, 487, 435, 538}}, {101, 51, {633, 359, 734, 410}}}},
    // Not smaller: fills the width at its own size, centred top to bottom.
    {"exactly as wide", PictureFormat::Png,
     {{1024, 384, {0, 192, 1024, 576}}, {768, 512, {0, 256, 768, 768}}, {1366, 384, {0, 192, 1366, 576}}}},
    // Fills the height at its own size, centred across.
    {"exactly as tall", PictureFormat::Gif,
     {{341, 768, {342, 0, 683, 768}}, {256, 1024, {256, 0, 512, 1024}}, {455, 768, {456, 0, 911, 768}}}},
    // Fills the width: 1024 x 170.67 at top 298.67; 768 x 227.33 at 398.33; 1366 x 170.67 at 298.67.
    {"wider only", PictureFormat::Jpeg,
     {{1536, 256, {0, 299, 1024, 469}}, {1152, 341, {0, 398, 768, 626}}, {2049, 256, {0, 299, 1366, 469}}}},
    // Fills the height: 192 x 768 at left 416; 144.04 x 1024 at 311.98; 255.75 x 768 at 555.13.
    {"taller only", PictureFormat::Tiff,
     {{256, 1024, {416, 0, 608, 768}}, {192, 1365, {312, 0, 456, 1024}}, {341, 1024, {555, 0, 811, 768}}}},
    // Fills the width: 1024 x 377.19 at top 195.41; 768 x 499.96 at 262.02; 1366 x 378.87 at 194.57.
    {"wide landscape", PictureFormat::Jpeg,
     {{2085, 768, {0, 195, 1024, 573}}, {1573, 1024, {0, 262, 768, 762}}, {2769, 768, {0, 195, 1366, 573}}}},
    // A square fills the shorter side: 768 x 768 at left 128; at top 128; at left 299.
    {"big square", PictureFormat::Png,
     {{1546, 1546, {128, 0, 896, 768}}, {2058, 2058, {0, 128, 768, 896}}, {1546, 1546, {299, 0, 1067, 768}}}},
    // The screen's own aspect: the whole screen.
    {"same aspect", PictureFormat::Bmp,
     {{2048, 1536, {0, 0, 1024, 768}}, {1536, 2048, {0, 0, 768, 1024}}, {2732, 1536, {0, 0, 1366, 768}}}},
    // Fills the height: 128 x 768 at left 448; 170.67 x 1024 at 298.67; 128 x 768 at 619.
    {"tall portrait", PictureFormat::Gif,
     {{384, 2304, {448, 0, 576, 768}}, {512, 3072, {299, 0, 469, 1024}}, {384, 2304, {619, 0, 747, 768}}}},
    // Fills the width, 1.67 high: top 383.17 (511.17 on the portrait screen), bottom 384.83 (512.83).
    {"thin strip", PictureFormat::Png,
     {{3072, 5, {0, 383, 1024, 385}}, {2304, 5, {0, 511, 768, 513}}, {4098, 5, {0, 383, 1366, 385}}}},
};

TEST(SaverFit, DrawnRectangleMatchesTheFittedRectangle) {
    const int W = ScreenWidth(), H = ScreenHeight();
    const int desktop = W == 1024 && H == 768 ? 0 : W == 768 && H == 1024 ? 1 : W == 1366 && H == 768 ? 2 : -1;
    ASSERT_NE(desktop, -1) << "no expected rectangles for a " << W << "x" << H << " desktop";
    TestFolder folder(L"saver-fit");
    for (size_t i = 0; i < std::size(kShapes); ++i) {
        const Fit& fit = kShapes[i].on[desktop];
        // A one-pixel bright frame marks the picture's own edges.
        ASSERT_TRUE(WritePicture(folder.file(PictureName(static_cast<int>(i) + 1)), kShapes[i].format, fit.width,
                                 fit.height, [&](int x, int y) -> std::uint32_t {
                                     const bool edge = x == 0 || y == 0 || x == fit.width - 1 || y == fit.height - 1;
                                     return edge ? 0xFFFFFF : 0x40A0E0;
                                 }))
            << kShapes[i].what;
    }
    Slideshow s = StartSlideshow(folder);
    ASSERT_NE(s.form, nullptr);
    for (size_t i = 0; i < std::size(kShapes); ++i) {
        const Fit& fit = kShapes[i].on[desktop];
        SCOPED_TRACE(::testing::Message() << kShapes[i].what << " " << fit.width << "x" << fit.height << " on " << W
                                          << "x" << H);
        if (i > 0) Tick(s.form);
        Box got;
        Image shot;
        WaitUntil([&] { return (got = NonBlackBox(shot = CaptureScreen())) == fit.want; }, 2000, 100);
        EXPECT_EQ(got.left, fit.want.left);
        EXPECT_EQ(got.top, fit.want.top);
        EXPECT_EQ(got.right, fit.want.right);
        EXPECT_EQ(got.bottom, fit.want.bottom);
        wchar_t name[96];
        std::swprintf(name, std::size(name), L"\\saver-fit-%dx%d-%02zu.png", W, H, i + 1);
        shot.Save(OutDir() + name);
    }
    PressKey(VK_ESCAPE);
    ExpectEndedAndRestored(s, "escape");
}

}  // namespace
}  // namespace lumora::e2e
