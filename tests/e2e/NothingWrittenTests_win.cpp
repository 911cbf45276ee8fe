// The saver only reads: no run mode writes a registry value or touches a file
// in the program folder. Wine itself records a few things for any program it
// starts; the keys that change for trivial outside programs too are measured
// first, left out, and printed.
#include "resource.h"
#include "tests/e2e/Driver_win.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace lumora::e2e {
namespace {

constexpr wchar_t kCaption[] = L"Form1";
constexpr wchar_t kTitle[] = L"Lumora";
constexpr wchar_t kAboutCaption[] = L"Lumoraのﾊﾞｰｼﾞｮﾝ情報";
constexpr wchar_t kSysInfoButton[] = L"ｼｽﾃﾑ情報(&S)...";

// "ROOT\key\path" -> "type:size:fnv-hash" for every value; keys themselves as
// "ROOT\key\path\" -> "" so that a new empty key shows too.
using Snapshot = std::map<std::wstring, std::string>;

std::string Fingerprint(DWORD type, const BYTE* data, DWORD size) {
    std::uint64_t hash = 1469598103934665603ull;
    for (DWORD i = 0; i < size; ++i) hash = (hash ^ data[i]) * 1099511628211ull;
    return std::to_string(type) + ":" + std::to_string(size) + ":" + std::to_string(hash);
}

void AddKey(HKEY key, const std::wstring& path, Snapshot& out) {
    out[path + L"\\"] = "";
    std::vector<wchar_t> name(16384);
    std::vector<BYTE> data(1 << 16);
    for (DWORD i = 0;; ++i) {
        DWORD nameLength = static_cast<DWORD>(name.size()), type = 0, size = static_cast<DWORD>(data.size());
        LONG status = ::RegEnumValueW(key, i, name.data(), &nameLength, nullptr, &type, data.data(), &size);
        if (status == ERROR_MORE_DATA) {
            data.resize(size + 1);
            nameLength = static_cast<DWORD>(name.size());
            size = static_cast<DWORD>(data.size());
            status = ::RegEnumValueW(key, i, name.data(), &nameLength, nullptr, &type, data.data(), &size);
        }
        if (status != ERROR_SUCCESS) break;
        out[path + L"\\" + std::wstring(name.data(), nameLength)] = Fingerprint(type, data.data(), size);
    }
    for (DWORD i = 0;; ++i) {
        DWORD nameLength = static_cast<DWORD>(name.size());
        if (::RegEnumKeyExW(key, i, name.data(), &nameLength, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
        const std::wstring sub(name.data(), nameLength);
        HKEY child = nullptr;
        if (::RegOpenKeyExW(key, sub.c_str(), 0, KEY_READ | KEY_WOW64_64KEY, &child) != ERROR_SUCCESS) continue;
        AddKey(child, path + L"\\" + sub, out);
        ::RegCloseKey(child);
    }
}

void AddTree(HKEY root, const wchar_t* rootName, const wchar_t* path, Snapshot& out) {
    HKEY key = nullptr;
    if (::RegOpenKeyExW(root, path, 0, KEY_READ | KEY_WOW64_64KEY, &key) != ERROR_SUCCESS) return;
    AddKey(key, std::wstring(rootName) + L"\\" + path, out);
    ::RegCloseKey(key);
}

// The user's settings: software and the control-panel profile, where a
// persistent screen-saver setting would land.
Snapshot TakeUserRegistry() {
    Snapshot s;
    AddTree(HKEY_CURRENT_USER, L"HKCU", L"Software", s);
    AddTree(HKEY_CURRENT_USER, L"HKCU", L"Control Panel", s);
    return s;
}

// Everything compared: the user's part and the machine's software, which is
// large (its class registrations take seconds), so read once before and once
// after all the runs.
Snapshot TakeRegistry() {
    Snapshot s = TakeUserRegistry();
    AddTree(HKEY_LOCAL_MACHINE, L"HKLM", L"Software", s);
    return s;
}

// Name -> size and last write time, for every file and folder below `folder`.
Snapshot TakeFolder(const std::wstring& folder, const std::wstring& relative = L"") {
    Snapshot s;
    WIN32_FIND_DATAW found{};
    HANDLE find = ::FindFirstFileW((folder + L"\\*").c_str(), &found);
    if (find == INVALID_HANDLE_VALUE) return s;
    do {
        const std::wstring name = found.cFileName;
        if (name == L"." || name == L"..") continue;
        const ULONGLONG size = (static_cast<ULONGLONG>(found.nFileSizeHigh) << 32) | found.nFileSizeLow;
        const ULONGLONG written =
            (static_cast<ULONGLONG>(found.ftLastWriteTime.dwHighDateTime) << 32) | found.ftLastWriteTime.dwLowDateTime;
        s[relative + name] = std::to_string(found.dwFileAttributes) + ":" + std::to_string(size) + ":" + std::to_string(written);
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            const Snapshot inner = TakeFolder(folder + L"\\" + name, relative + name + L"\\");
            s.insert(inner.begin(), inner.end());
        }
    } while (::FindNextFileW(find, &found));
    ::FindClose(find);
    return s;
}

// The key a snapshot entry belongs to ("...\key\" for a key, "...\key\value" for a value).
std::wstring KeyOf(const std::wstring& entry) { return entry.substr(0, entry.find_last_of(L'\\')); }

// Entries added, removed or changed, outside the excluded keys.
std::vector<std::wstring> Differences(const Snapshot& before, const Snapshot& after,
                                      const std::set<std::wstring>& excludedKeys = {}) {
    std::vector<std::wstring> changes;
    const auto excluded = [&](const std::wstring& entry) {
        for (std::wstring key = KeyOf(entry); !key.empty(); key = key.substr(0, key.find_last_of(L'\\'))) {
            if (excludedKeys.count(key)) return true;
            if (key.find(L'\\') == std::wstring::npos) break;
        }
        return false;
    };
    for (const auto& [name, value] : after) {
        const auto old = before.find(name);
        if (old == before.end()) {
            if (!excluded(name)) changes.push_back(L"added " + name);
        } else if (old->second != value && !excluded(name)) {
            changes.push_back(L"changed " + name);
        }
    }
    for (const auto& [name, value] : before)
        if (!after.count(name) && !excluded(name)) changes.push_back(L"removed " + name);
    return changes;
}

std::string Join(const std::vector<std::wstring>& lines) {
    std::string text;
    for (const auto& line : lines) text += "\n  " + WideToUtf8(line);
    return text;
}

HWND FindMessageBox(DWORD pid) {
    for (HWND hwnd : TopWindowsOf(pid))
        if (ClassName(hwnd) == L"#32770" && WindowText(hwnd) == kTitle) return hwnd;
    return nullptr;
}

HWND WaitForMessageBox(DWORD pid) {
    HWND box = nullptr;
    WaitUntil([&] { return (box = FindMessageBox(pid)) != nullptr; }, 5000);
    return box;
}

void Tick(HWND form) { ::SendMessageW(form, WM_TIMER, 1, 0); }

// One full run of a mode, ended as a user ends it.
struct ModeRun {
    const char* name;
    std::function<void(const TestFolder&)> act;
};

void RunSlideshow(const TestFolder& folder) {
    Process p = Process::Start(folder.scr(), L"/s");
    HWND form = WaitForWindow(p.pid(), kCaption, 10000);
    ASSERT_NE(form, nullptr);
    for (int i = 0; i < 3; ++i) Tick(form);
    PressKey('K');
    EXPECT_TRUE(p.WaitExit(5000));
    EXPECT_EQ(p.ExitCode().value_or(1234), 0u);
}

void RunSettings(const TestFolder& folder) {
    Process p = Process::Start(folder.scr(), L"/c");
    HWND settings = WaitForWindow(p.pid(), kTitle, 10000);
    ASSERT_NE(settings, nullptr);
    ::PostMessageW(settings, WM_COMMAND, MAKEWPARAM(IDM_MENU_VERSION, 0), 0);
    HWND about = WaitForWindow(p.pid(), kAboutCaption);
    ASSERT_NE(about, nullptr);
    // The system-information button, with no tool registered: its message.
    HWND button = ChildWithText(about, kSysInfoButton);
    ASSERT_NE(button, nullptr);
    ::PostMessageW(about, WM_COMMAND, MAKEWPARAM(::GetDlgCtrlID(button), BN_CLICKED), reinterpret_cast<LPARAM>(button));
    if (HWND box = WaitForMessageBox(p.pid())) {
        ::PostMessageW(box, WM_COMMAND, IDOK, 0);
        WaitUntil([&] { return !::IsWindow(box); }, 3000);
    }
    ::PostMessageW(about, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
    ASSERT_TRUE(WaitUntil([&] { return !::IsWindow(about) && ::IsWindowEnabled(settings); }, 3000));
    ::PostMessageW(settings, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
    EXPECT_TRUE(p.WaitExit(5000));
}

void RunPreview(const TestFolder& folder) {
    Process p = Process::Start(folder.scr(), L"/p 65552");
    EXPECT_TRUE(p.WaitExit(5000));
}

void RunPassword(const TestFolder& folder) {
    Process p = Process::Start(folder.scr(), L"/a");
    HWND box = WaitForMessageBox(p.pid());
    ASSERT_NE(box, nullptr);
    ::PostMessageW(box, WM_COMMAND, IDOK, 0);
    EXPECT_TRUE(p.WaitExit(5000));
}

void RunSecondCopy(const TestFolder& folder) {
    Process first = Process::Start(folder.scr(), L"/s");
    HWND form = WaitForWindow(first.pid(), kCaption, 10000);
    ASSERT_NE(form, nullptr);
    Process second = Process::Start(folder.scr(), L"/s");
    EXPECT_TRUE(second.WaitExit(5000)) << "the second copy should end at once";
    EXPECT_TRUE(first.Running());
    PressKey('K');
    EXPECT_TRUE(first.WaitExit(5000));
}

TEST(NothingWritten, NoModeWritesToTheRegistryOrTheProgramFolder) {
    TestFolder folder(L"nothing-written");
    ASSERT_TRUE(WritePicture(folder.file(L"KORVA001.DAT"), PictureFormat::Png, 320, 240, 0x3080C0));
    ASSERT_TRUE(WritePicture(folder.file(L"KORVA002.DAT"), PictureFormat::Jpeg, 320, 240, 0xC08030));

    // What Wine records for programs that have nothing to do with the saver:
    // a console command and a windowless program started the same way.
    TestFolder control(L"nothing-written-control");
    wchar_t system[MAX_PATH];
    ::GetSystemDirectoryW(system, MAX_PATH);
    const Snapshot controlBefore = TakeUserRegistry();
    {
        Process cmd = Process::Start(std::wstring(system) + L"\\cmd.exe", L"/c exit");
        ASSERT_TRUE(cmd.WaitExit(10000));
        wchar_t self[MAX_PATH];
        const std::wstring driver(self, ::GetModuleFileNameW(nullptr, self, MAX_PATH));
        const std::wstring marker = control.file(L"marker.exe");
        ASSERT_TRUE(::CopyFileW((driver.substr(0, driver.find_last_of(L'\\')) + L"\\LumoraMarker.exe").c_str(),
                                marker.c_str(), FALSE));
        Process markerRun = Process::Start(marker, L"");
        ASSERT_TRUE(markerRun.WaitExit(10000));
    }
    // Wine keeps session-only system parameters (SystemParametersInfo without
    // SPIF_UPDATEINIFILE, as the saver's "screen saver active") in this
    // volatile key: memory of the running session, never saved to disk.
    std::set<std::wstring> excluded{L"HKCU\\Software\\Wine\\Temporary System Parameters"};
    for (const std::wstring& change : Differences(controlBefore, TakeUserRegistry()))
        excluded.insert(KeyOf(change.substr(change.find(L' ') + 1)));
    std::printf("[ FIGURES  ] registry keys left out (session-only, or changed by trivial programs too): %zu\n",
                excluded.size());
    for (const auto& key : excluded) std::printf("[ FIGURES  ]   %s\n", WideToUtf8(key).c_str());

    const ModeRun runs[] = {
        {"/s with ticks, ended by a key", RunSlideshow},
        {"/c with the About box and its message", RunSettings},
        {"/p", RunPreview},
        {"/a", RunPassword},
        {"a second copy", RunSecondCopy},
    };
    const Snapshot wholeBefore = TakeRegistry();
    for (const ModeRun& run : runs) {
        SCOPED_TRACE(run.name);
        const Snapshot filesBefore = TakeFolder(folder.path());
        const Snapshot registryBefore = TakeUserRegistry();
        run.act(folder);
        ::Sleep(300);  // anything written on the way out has landed
        const Snapshot registryAfter = TakeUserRegistry();
        const Snapshot filesAfter = TakeFolder(folder.path());
        const auto registryChanges = Differences(registryBefore, registryAfter, excluded);
        const auto fileChanges = Differences(filesBefore, filesAfter);
        EXPECT_TRUE(registryChanges.empty()) << "registry:" << Join(registryChanges);
        EXPECT_TRUE(fileChanges.empty()) << "program folder:" << Join(fileChanges);
        std::printf("[ FIGURES  ] %-40s %zu registry entries, %zu files compared; %zu and %zu changes\n", run.name,
                    registryAfter.size(), filesAfter.size(), registryChanges.size(), fileChanges.size());
        std::fflush(stdout);
    }
    const Snapshot wholeAfter = TakeRegistry();
    const auto changes = Differences(wholeBefore, wholeAfter, excluded);
    EXPECT_TRUE(changes.empty()) << "registry over all runs:" << Join(changes);
    std::printf("[ FIGURES  ] all runs: %zu registry entries (HKCU and HKLM software) compared; %zu changes\n",
                wholeAfter.size(), changes.size());
}

}  // namespace
}  // namespace lumora::e2e
