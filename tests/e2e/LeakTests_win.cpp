// Long runs leave the saver's resources flat: a thousand picture changes over
// good, missing and broken pictures, two hundred About boxes and a hundred
// system-information messages. Counters are read after a warm-up and at the
// end; only growth beyond a small stated margin fails, and so does a resource
// that no counter can read.
#include "tools/driver/Lumora_win.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

namespace lumora::e2e {
namespace {

void Print(const char* what, const Counters& c) {
    std::printf("[ FIGURES  ] %-28s GetGuiResources GDI %lld USER %lld; GetProcessHandleCount %lld; PrivateUsage %lld KB; "
                "GDI table %lld; system handle table %lld; windows %lld; Linux RSS %lld KB, anonymous %lld KB, fds %lld "
                "(-1: cannot be read)\n",
                what, c.gdi, c.user, c.handles, c.privateKb, c.gdiTable, c.systemHandles, c.windows, c.rssKb, c.anonKb,
                c.fds);
    std::fflush(stdout);
}

// One counter of a resource and the growth it may show.
struct Source {
    const char* name;
    long long Counters::*counter;
    long long margin;
};

// Each resource is judged by the first of its counters that can be read here
// (Windows' own first; under Wine the tables Wine keeps, then Linux's view).
// A resource that none can read fails: a leak there would go unseen.
void ExpectFlat(const Counters& warm, const Counters& last) {
    const std::vector<std::vector<Source>> resources = {
        {{"GDI objects", &Counters::gdi, 4}, {"GDI objects (Wine's table)", &Counters::gdiTable, 4}},
        {{"USER objects", &Counters::user, 4}, {"windows and controls", &Counters::windows, 0}},
        {{"handles", &Counters::handles, 4}, {"handles (system table)", &Counters::systemHandles, 4}},
        {{"private KB", &Counters::privateKb, 1024}, {"anonymous resident KB (Linux)", &Counters::anonKb, 2048}},
        {{"resident KB (Linux)", &Counters::rssKb, 2048}},
        {{"file descriptors (Linux)", &Counters::fds, 2}},
    };
    for (const auto& sources : resources) {
        const auto readable = std::find_if(sources.begin(), sources.end(), [&](const Source& s) {
            return warm.*s.counter >= 0 && last.*s.counter >= 0;
        });
        if (readable == sources.end()) {
            ADD_FAILURE() << sources.front().name << ": no counter can be read";
            continue;
        }
        EXPECT_LE(last.*readable->counter - warm.*readable->counter, readable->margin) << readable->name;
        std::printf("[ FIGURES  ] %-30s %lld -> %lld, margin +%lld\n", readable->name, warm.*readable->counter,
                    last.*readable->counter, readable->margin);
    }
    // Windows that come and go are USER objects whatever else counts them.
    EXPECT_EQ(last.windows, warm.windows) << "windows (USER objects seen from outside)";
    std::fflush(stdout);
}

// Does `once` `rounds` times, reads the counters after the first `warmUp` and
// at the end, and expects them flat.
void ExpectFlatOver(const Meter& meter, int warmUp, int rounds, const char* what,
                    const std::function<void(int)>& once) {
    Print((std::string(what) + " at the start").c_str(), meter.Read());
    Counters warm;
    for (int round = 1; round <= rounds; ++round) {
        once(round);
        if (::testing::Test::HasFatalFailure()) return;
        if (round == warmUp) Print((std::to_string(round) + " " + what + " (warm-up)").c_str(), warm = meter.Read());
    }
    const Counters last = meter.Read();
    Print((std::to_string(rounds) + " " + what).c_str(), last);
    ExpectFlat(warm, last);
}

// Fifty pictures of every format and many sizes, some larger than the screen,
// with gaps and broken files among them.
void WriteMixedPictures(const TestFolder& folder) {
    const PictureFormat formats[] = {PictureFormat::Png, PictureFormat::Jpeg, PictureFormat::Bmp, PictureFormat::Gif,
                                     PictureFormat::Tiff};
    for (int n = 1; n <= 50; ++n) {
        const std::wstring path = folder.file(PictureName(n));
        switch (n) {
        case 13: case 27: case 41: case 50:  // missing
            continue;
        case 7:
            ASSERT_TRUE(folder.Write(PictureName(n), {'n', 'o', 't', ' ', 'a', ' ', 'p', 'i', 'c'}));
            continue;
        case 19:
            ASSERT_TRUE(folder.Write(PictureName(n), {}));
            continue;
        case 33: case 44: {  // cut off after the header
            ASSERT_TRUE(WritePicture(path, n == 33 ? PictureFormat::Png : PictureFormat::Jpeg, 200, 150, 0x808080));
            std::vector<std::uint8_t> bytes = ReadFileBytes(path);
            bytes.resize(std::min<size_t>(bytes.size(), 60));
            ASSERT_TRUE(folder.Write(PictureName(n), bytes));
            continue;
        }
        }
        int w = 16 + (n * 37) % 600, h = 16 + (n * 53) % 450;
        if (n == 10) w = 1400, h = 500;
        if (n == 20) w = 300, h = 1000;
        if (n == 30) w = 1100, h = 900;
        const std::uint32_t colour = n == 1 ? 0x20C040u : (static_cast<std::uint32_t>(n * 5) << 16) | 0x4080;
        ASSERT_TRUE(WritePicture(path, formats[n % 5], w, h, [=](int x, int y) -> std::uint32_t {
            return (x ^ y) & 8 ? colour : colour ^ 0x303030;
        })) << n;
    }
}

TEST(Leaks, ThousandForcedTicksOverMixedPicturesKeepResourcesFlat) {
    TestFolder folder(L"leaks-ticks");
    WriteMixedPictures(folder);
    if (HasFatalFailure()) return;
    const Slideshow s = StartSlideshow(folder);
    const Process& p = s.process;
    HWND form = s.form;
    ASSERT_NE(form, nullptr);
    Meter meter(p, folder.scr() + L" /s");
    ASSERT_TRUE(meter.ok());
    const int cx = ::GetSystemMetrics(SM_CXSCREEN) / 2, cy = ::GetSystemMetrics(SM_CYSCREEN) / 2;
    const auto showsPictureOne = [&] { return NearColour(ScreenPixel(cx, cy), 0x20C040, 24) ||
                                              NearColour(ScreenPixel(cx, cy), 0x20C040 ^ 0x303030, 24); };

    ExpectFlatOver(meter, 100, 1000, "ticks", [&](int tick) {
        Tick(form);
        // Picture 1 again after the warm-up's two rounds and at the end: every tick changed the picture.
        if (tick == 100 || tick == 1000) {
            EXPECT_TRUE(WaitUntil(showsPictureOne, 5000)) << "the cycle did not advance on every tick " << tick;
        }
        if (tick % 50 == 0) {
            ASSERT_TRUE(p.Running()) << "ended after " << tick << " ticks";
        }
    });
    PressKey(VK_SPACE);
    EXPECT_TRUE(p.WaitExit(5000));
    EXPECT_TRUE(WaitUntil(TaskbarVisible, 2000));
}

// --- the settings dialog's About box ----------------------------------------

TEST(Leaks, AboutBoxOpenedAndClosed200TimesKeepsResourcesFlat) {
    TestFolder folder(L"leaks-about");
    const Settings s = StartSettings(folder);
    ASSERT_NE(s.window, nullptr);
    Meter meter(s.process, folder.scr() + L" /c");
    ASSERT_TRUE(meter.ok());
    ExpectFlatOver(meter, 20, 200, "About boxes", [&](int round) {
        HWND about = OpenAbout(s);
        ASSERT_NE(about, nullptr) << "round " << round;
        // Half the rounds by the OK button, half by the close box.
        ::PostMessageW(about, round % 2 ? WM_COMMAND : WM_CLOSE, round % 2 ? MAKEWPARAM(IDOK, BN_CLICKED) : 0, 0);
        ASSERT_TRUE(WaitUntil([&] { return !::IsWindow(about) && ::IsWindowEnabled(s.window); }, 5000, 10))
            << "round " << round;
    });
    EXPECT_TRUE(s.process.Running());
}

TEST(Leaks, SystemInformationMessage100TimesKeepsResourcesFlat) {
    // No tool registered: the button gives its message every time.
    MachineValue path(kMsinfoKey, "PATH"), location(kMsinfoLocationKey, "MSINFO");
    path.Remove();
    location.Remove();
    TestFolder folder(L"leaks-sysinfo");
    const AboutSession s = StartAbout(folder);
    HWND about = s.about;
    ASSERT_NE(about, nullptr);
    Meter meter(s.settings.process, folder.scr() + L" /c");
    ASSERT_TRUE(meter.ok());
    ExpectFlatOver(meter, 10, 100, "messages", [&](int round) {
        PressSysInfo(about);
        HWND box = WaitForMessageBox(s.settings.process.pid());
        ASSERT_NE(box, nullptr) << "no message in round " << round;
        ASSERT_NE(ChildWithText(box, kSysInfoUnavailable), nullptr) << "round " << round;
        ASSERT_TRUE(CloseMessageBox(box)) << "round " << round;
    });
    EXPECT_TRUE(::IsWindow(about));
    ::PostMessageW(about, WM_CLOSE, 0, 0);
    EXPECT_TRUE(WaitUntil([&] { return !::IsWindow(about); }, 3000));
}

}  // namespace
}  // namespace lumora::e2e
