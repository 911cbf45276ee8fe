// Long runs leave the saver's resources flat: a thousand picture changes over
// good, missing and broken pictures, two hundred About boxes and a hundred
// system-information messages. Counters are read after a warm-up and at the
// end; only growth beyond a small stated margin fails.
#include "resource.h"
#include "saver/PictureCycle.h"
#include "tests/e2e/Driver_win.h"

#include <gtest/gtest.h>
#include <psapi.h>
#include <winternl.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace lumora::e2e {
namespace {

constexpr wchar_t kCaption[] = L"Form1";
constexpr wchar_t kTitle[] = L"Lumora";
constexpr wchar_t kAboutCaption[] = L"Lumoraのﾊﾞｰｼﾞｮﾝ情報";
constexpr wchar_t kSysInfoButton[] = L"ｼｽﾃﾑ情報(&S)...";
constexpr wchar_t kUnavailable[] = L"この環境ではシステム情報を使用できません。";
constexpr UINT_PTR kTimer1Id = 1;

// Allowed growth between the warm-up reading and the last one.
constexpr long kHandleMargin = 4;
constexpr long kGuiObjectMargin = 4;
constexpr long long kPrivateBytesMargin = 1024 * 1024;
constexpr long long kRssMarginKb = 2048;
constexpr long kFdMargin = 2;

std::wstring PictureName(int n) { return PictureFileName(L"", static_cast<std::int16_t>(n)).substr(1); }

std::string ReadWholeFile(const std::wstring& path) {
    HANDLE h = ::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0,
                             nullptr);
    if (h == INVALID_HANDLE_VALUE) return {};
    std::string bytes;
    char buffer[4096];
    DWORD read = 0;
    while (::ReadFile(h, buffer, sizeof(buffer), &read, nullptr) && read > 0) bytes.append(buffer, read);
    ::CloseHandle(h);
    return bytes;
}

// Wine hands out no GDI or USER counts and knows the process only by its
// Windows id; Linux knows it by the command line, which Wine sets to the
// Windows one. The unique test folder in it picks the right process.
int LinuxPidOf(const std::wstring& commandLinePart) {
    const std::string wanted = WideToUtf8(commandLinePart);
    WIN32_FIND_DATAW found{};
    HANDLE find = ::FindFirstFileW(L"Z:\\proc\\*", &found);
    if (find == INVALID_HANDLE_VALUE) return 0;
    int pid = 0;
    do {
        const int candidate = _wtoi(found.cFileName);
        if (candidate <= 0) continue;
        std::string cmdline = ReadWholeFile(L"Z:\\proc\\" + std::wstring(found.cFileName) + L"\\cmdline");
        for (char& c : cmdline)
            if (c == '\0') c = ' ';
        if (cmdline.find(wanted) != std::string::npos && cmdline.find("Lumora.scr") != std::string::npos) pid = candidate;
    } while (!pid && ::FindNextFileW(find, &found));
    ::FindClose(find);
    return pid;
}

template <typename Function>
Function NtdllFunction(const char* name) {
    return reinterpret_cast<Function>(reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleW(L"ntdll.dll"), name)));
}

// The system's handle table, as Wine also keeps it: how many the process holds.
struct HandleEntryEx {
    PVOID Object;
    ULONG_PTR UniqueProcessId;
    ULONG_PTR HandleValue;
    ULONG GrantedAccess;
    USHORT CreatorBackTraceIndex;
    USHORT ObjectTypeIndex;
    ULONG HandleAttributes;
    ULONG Reserved;
};
constexpr ULONG kSystemExtendedHandleInformation = 64;

long HandlesOwnedBy(DWORD pid) {
    using Query = NTSTATUS(NTAPI*)(ULONG, PVOID, ULONG, PULONG);
    const auto query = NtdllFunction<Query>("NtQuerySystemInformation");
    if (!query) return -1;
    std::vector<BYTE> buffer(1 << 20);
    for (int attempt = 0; attempt < 8; ++attempt) {
        ULONG needed = 0;
        const NTSTATUS status = query(kSystemExtendedHandleInformation, buffer.data(), static_cast<ULONG>(buffer.size()), &needed);
        if (status == static_cast<NTSTATUS>(0xC0000004)) {  // too small
            buffer.resize(std::max<size_t>(needed + 65536, buffer.size() * 2));
            continue;
        }
        if (status != 0) return -1;
        const auto count = *reinterpret_cast<const ULONG_PTR*>(buffer.data());
        const auto* entries = reinterpret_cast<const HandleEntryEx*>(buffer.data() + 2 * sizeof(ULONG_PTR));
        long owned = 0;
        for (ULONG_PTR i = 0; i < count; ++i)
            if (entries[i].UniqueProcessId == pid) ++owned;
        return owned;
    }
    return -1;
}

// Wine keeps each process's GDI objects in a table the PEB points to, as
// Windows once did; an entry with a type is an object in use.
struct WineGdiEntry {
    UINT64 Object;
    ULONG Owner;
    USHORT Unique;
    UCHAR Type;
    UCHAR Flags;
    UINT64 UserPointer;
};
static_assert(sizeof(WineGdiEntry) == 24);
constexpr size_t kGdiTableEntries = 0x10000;
constexpr size_t kPebGdiSharedHandleTable = 0xF8;

long GdiObjectsInTable(HANDLE process) {
    using Query = NTSTATUS(NTAPI*)(HANDLE, ULONG, PVOID, ULONG, PULONG);
    const auto query = NtdllFunction<Query>("NtQueryInformationProcess");
    PROCESS_BASIC_INFORMATION basic{};
    if (!query || query(process, 0 /* ProcessBasicInformation */, &basic, sizeof(basic), nullptr) != 0) return -1;
    ULONG_PTR table = 0;
    if (!::ReadProcessMemory(process, reinterpret_cast<const BYTE*>(basic.PebBaseAddress) + kPebGdiSharedHandleTable,
                             &table, sizeof(table), nullptr) ||
        !table)
        return -1;
    std::vector<WineGdiEntry> entries(kGdiTableEntries);
    SIZE_T read = 0;
    ::ReadProcessMemory(process, reinterpret_cast<const void*>(table), entries.data(),
                        entries.size() * sizeof(WineGdiEntry), &read);
    if (read < sizeof(WineGdiEntry)) return -1;
    long used = 0;
    for (size_t i = 0; i < read / sizeof(WineGdiEntry); ++i)
        if (entries[i].Type) ++used;
    return used;
}

struct Counters {
    DWORD gdi = 0, user = 0, handles = 0;
    long long privateBytes = -1;
    long windows = 0;  // top-level windows, hidden ones too, and all their children
    long systemHandles = -1;  // from the system's handle table
    long gdiTable = -1;       // from the process's GDI handle table
    long long rssKb = -1;
    long long anonKb = -1;  // resident private (anonymous) memory
    long fds = -1;
};

class Meter {
public:
    Meter(const Process& p, const std::wstring& folder)
        : pid_(p.pid()), query_(::OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, p.pid())),
          linuxPid_(LinuxPidOf(folder)) {}
    ~Meter() {
        if (query_) ::CloseHandle(query_);
    }
    Meter(const Meter&) = delete;
    Meter& operator=(const Meter&) = delete;

    bool ok() const { return query_ != nullptr; }

    Counters Read() const {
        Counters c;
        c.gdi = ::GetGuiResources(query_, GR_GDIOBJECTS);
        c.user = ::GetGuiResources(query_, GR_USEROBJECTS);
        ::GetProcessHandleCount(query_, &c.handles);
        PROCESS_MEMORY_COUNTERS_EX pmc{};
        pmc.cb = sizeof(pmc);
        if (::GetProcessMemoryInfo(query_, reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&pmc), sizeof(pmc)))
            c.privateBytes = static_cast<long long>(pmc.PrivateUsage);
        c.systemHandles = HandlesOwnedBy(pid_);
        c.gdiTable = GdiObjectsInTable(query_);
        for (HWND top : TopWindowsOf(pid_, false)) c.windows += 1 + static_cast<long>(ChildWindows(top).size());
        if (linuxPid_) {
            const std::wstring dir = L"Z:\\proc\\" + std::to_wstring(linuxPid_);
            const std::string status = ReadWholeFile(dir + L"\\status");
            if (const auto at = status.find("VmRSS:"); at != std::string::npos)
                c.rssKb = std::atoll(status.c_str() + at + 6);
            if (const auto at = status.find("RssAnon:"); at != std::string::npos)
                c.anonKb = std::atoll(status.c_str() + at + 8);
            WIN32_FIND_DATAW found{};
            HANDLE find = ::FindFirstFileW((dir + L"\\fd\\*").c_str(), &found);
            if (find != INVALID_HANDLE_VALUE) {
                c.fds = 0;
                do {
                    if (found.cFileName[0] != L'.') ++c.fds;
                } while (::FindNextFileW(find, &found));
                ::FindClose(find);
            }
        }
        return c;
    }

private:
    DWORD pid_;
    HANDLE query_;
    int linuxPid_;
};

void Print(const char* what, const Counters& c) {
    std::printf("[ FIGURES  ] %-28s GetGuiResources GDI %lu USER %lu; GetProcessHandleCount %lu; PrivateUsage %lld KB; "
                "GDI table %ld; system handle table %ld; windows %ld; Linux RSS %lld KB, anonymous %lld KB, fds %ld\n",
                what, c.gdi, c.user, c.handles, c.privateBytes / 1024, c.gdiTable, c.systemHandles, c.windows,
                c.rssKb, c.anonKb, c.fds);
    std::fflush(stdout);
}

// Every counter the platform supplies must stay flat; the ones it reports as
// zero (or cannot read) are named in the log instead.
void ExpectFlat(const Counters& warm, const Counters& last) {
    const auto growth = [](long long before, long long after) { return after - before; };
    if (warm.gdi == 0 && last.gdi == 0) {
        std::printf("[ FIGURES  ] GetGuiResources: not supplied here (0); GDI from the GDI handle table, "
                    "USER as the windows of the process\n");
        if (warm.gdiTable >= 0 && last.gdiTable >= 0) {
            EXPECT_LE(growth(warm.gdiTable, last.gdiTable), kGuiObjectMargin) << "GDI objects (handle table)";
        } else {
            std::printf("[ FIGURES  ] GDI handle table: not readable either; GDI objects not measured\n");
        }
    } else {
        EXPECT_LE(growth(warm.gdi, last.gdi), kGuiObjectMargin) << "GDI objects";
        EXPECT_LE(growth(warm.user, last.user), kGuiObjectMargin) << "USER objects";
    }
    if (warm.handles == 0) {
        std::printf("[ FIGURES  ] GetProcessHandleCount: not supplied here (0); handles from the system's table\n");
        if (warm.systemHandles >= 0 && last.systemHandles >= 0) {
            EXPECT_LE(growth(warm.systemHandles, last.systemHandles), kHandleMargin) << "handles (system table)";
        } else {
            std::printf("[ FIGURES  ] system handle table: not readable either; handles not measured\n");
        }
    } else {
        EXPECT_LE(growth(warm.handles, last.handles), kHandleMargin) << "handles";
    }
    if (warm.privateBytes <= 0) {
        std::printf("[ FIGURES  ] PrivateUsage: not supplied here (0); private memory as Linux's anonymous resident set\n");
    } else {
        EXPECT_LE(growth(warm.privateBytes, last.privateBytes), kPrivateBytesMargin) << "private bytes";
    }
    EXPECT_EQ(last.windows, warm.windows) << "windows (USER objects seen from outside)";
    if (warm.rssKb < 0 || warm.fds < 0) {
        std::printf("[ FIGURES  ] Linux side: process not found under /proc\n");
    } else {
        EXPECT_LE(growth(warm.rssKb, last.rssKb), kRssMarginKb) << "Linux resident set";
        if (warm.anonKb >= 0) {
            EXPECT_LE(growth(warm.anonKb, last.anonKb), kRssMarginKb) << "Linux anonymous memory";
        }
        EXPECT_LE(growth(warm.fds, last.fds), kFdMargin) << "Linux file descriptors";
    }
    std::printf("[ FIGURES  ] margins: handles +%ld, GDI/USER +%ld, private bytes +%lld KB, Linux memory +%lld KB, "
                "fds +%ld, windows +0\n",
                kHandleMargin, kGuiObjectMargin, kPrivateBytesMargin / 1024, kRssMarginKb, kFdMargin);
    std::fflush(stdout);
}

std::uint32_t ScreenPixel(int x, int y) {
    HDC screen = ::GetDC(nullptr);
    const COLORREF c = ::GetPixel(screen, x, y);
    ::ReleaseDC(nullptr, screen);
    return ((c & 0xFF) << 16) | (c & 0xFF00) | ((c >> 16) & 0xFF);
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
            std::string bytes = ReadWholeFile(path);
            bytes.resize(std::min<size_t>(bytes.size(), 60));
            ASSERT_TRUE(folder.Write(PictureName(n), std::vector<std::uint8_t>(bytes.begin(), bytes.end())));
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
    Process p = Process::Start(folder.scr(), L"/s");
    HWND form = WaitForWindow(p.pid(), kCaption, 10000);
    ASSERT_NE(form, nullptr);
    Meter meter(p, folder.path());
    ASSERT_TRUE(meter.ok());
    const int cx = ::GetSystemMetrics(SM_CXSCREEN) / 2, cy = ::GetSystemMetrics(SM_CYSCREEN) / 2;
    const auto showsPictureOne = [&] { return NearColour(ScreenPixel(cx, cy), 0x20C040, 24) ||
                                              NearColour(ScreenPixel(cx, cy), 0x20C040 ^ 0x303030, 24); };

    Print("at load", meter.Read());
    Counters warm;
    for (int tick = 1; tick <= 1000; ++tick) {
        ::SendMessageW(form, WM_TIMER, kTimer1Id, 0);
        if (tick == 100) {
            // Picture 1 again after two rounds: every tick changed the picture.
            EXPECT_TRUE(WaitUntil(showsPictureOne, 2000)) << "the cycle did not advance on every tick";
            warm = meter.Read();
            Print("after 100 ticks (warm-up)", warm);
        }
        if (tick == 550) Print("after 550 ticks", meter.Read());
        if (tick % 50 == 0) {
            ASSERT_TRUE(p.Running()) << "ended after " << tick << " ticks";
        }
    }
    EXPECT_TRUE(WaitUntil(showsPictureOne, 2000))
        << "the cycle did not advance on every tick; centre pixel " << std::hex << ScreenPixel(cx, cy);
    const Counters last = meter.Read();
    Print("after 1000 ticks", last);
    ExpectFlat(warm, last);

    PressKey(VK_SPACE);
    EXPECT_TRUE(p.WaitExit(5000));
    EXPECT_TRUE(WaitUntil(TaskbarVisible, 2000));
}

// --- the settings dialog's About box ----------------------------------------

bool MachineValueExists(const char* key, const char* name) {
    HKEY h = nullptr;
    if (::RegOpenKeyExA(HKEY_LOCAL_MACHINE, key, 0, KEY_QUERY_VALUE | KEY_WOW64_64KEY, &h) != ERROR_SUCCESS)
        return false;
    const bool exists = ::RegQueryValueExA(h, name, nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
    ::RegCloseKey(h);
    return exists;
}

HWND FindMessageBox(DWORD pid) {
    for (HWND hwnd : TopWindowsOf(pid))
        if (ClassName(hwnd) == L"#32770" && WindowText(hwnd) == kTitle) return hwnd;
    return nullptr;
}

struct SettingsSession {
    Process process;
    HWND settings = nullptr;
};

SettingsSession StartSettings(const TestFolder& folder) {
    SettingsSession s;
    s.process = Process::Start(folder.scr(), L"/c");
    s.settings = WaitForWindow(s.process.pid(), kTitle, 10000);
    return s;
}

HWND OpenAbout(const SettingsSession& s) {
    ::PostMessageW(s.settings, WM_COMMAND, MAKEWPARAM(IDM_MENU_VERSION, 0), 0);
    return WaitForWindow(s.process.pid(), kAboutCaption, 5000);
}

TEST(Leaks, AboutBoxOpenedAndClosed200TimesKeepsResourcesFlat) {
    TestFolder folder(L"leaks-about");
    SettingsSession s = StartSettings(folder);
    ASSERT_NE(s.settings, nullptr);
    Meter meter(s.process, folder.path());
    ASSERT_TRUE(meter.ok());
    Print("settings at load", meter.Read());
    Counters warm;
    for (int round = 1; round <= 200; ++round) {
        HWND about = OpenAbout(s);
        ASSERT_NE(about, nullptr) << "round " << round;
        // Half the rounds by the OK button, half by the close box.
        if (round % 2)
            ::PostMessageW(about, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
        else
            ::PostMessageW(about, WM_CLOSE, 0, 0);
        ASSERT_TRUE(WaitUntil([&] { return !::IsWindow(about) && ::IsWindowEnabled(s.settings); }, 5000, 10))
            << "round " << round;
        if (round == 20) {
            warm = meter.Read();
            Print("after 20 About boxes", warm);
        }
    }
    const Counters last = meter.Read();
    Print("after 200 About boxes", last);
    ExpectFlat(warm, last);
    EXPECT_TRUE(s.process.Running());
}

TEST(Leaks, SystemInformationMessage100TimesKeepsResourcesFlat) {
    ASSERT_FALSE(MachineValueExists("SOFTWARE\\Microsoft\\Shared Tools\\MSINFO", "PATH"));
    ASSERT_FALSE(MachineValueExists("SOFTWARE\\Microsoft\\Shared Tools Location", "MSINFO"));
    TestFolder folder(L"leaks-sysinfo");
    SettingsSession s = StartSettings(folder);
    ASSERT_NE(s.settings, nullptr);
    HWND about = OpenAbout(s);
    ASSERT_NE(about, nullptr);
    HWND button = ChildWithText(about, kSysInfoButton);
    ASSERT_NE(button, nullptr);
    Meter meter(s.process, folder.path());
    ASSERT_TRUE(meter.ok());
    Counters warm;
    for (int round = 1; round <= 100; ++round) {
        ::PostMessageW(about, WM_COMMAND, MAKEWPARAM(::GetDlgCtrlID(button), BN_CLICKED),
                       reinterpret_cast<LPARAM>(button));
        HWND box = nullptr;
        ASSERT_TRUE(WaitUntil([&] { return (box = FindMessageBox(s.process.pid())) != nullptr; }, 5000, 10))
            << "no message in round " << round;
        ASSERT_NE(ChildWithText(box, kUnavailable), nullptr) << "round " << round;
        ::PostMessageW(box, WM_COMMAND, IDOK, 0);
        ASSERT_TRUE(WaitUntil([&] { return !::IsWindow(box); }, 5000, 10)) << "round " << round;
        if (round == 10) {
            warm = meter.Read();
            Print("after 10 messages", warm);
        }
    }
    const Counters last = meter.Read();
    Print("after 100 messages", last);
    ExpectFlat(warm, last);
    EXPECT_TRUE(::IsWindow(about));
    ::PostMessageW(about, WM_CLOSE, 0, 0);
    EXPECT_TRUE(WaitUntil([&] { return !::IsWindow(about); }, 3000));
}

}  // namespace
}  // namespace lumora::e2e
