// The About box: its texts against the executable's own version record, its
// keys, and the system-information button against registry values set here.
#include "common/UniqueHandle_win.h"
#include "resource.h"
#include "tests/e2e/Driver_win.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <optional>

namespace lumora::e2e {
namespace {

constexpr wchar_t kTitle[] = L"Lumora";
constexpr wchar_t kAboutCaption[] = L"Lumoraのﾊﾞｰｼﾞｮﾝ情報";
constexpr wchar_t kSysInfoButton[] = L"ｼｽﾃﾑ情報(&S)...";
constexpr wchar_t kUnavailable[] = L"この環境ではシステム情報を使用できません。";
constexpr char kMsinfoKey[] = "SOFTWARE\\Microsoft\\Shared Tools\\MSINFO";
constexpr char kLocationKey[] = "SOFTWARE\\Microsoft\\Shared Tools Location";


std::string Narrow(const std::wstring& text) {
    // The paths used here are ASCII, the same in every ANSI code page.
    return std::string(text.begin(), text.end());
}

std::wstring DriverFolder() {
    wchar_t path[MAX_PATH * 4];
    const DWORD n = ::GetModuleFileNameW(nullptr, path, static_cast<DWORD>(std::size(path)));
    std::wstring p(path, n);
    return p.substr(0, p.find_last_of(L'\\'));
}

std::wstring MarkerExe() { return DriverFolder() + L"\\LumoraMarker.exe"; }

bool PlaceMarker(const std::wstring& path) { return ::CopyFileW(MarkerExe().c_str(), path.c_str(), FALSE) != FALSE; }

// What the marker program left beside itself, if it ran.
std::optional<std::string> MarkerRecord(const std::wstring& exe) {
    HANDLE file = ::CreateFileW((exe + L".ran").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return std::nullopt;
    std::string bytes(4096, '\0');
    DWORD read = 0;
    ::ReadFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &read, nullptr);
    ::CloseHandle(file);
    bytes.resize(read);
    return bytes;
}

// What the marker records when started as the launcher should start it: its
// own path quoted as the whole command line, in a normal window.
std::string QuotedRecord(const std::wstring& exe) {
    std::string record = "\"";
    record += WideToUtf8(exe);
    record += "\"\nshow=1";
    return record;
}

// One HKLM value set or removed for the life of a test; what was there before
// comes back afterwards, and keys made for it go again.
class MachineValue {
public:
    MachineValue(std::string key, std::string name) : key_(std::move(key)), name_(std::move(name)) {
        HKEY h = nullptr;
        if (::RegOpenKeyExA(HKEY_LOCAL_MACHINE, key_.c_str(), 0, KEY_QUERY_VALUE | KEY_WOW64_64KEY, &h) == 0) {
            DWORD type = 0, size = 0;
            if (::RegQueryValueExA(h, name_.c_str(), nullptr, &type, nullptr, &size) == 0) {
                std::vector<BYTE> data(size);
                if (::RegQueryValueExA(h, name_.c_str(), nullptr, &type, data.data(), &size) == 0)
                    before_ = std::make_pair(type, std::move(data));
            }
            ::RegCloseKey(h);
        }
    }
    ~MachineValue() {
        if (before_) {
            Set(before_->first, before_->second);
        } else {
            Remove();
        }
        // Deepest first: only the keys this test made.
        for (auto it = madeKeys_.rbegin(); it != madeKeys_.rend(); ++it)
            ::RegDeleteKeyExA(HKEY_LOCAL_MACHINE, it->c_str(), KEY_WOW64_64KEY, 0);
    }
    MachineValue(const MachineValue&) = delete;
    MachineValue& operator=(const MachineValue&) = delete;

    bool Set(DWORD type, const std::vector<BYTE>& data) {
        NoteKeysToMake();
        HKEY h = nullptr;
        if (::RegCreateKeyExA(HKEY_LOCAL_MACHINE, key_.c_str(), 0, nullptr, 0, KEY_SET_VALUE | KEY_WOW64_64KEY,
                              nullptr, &h, nullptr) != 0)
            return false;
        const LONG status = ::RegSetValueExA(h, name_.c_str(), 0, type, data.data(), static_cast<DWORD>(data.size()));
        ::RegCloseKey(h);
        return status == 0;
    }
    bool SetString(const std::string& text) {
        std::vector<BYTE> data(text.begin(), text.end());
        data.push_back(0);
        return Set(REG_SZ, data);
    }
    void Remove() {
        HKEY h = nullptr;
        if (::RegOpenKeyExA(HKEY_LOCAL_MACHINE, key_.c_str(), 0, KEY_SET_VALUE | KEY_WOW64_64KEY, &h) == 0) {
            ::RegDeleteValueA(h, name_.c_str());
            ::RegCloseKey(h);
        }
    }

private:
    void NoteKeysToMake() {
        if (noted_) return;
        noted_ = true;
        for (size_t end = key_.find('\\'); ; end = key_.find('\\', end + 1)) {
            const std::string prefix = key_.substr(0, end);
            HKEY h = nullptr;
            if (::RegOpenKeyExA(HKEY_LOCAL_MACHINE, prefix.c_str(), 0, KEY_QUERY_VALUE | KEY_WOW64_64KEY, &h) == 0)
                ::RegCloseKey(h);
            else
                madeKeys_.push_back(prefix);
            if (end == std::string::npos) break;
        }
    }

    std::string key_, name_;
    std::optional<std::pair<DWORD, std::vector<BYTE>>> before_;
    std::vector<std::string> madeKeys_;
    bool noted_ = false;
};

// The settings dialog with its About box open.
struct AboutSession {
    Process process;
    HWND settings = nullptr;
    HWND about = nullptr;
};

HWND OpenAbout(const Process& p, HWND settings) {
    ::PostMessageW(settings, WM_COMMAND, MAKEWPARAM(IDM_MENU_VERSION, 0), 0);
    return WaitForWindow(p.pid(), kAboutCaption);
}

AboutSession StartAbout(const TestFolder& folder) {
    AboutSession s;
    s.process = Process::Start(folder.scr(), L"/c");
    s.settings = WaitForWindow(s.process.pid(), kTitle);
    if (s.settings) s.about = OpenAbout(s.process, s.settings);
    return s;
}

struct AboutContents {
    std::vector<std::wstring> texts;  // non-empty static texts, in tab order
    int emptyStatics = 0;
    int icons = 0;
    std::vector<std::wstring> buttons;
};

AboutContents ReadAbout(HWND about) {
    AboutContents c;
    for (HWND child : ChildWindows(about)) {
        if (!::IsWindowVisible(child)) continue;
        const std::wstring cls = ClassName(child);
        if (cls == L"Button") {
            c.buttons.push_back(WindowText(child));
        } else if (cls == L"Static") {
            if ((::GetWindowLongPtrW(child, GWL_STYLE) & SS_TYPEMASK) == SS_ICON) {
                if (::SendMessageW(child, STM_GETICON, 0, 0)) ++c.icons;
            } else if (WindowText(child).empty()) {
                ++c.emptyStatics;
            } else {
                c.texts.push_back(WindowText(child));
            }
        }
    }
    return c;
}

// The message box of the launcher, if one is open.
HWND FindMessageBox(DWORD pid) {
    for (HWND hwnd : TopWindowsOf(pid))
        if (ClassName(hwnd) == L"#32770" && WindowText(hwnd) == kTitle) return hwnd;
    return nullptr;
}

HWND WaitForMessageBox(DWORD pid, DWORD timeoutMs = 5000) {
    HWND box = nullptr;
    WaitUntil([&] { return (box = FindMessageBox(pid)) != nullptr; }, timeoutMs);
    return box;
}

void PressSysInfo(const AboutSession& s) {
    HWND button = ChildWithText(s.about, kSysInfoButton);
    ::PostMessageW(s.about, WM_COMMAND, MAKEWPARAM(::GetDlgCtrlID(button), BN_CLICKED), reinterpret_cast<LPARAM>(button));
}

void SaveWindowShot(HWND hwnd, const wchar_t* name) {
    ::Sleep(300);
    EXPECT_TRUE(CaptureWindow(hwnd).Save(OutDir() + L"\\" + name));
}

TEST(AboutBox, ShowsTheVersionRecordOfTheExecutable) {
    VersionRecord record(ScrPath());
    ASSERT_TRUE(record.ok());
    const VS_FIXEDFILEINFO* fixed = record.Fixed();
    ASSERT_NE(fixed, nullptr);
    const std::wstring version = L"ﾊﾞｰｼﾞｮﾝ " + std::to_wstring(HIWORD(fixed->dwFileVersionMS)) + L"." +
                                 std::to_wstring(LOWORD(fixed->dwFileVersionMS)) + L"." +
                                 std::to_wstring(LOWORD(fixed->dwFileVersionLS));
    const std::wstring company = record.String(L"CompanyName").value_or(L"");
    const std::wstring copyright = record.String(L"LegalCopyright").value_or(L"");
    ASSERT_FALSE(company.empty());
    ASSERT_FALSE(copyright.empty());
    // With no double blank the copyright line is shown as recorded.
    ASSERT_EQ(copyright.find(L"  "), std::wstring::npos);

    TestFolder folder(L"about-texts");
    AboutSession s = StartAbout(folder);
    ASSERT_NE(s.about, nullptr);
    // Twice, closed in between: a fresh box with the same texts each time.
    for (int round = 0; round < 2; ++round) {
        SCOPED_TRACE(round);
        const AboutContents c = ReadAbout(s.about);
        EXPECT_EQ(c.texts, (std::vector<std::wstring>{L"Lumora", version, company, copyright}));
        EXPECT_EQ(version, L"ﾊﾞｰｼﾞｮﾝ 1.0.0");
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
            ::Sleep(300);
            EXPECT_FALSE(TitleBarHasRed(s.about)) << "the caption shows an icon";
        }
        EXPECT_EQ(::GetWindow(s.about, GW_OWNER), s.settings);
        EXPECT_FALSE(::IsWindowEnabled(s.settings));

        RECT client{};
        ::GetClientRect(s.about, &client);
        EXPECT_EQ(client.right, TwipsToPixels(6105));
        EXPECT_EQ(client.bottom, TwipsToPixels(2880));

        // cmdOK has the focus when the box opens.
        GUITHREADINFO gui{};
        gui.cbSize = sizeof(gui);
        ASSERT_TRUE(::GetGUIThreadInfo(::GetWindowThreadProcessId(s.about, nullptr), &gui));
        EXPECT_EQ(gui.hwndFocus, ChildWithText(s.about, L"OK"));

        if (round == 0) SaveWindowShot(s.about, L"about.png");
        HWND closed = s.about;
        ::PostMessageW(s.about, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
        ASSERT_TRUE(WaitUntil([&] { return !::IsWindow(closed); }, 3000));
        EXPECT_TRUE(WaitUntil([&] { return ::IsWindowEnabled(s.settings) != FALSE; }, 3000));
        if (round == 0) {
            s.about = OpenAbout(s.process, s.settings);
            ASSERT_NE(s.about, nullptr);
            EXPECT_NE(s.about, closed);
        }
    }
    EXPECT_TRUE(s.process.Running());
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

    // The etched separator: grey 128,128,128 at 1830 twips across the box.
    ::Sleep(300);
    const Image shot = CaptureScreen();
    const int y = origin.top + TwipsToPixels(1830);
    for (int x : {TwipsToPixels(200), TwipsToPixels(3000), TwipsToPixels(5900)})
        EXPECT_TRUE(NearColour(shot.At(origin.left + x, y), 0x808080, 2)) << std::hex << shot.At(origin.left + x, y);
    EXPECT_TRUE(NearColour(shot.At(origin.left + TwipsToPixels(3000), origin.top + TwipsToPixels(1800)), 0xFFFFFF, 2));
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

class AboutCloseTest : public ::testing::TestWithParam<WORD> {};

TEST_P(AboutCloseTest, KeyClosesTheBoxAndTheSettingsDialogStays) {
    TestFolder folder(L"about-keys");
    AboutSession s = StartAbout(folder);
    ASSERT_NE(s.about, nullptr);
    ::SetForegroundWindow(s.about);
    WaitUntil([&] { return ::GetForegroundWindow() == s.about; }, 2000);
    PressKey(GetParam());
    EXPECT_TRUE(WaitUntil([&] { return !::IsWindow(s.about); }, 3000));
    EXPECT_TRUE(WaitUntil([&] { return ::IsWindowEnabled(s.settings) != FALSE; }, 3000));
    ::Sleep(300);
    EXPECT_TRUE(s.process.Running());
    EXPECT_EQ(TopWindowsOf(s.process.pid()), std::vector<HWND>{s.settings});
}

INSTANTIATE_TEST_SUITE_P(AboutKeys, AboutCloseTest, ::testing::Values(WORD{VK_RETURN}, WORD{VK_ESCAPE}),
                         [](const auto& info) { return std::string(info.param == VK_RETURN ? "Enter" : "Escape"); });

// --- the system-information button -----------------------------------------

class AboutSysInfo : public ::testing::Test {
protected:
    void SetUp() override {
        // Both values start absent in every test; the old ones come back after.
        path_.Remove();
        folder_.Remove();
    }

    // Presses the button and expects the one message; closes it again.
    void ExpectMessage(const AboutSession& s) {
        PressSysInfo(s);
        HWND box = WaitForMessageBox(s.process.pid());
        ASSERT_NE(box, nullptr) << "no message";
        EXPECT_NE(ChildWithText(box, kUnavailable), nullptr);
        EXPECT_EQ(::GetWindow(box, GW_OWNER), s.about);
        ::PostMessageW(box, WM_COMMAND, IDOK, 0);
        EXPECT_TRUE(WaitUntil([&] { return !::IsWindow(box); }, 3000));
        EXPECT_TRUE(::IsWindow(s.about)) << "the About box stays open";
    }

    MachineValue path_{kMsinfoKey, "PATH"};
    MachineValue folder_{kLocationKey, "MSINFO"};
};

TEST_F(AboutSysInfo, PathValueStartsThatProgramQuotedInANormalWindow) {
    TestFolder folder(L"about-sysinfo-path");
    const std::wstring tool = folder.file(L"msinfo32.exe");
    ASSERT_TRUE(PlaceMarker(tool));
    ASSERT_TRUE(path_.SetString(Narrow(tool)));
    AboutSession s = StartAbout(folder);
    ASSERT_NE(s.about, nullptr);
    PressSysInfo(s);
    std::optional<std::string> record;
    ASSERT_TRUE(WaitUntil([&] { return (record = MarkerRecord(tool)).has_value(); }, 5000));
    EXPECT_EQ(*record, QuotedRecord(tool));
    ::Sleep(500);
    EXPECT_EQ(FindMessageBox(s.process.pid()), nullptr);
    EXPECT_TRUE(::IsWindow(s.about));
}

TEST_F(AboutSysInfo, AltSPressesTheButton) {
    TestFolder folder(L"about-sysinfo-alt-s");
    const std::wstring tool = folder.file(L"msinfo32.exe");
    ASSERT_TRUE(PlaceMarker(tool));
    ASSERT_TRUE(path_.SetString(Narrow(tool)));
    AboutSession s = StartAbout(folder);
    ASSERT_NE(s.about, nullptr);
    ::SetForegroundWindow(s.about);
    WaitUntil([&] { return ::GetForegroundWindow() == s.about; }, 2000);
    PressKeys({VK_MENU, 'S'});
    EXPECT_TRUE(WaitUntil([&] { return MarkerRecord(tool).has_value(); }, 5000));
}

TEST_F(AboutSysInfo, PathNamingAMissingFileGivesTheMessageWithoutTryingTheFolder) {
    TestFolder folder(L"about-sysinfo-missing");
    const std::wstring folderTool = folder.file(L"MSINFO32.EXE");
    ASSERT_TRUE(PlaceMarker(folderTool));
    ASSERT_TRUE(path_.SetString(Narrow(folder.file(L"missing\\msinfo32.exe"))));
    ASSERT_TRUE(folder_.SetString(Narrow(folder.path())));
    AboutSession s = StartAbout(folder);
    ASSERT_NE(s.about, nullptr);
    ExpectMessage(s);
    // The button works again, with the same answer.
    ExpectMessage(s);
    EXPECT_FALSE(MarkerRecord(folderTool).has_value());
}

TEST_F(AboutSysInfo, FolderValueStartsTheProgramInThatFolder) {
    TestFolder folder(L"about-sysinfo-folder");
    const std::wstring tool = folder.file(L"MSINFO32.EXE");
    ASSERT_TRUE(PlaceMarker(tool));
    ASSERT_TRUE(folder_.SetString(Narrow(folder.path())));
    AboutSession s = StartAbout(folder);
    ASSERT_NE(s.about, nullptr);
    PressSysInfo(s);
    std::optional<std::string> record;
    ASSERT_TRUE(WaitUntil([&] { return (record = MarkerRecord(tool)).has_value(); }, 5000));
    EXPECT_EQ(*record, QuotedRecord(tool));
}

TEST_F(AboutSysInfo, FolderWithoutTheFileOrWithItHiddenGivesTheMessage) {
    TestFolder folder(L"about-sysinfo-folder-hidden");
    const std::wstring tool = folder.file(L"MSINFO32.EXE");
    ASSERT_TRUE(folder_.SetString(Narrow(folder.path())));
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

TEST_F(AboutSysInfo, NothingInTheRegistryGivesTheMessage) {
    TestFolder folder(L"about-sysinfo-nothing");
    AboutSession s = StartAbout(folder);
    ASSERT_NE(s.about, nullptr);
    ExpectMessage(s);
}

TEST_F(AboutSysInfo, ExpandableStringPathGivesTheMessageWithoutTheFolder) {
    TestFolder folder(L"about-sysinfo-expand");
    const std::wstring tool = folder.file(L"MSINFO32.EXE");
    ASSERT_TRUE(PlaceMarker(tool));
    const std::string text = Narrow(tool);
    ASSERT_TRUE(path_.Set(REG_EXPAND_SZ, std::vector<BYTE>(text.begin(), text.end() + 1)));
    ASSERT_TRUE(folder_.SetString(Narrow(folder.path())));
    AboutSession s = StartAbout(folder);
    ASSERT_NE(s.about, nullptr);
    ExpectMessage(s);
    EXPECT_FALSE(MarkerRecord(tool).has_value());
}

TEST_F(AboutSysInfo, OverlongPathLeavesTheDecisionToTheFolder) {
    TestFolder folder(L"about-sysinfo-overlong");
    const std::wstring tool = folder.file(L"MSINFO32.EXE");
    ASSERT_TRUE(PlaceMarker(tool));
    ASSERT_TRUE(path_.SetString("C:\\" + std::string(1100, 'x') + ".exe"));
    ASSERT_TRUE(folder_.SetString(Narrow(folder.path())));
    AboutSession s = StartAbout(folder);
    ASSERT_NE(s.about, nullptr);
    PressSysInfo(s);
    EXPECT_TRUE(WaitUntil([&] { return MarkerRecord(tool).has_value(); }, 5000));
}

// Regression: started from an unquoted command line, a path with blanks ran
// C:\Program.exe instead of the tool under C:\Program Files.
TEST_F(AboutSysInfo, PathWithBlanksStartsThatFileNotAProgramEarlierOnThePath) {
    const std::wstring toolFolder = L"C:\\Program Files\\Lumora Test Tool";
    const std::wstring tool = toolFolder + L"\\msinfo32.exe";
    const std::wstring decoy = L"C:\\Program.exe";
    ASSERT_EQ(::GetFileAttributesW(decoy.c_str()), INVALID_FILE_ATTRIBUTES) << "C:\\Program.exe exists already";
    ::CreateDirectoryW(toolFolder.c_str(), nullptr);
    ASSERT_TRUE(PlaceMarker(tool));
    ASSERT_TRUE(PlaceMarker(decoy));
    ASSERT_TRUE(path_.SetString(Narrow(tool)));
    {
        TestFolder folder(L"about-sysinfo-blanks");
        AboutSession s = StartAbout(folder);
        ASSERT_NE(s.about, nullptr);
        PressSysInfo(s);
        std::optional<std::string> record;
        EXPECT_TRUE(WaitUntil([&] { return (record = MarkerRecord(tool)).has_value(); }, 5000));
        if (record) {
            EXPECT_EQ(*record, QuotedRecord(tool));
        }
        ::Sleep(1000);
        EXPECT_FALSE(MarkerRecord(decoy).has_value()) << "the decoy ran";
        EXPECT_EQ(FindMessageBox(s.process.pid()), nullptr);
    }
    for (const std::wstring& f : {decoy, decoy + L".ran", tool, tool + L".ran"}) ::DeleteFileW(f.c_str());
    ::RemoveDirectoryW(toolFolder.c_str());
}

}  // namespace
}  // namespace lumora::e2e
