// The About box: its texts as the executable's version record holds them, its
// keys, and the system-information button against registry values set here.
#include "resource.h"
#include "tools/driver/Lumora_win.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <optional>

namespace lumora::e2e {
namespace {

TEST(AboutBox, ShowsTheVersionRecordOfTheExecutable) {
    // Company and copyright as resources/Lumora.rc records them; with no double
    // blank the copyright line is shown as recorded.
    const std::wstring company = L"Lumora Project", copyright = L"Copyright (C) 2026 Lumora Project";
    TestFolder folder(L"about-texts");
    AboutSession s = StartAbout(folder);
    ASSERT_NE(s.about, nullptr);
    // Twice, closed in between: a fresh box with the same texts each time.
    for (int round = 0; round < 2; ++round) {
        SCOPED_TRACE(round);
        const DialogContents c = ReadDialog(s.about);
        EXPECT_EQ(c.texts, (std::vector<std::wstring>{L"Lumora", L"ﾊﾞｰｼﾞｮﾝ 1.0.0", company, copyright}));
        EXPECT_EQ(c.buttons, (std::vector<std::wstring>{L"OK", kSysInfoButton}));
        EXPECT_EQ(c.icons, 1);
        EXPECT_EQ(c.emptyStatics, 1) << "the disclaimer shows nothing";
        EXPECT_EQ(ChildWithText(s.about, L"ｱﾌﾟﾘｹｰｼｮﾝの説明"), nullptr);

        // Fixed dialog frame, close box only, no icon, out of the taskbar.
        const LONG_PTR style = ::GetWindowLongPtrW(s.about, GWL_STYLE);
        EXPECT_TRUE(style & WS_SYSMENU);
        EXPECT_FALSE(style & (WS_MINIMIZEBOX | WS_MAXIMIZEBOX | WS_THICKFRAME));
        EXPECT_TRUE(::GetWindowLongPtrW(s.about, GWL_EXSTYLE) & WS_EX_DLGMODALFRAME);
        if (round == 0) {
            ASSERT_TRUE(WaitUntil([&] { return TextsDrawn(s.about); }, 3000, 100));
            EXPECT_FALSE(TitleBarHasRed(s.about)) << "the caption shows an icon";
            EXPECT_TRUE(CaptureWindow(s.about).Save(OutDir() + L"\\about.png"));
        }
        EXPECT_EQ(::GetWindow(s.about, GW_OWNER), s.settings.window);
        EXPECT_FALSE(::IsWindowEnabled(s.settings.window));

        RECT client{};
        ::GetClientRect(s.about, &client);
        EXPECT_EQ(client.right, TwipsToPixels(6105));
        EXPECT_EQ(client.bottom, TwipsToPixels(2880));

        // cmdOK has the focus when the box opens.
        GUITHREADINFO gui{};
        gui.cbSize = sizeof(gui);
        ASSERT_TRUE(::GetGUIThreadInfo(::GetWindowThreadProcessId(s.about, nullptr), &gui));
        EXPECT_EQ(gui.hwndFocus, ChildWithText(s.about, L"OK"));

        HWND closed = s.about;
        ::PostMessageW(s.about, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
        ASSERT_TRUE(WaitUntil([&] { return !::IsWindow(closed); }, 3000));
        EXPECT_TRUE(WaitUntil([&] { return ::IsWindowEnabled(s.settings.window) != FALSE; }, 3000));
        if (round == 0) {
            s.about = OpenAbout(s.settings);
            ASSERT_NE(s.about, nullptr);
            EXPECT_NE(s.about, closed);
        }
    }
    EXPECT_TRUE(s.settings.process.Running());
}

TEST(AboutBox, LabelsSitWhereTheTwipsSay) {
    TestFolder folder(L"about-layout");
    AboutSession s = StartAbout(folder);
    ASSERT_NE(s.about, nullptr);
    const RECT origin = ClientRectOnScreen(s.about);
    auto placeOf = [&](HWND h) { return PlaceInClient(s.about, h); };
    const RECT title = placeOf(ChildWithText(s.about, L"Lumora"));
    EXPECT_EQ(title.left, TwipsToPixels(1050));
    EXPECT_EQ(title.top, TwipsToPixels(240));
    const RECT ok = placeOf(ChildWithText(s.about, L"OK"));
    EXPECT_EQ(ok.left, TwipsToPixels(4560));
    EXPECT_EQ(ok.top, TwipsToPixels(1980));
    EXPECT_EQ(ok.right - ok.left, TwipsToPixels(1380));
    const RECT sysInfo = placeOf(ChildWithText(s.about, kSysInfoButton));
    EXPECT_EQ(sysInfo.top, TwipsToPixels(2400));

    // The etched separator: grey 128,128,128 at 1830 twips across the box,
    // white at 1800.
    Image shot;
    const int y = origin.top + TwipsToPixels(1830);
    const auto drawn = [&] {
        for (int x : {TwipsToPixels(200), TwipsToPixels(3000), TwipsToPixels(5900)})
            if (!NearColour(shot.At(origin.left + x, y), 0x808080, 2)) return false;
        return NearColour(shot.At(origin.left + TwipsToPixels(3000), origin.top + TwipsToPixels(1800)), 0xFFFFFF, 2);
    };
    EXPECT_TRUE(WaitUntil([&] { return shot = CaptureScreen(), drawn(); }, 3000, 100))
        << "grey at the middle: " << std::hex << shot.At(origin.left + TwipsToPixels(3000), y);
}

// The picture is the icon's own image of the size its 480 twips give at the
// DPI, drawn as it is, not a smaller image enlarged.
struct IconAtDpi {
    UINT dpi;
    int size;
    const char* name;
};

class AboutIconTest : public ::testing::TestWithParam<IconAtDpi> {};

TEST_P(AboutIconTest, ShowsTheImageOfItsSizePixelForPixel) {
    const IconAtDpi& p = GetParam();
    ASSERT_EQ(::GetDpiForSystem(), p.dpi) << "the test runs at the wrong DPI";

    // What the picture must look like: that image over the dialog face.
    const UniqueModule scr(::LoadLibraryExW(ScrPath().c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE));
    ASSERT_TRUE(scr);
    const UniqueIcon icon(static_cast<HICON>(
        ::LoadImageW(scr.get(), MAKEINTRESOURCEW(IDI_APP), IMAGE_ICON, p.size, p.size, LR_DEFAULTCOLOR)));
    ASSERT_TRUE(icon);
    BITMAPINFO bi{};
    bi.bmiHeader = {sizeof(BITMAPINFOHEADER), p.size, -p.size, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
    void* bits = nullptr;
    const UniqueBitmap dib(::CreateDIBSection(nullptr, &bi, DIB_RGB_COLORS, &bits, nullptr, 0));
    const UniqueMemoryDc dc(::CreateCompatibleDC(nullptr));
    ASSERT_TRUE(dib && dc);
    {
        SelectObjectScope select(dc.get(), dib.get());
        const RECT all{0, 0, p.size, p.size};
        ::FillRect(dc.get(), &all, ::GetSysColorBrush(COLOR_BTNFACE));
        ASSERT_TRUE(::DrawIconEx(dc.get(), 0, 0, icon.get(), p.size, p.size, 0, nullptr, DI_NORMAL));
        ::GdiFlush();
    }
    std::vector<std::uint32_t> expected(static_cast<const std::uint32_t*>(bits),
                                        static_cast<const std::uint32_t*>(bits) + p.size * p.size);
    for (std::uint32_t& pixel : expected) pixel &= 0xFFFFFFu;
    ASSERT_NE(std::count(expected.begin(), expected.end(), 0xFF0000u), 0) << "no red SAVE in the image";

    TestFolder folder(L"about-icon");
    AboutSession s = StartAbout(folder);
    ASSERT_NE(s.about, nullptr);
    HWND picture = nullptr;
    for (HWND child : ChildWindows(s.about))
        if ((::GetWindowLongPtrW(child, GWL_STYLE) & SS_TYPEMASK) == SS_ICON) picture = child;
    ASSERT_NE(picture, nullptr);
    RECT place{};
    ::GetWindowRect(picture, &place);
    ASSERT_EQ(place.right - place.left, p.size);
    ASSERT_EQ(place.bottom - place.top, p.size);

    int differing = -1;
    WaitUntil(
        [&] {
            const Image shot = CaptureScreen();
            differing = 0;
            for (int y = 0; y < p.size; ++y)
                for (int x = 0; x < p.size; ++x)
                    differing += shot.At(place.left + x, place.top + y) != expected[y * p.size + x];
            return differing == 0;
        },
        3000, 100);
    EXPECT_EQ(differing, 0) << "pixels unlike the " << p.size << " px image";
}

INSTANTIATE_TEST_SUITE_P(AboutIcon, AboutIconTest,
                         ::testing::Values(IconAtDpi{96, 32, "Dpi96"}, IconAtDpi{144, 48, "Dpi144"}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(AboutBox, EnterOrEscapeClosesTheBoxAndTheSettingsDialogStays) {
    TestFolder folder(L"about-keys");
    AboutSession s = StartAbout(folder);
    for (const WORD key : {WORD{VK_RETURN}, WORD{VK_ESCAPE}}) {
        SCOPED_TRACE(key == VK_RETURN ? "Enter" : "Escape");
        if (key == VK_ESCAPE) s.about = OpenAbout(s.settings);
        ASSERT_NE(s.about, nullptr);
        Activate(s.about);
        PressKey(key);
        EXPECT_TRUE(WaitUntil([&] { return !::IsWindow(s.about) && ::IsWindowEnabled(s.settings.window); }, 3000));
        EXPECT_TRUE(KeysHandled(s.settings.window)) << "the key did more than close the box";
        EXPECT_TRUE(s.settings.process.Running());
        EXPECT_EQ(TopWindowsOf(s.settings.process.pid()), std::vector<HWND>{s.settings.window});
    }
}

// --- the system-information button -----------------------------------------

class AboutSysInfo : public ::testing::Test {
protected:
    void SetUp() override {
        // Both values start absent in every test; the old ones come back after.
        path_.Remove();
        folder_.Remove();
    }

    // Presses the button and expects the one message, text and OK only; closes it again.
    void ExpectMessage(const AboutSession& s) {
        PressSysInfo(s.about);
        HWND box = WaitForMessageBox(s.settings.process.pid());
        ASSERT_NE(box, nullptr) << "no message";
        const DialogContents c = ReadDialog(box);
        EXPECT_EQ(c.texts, std::vector<std::wstring>{kSysInfoUnavailable});
        EXPECT_EQ(c.buttons, std::vector<std::wstring>{L"OK"});
        EXPECT_EQ(c.icons, 0);
        EXPECT_EQ(::GetWindow(box, GW_OWNER), s.about);
        EXPECT_TRUE(CloseMessageBox(box));
        EXPECT_TRUE(::IsWindow(s.about)) << "the About box stays open";
    }

    // Presses the button and expects the tool at `tool` to start, quoted, in a normal window.
    void ExpectStarted(const AboutSession& s, const std::wstring& tool) {
        PressSysInfo(s.about);
        std::optional<std::string> record;
        ASSERT_TRUE(WaitUntil([&] { return (record = MarkerRecord(tool)).has_value(); }, 5000))
            << "the tool did not start";
        EXPECT_EQ(*record, QuotedRecord(tool));
    }

    MachineValue path_{kMsinfoKey, "PATH"};
    MachineValue folder_{kMsinfoLocationKey, "MSINFO"};
};

// How the registry names the tool, in a test folder that holds two stand-ins:
// "path-tool.exe" and "MSINFO32.EXE". The PATH value wins when it names a
// file; otherwise MSINFO32.EXE in the folder that MSINFO names; otherwise the
// message.
struct SysInfoCase {
    const char* what;
    DWORD pathType;  // REG_NONE: no PATH value
    std::wstring (*path)(const TestFolder& folder);
    bool folderValue;  // MSINFO names the test folder
    const wchar_t* starts;  // the stand-in that starts; null: the message, and none starts
};

TEST_F(AboutSysInfo, RegistryValuesChooseTheToolOrTheMessage) {
    const SysInfoCase cases[] = {
        {"PATH naming a file, before the folder", REG_SZ, [](const TestFolder& f) { return f.file(L"path-tool.exe"); },
         true, L"path-tool.exe"},
        {"PATH naming a missing file, the folder untried", REG_SZ,
         [](const TestFolder& f) { return f.file(L"missing\\path-tool.exe"); }, true, nullptr},
        {"the folder alone", REG_NONE, nullptr, true, L"MSINFO32.EXE"},
        {"nothing in the registry", REG_NONE, nullptr, false, nullptr},
        {"PATH as an expandable string, the folder untried", REG_EXPAND_SZ,
         [](const TestFolder& f) { return f.file(L"path-tool.exe"); }, true, nullptr},
        {"PATH too long to be a path: the folder decides", REG_SZ,
         [](const TestFolder&) { return L"C:\\" + std::wstring(1100, L'x') + L".exe"; }, true, L"MSINFO32.EXE"},
    };
    TestFolder folder(L"about-sysinfo");
    for (const wchar_t* tool : {L"path-tool.exe", L"MSINFO32.EXE"}) ASSERT_TRUE(PlaceMarker(folder.file(tool)));
    // One About box for all: the button reads the registry afresh each time.
    AboutSession s = StartAbout(folder);
    ASSERT_NE(s.about, nullptr);
    for (const SysInfoCase& c : cases) {
        SCOPED_TRACE(c.what);
        path_.Remove();
        folder_.Remove();
        if (c.pathType != REG_NONE) {
            const std::wstring path = c.path(folder);
            std::vector<BYTE> data(path.begin(), path.end());
            data.push_back(0);
            ASSERT_TRUE(path_.Set(c.pathType, data));
        }
        if (c.folderValue) {
            ASSERT_TRUE(folder_.SetString(folder.path()));
        }
        if (c.starts) {
            ExpectStarted(s, folder.file(c.starts));
            // The button's handler is done, or in the message box it made.
            EXPECT_TRUE(SendWithin(s.about, WM_NULL));
            EXPECT_EQ(FindMessageBox(s.settings.process.pid(), false), nullptr);
        } else {
            ExpectMessage(s);
        }
        for (const wchar_t* tool : {L"path-tool.exe", L"MSINFO32.EXE"}) {
            const std::wstring record = folder.file(tool) + L".ran";
            EXPECT_EQ(c.starts && *c.starts == *tool, ::DeleteFileW(record.c_str()) != FALSE) << WideToUtf8(tool);
        }
    }
}

TEST_F(AboutSysInfo, AltSPressesTheButton) {
    TestFolder folder(L"about-sysinfo-alt-s");
    const std::wstring tool = folder.file(L"msinfo32.exe");
    ASSERT_TRUE(PlaceMarker(tool));
    ASSERT_TRUE(path_.SetString(tool));
    AboutSession s = StartAbout(folder);
    ASSERT_NE(s.about, nullptr);
    Activate(s.about);
    PressKeys({VK_MENU, 'S'});
    EXPECT_TRUE(WaitUntil([&] { return MarkerRecord(tool).has_value(); }, 5000));
}

TEST_F(AboutSysInfo, FolderWithoutTheFileOrWithItHiddenGivesTheMessage) {
    TestFolder folder(L"about-sysinfo-folder-hidden");
    const std::wstring tool = folder.file(L"MSINFO32.EXE");
    ASSERT_TRUE(folder_.SetString(folder.path()));
    AboutSession s = StartAbout(folder);
    ASSERT_NE(s.about, nullptr);
    ExpectMessage(s);  // no file

    ASSERT_TRUE(PlaceMarker(tool));
    ASSERT_TRUE(::SetFileAttributesW(tool.c_str(), FILE_ATTRIBUTE_HIDDEN));
    ExpectMessage(s);
    ASSERT_TRUE(::SetFileAttributesW(tool.c_str(), FILE_ATTRIBUTE_SYSTEM));
    ExpectMessage(s);
    EXPECT_FALSE(MarkerRecord(tool).has_value());
}

// Regression: started from an unquoted command line, a path with blanks ran
// C:\Program.exe instead of the tool under C:\Program Files.
TEST_F(AboutSysInfo, PathWithBlanksStartsThatFileNotAProgramEarlierOnThePath) {
    const std::wstring decoy = L"C:\\Program.exe";
    ASSERT_EQ(::GetFileAttributesW(decoy.c_str()), INVALID_FILE_ATTRIBUTES) << "C:\\Program.exe exists already";
    const RemovedAtEnd toolFolder(L"C:\\Program Files\\Lumora Test Tool");
    const RemovedAtEnd decoyFile(decoy), decoyRecord(decoy + L".ran");
    const std::wstring tool = toolFolder.path() + L"\\msinfo32.exe";
    ASSERT_TRUE(::CreateDirectoryW(toolFolder.path().c_str(), nullptr));
    ASSERT_TRUE(PlaceMarker(tool));
    ASSERT_TRUE(PlaceMarker(decoy));
    ASSERT_TRUE(path_.SetString(tool));
    TestFolder folder(L"about-sysinfo-blanks");
    AboutSession s = StartAbout(folder);
    ASSERT_NE(s.about, nullptr);
    ExpectStarted(s, tool);
    // The button's handler is done: a decoy it started runs or has left its record.
    EXPECT_TRUE(SendWithin(s.about, WM_NULL));
    EXPECT_FALSE(ProcessRuns(L"Program.exe") || MarkerRecord(decoy).has_value()) << "the decoy ran";
    EXPECT_EQ(FindMessageBox(s.settings.process.pid(), false), nullptr);
}

}  // namespace
}  // namespace lumora::e2e
