#pragma once
// What the tests know about Lumora itself: its windows and how to start and
// find them, its texts, its pictures, its registry values, and how to read
// its resources from outside. Written down here once, from how the program
// must behave, never taken from the program's own code.
#include "tools/driver/Driver_win.h"

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace lumora::e2e {

// --- texts ------------------------------------------------------------------

inline constexpr wchar_t kSlideshowCaption[] = L"Form1";
// The settings dialog's caption, and the caption of every message box.
inline constexpr wchar_t kTitle[] = L"Lumora";
inline constexpr wchar_t kAboutCaption[] = L"Lumoraのﾊﾞｰｼﾞｮﾝ情報";
inline constexpr wchar_t kSysInfoButton[] = L"ｼｽﾃﾑ情報(&S)...";
inline constexpr wchar_t kSysInfoUnavailable[] = L"この環境ではシステム情報を使用できません。";
inline constexpr wchar_t kPasswordMessage[] = L"パスワードには対応しておりません。";

// --- the slideshow ----------------------------------------------------------

// Its timer: a WM_TIMER with this id is a tick, one every 10 s by itself.
inline constexpr UINT_PTR kTimer1Id = 1;
// Forces a tick. It returns at once; its picture shows once the saver has it ready.
void Tick(HWND form);

// "KORVA001.DAT" for 1: the number as three digits.
std::wstring PictureName(int number);

// A slideshow started with /s, its window found (null when none came in 10 s).
struct Slideshow {
    Process process;
    HWND form = nullptr;
    // In front with the taskbar hidden, as it must be soon after it starts.
    bool InFront(DWORD timeoutMs = 5000) const;
};
Slideshow StartSlideshow(const TestFolder& folder);

// The slideshow's picture helper: the process it started from its own
// executable, other than `ended` (a helper it has ended). Not started when none
// came in time.
Process HelperOf(const Slideshow& show, DWORD ended = 0, DWORD timeoutMs = 5000);
// The helper's command line: its saver's executable with the preview switch,
// which ends at once any copy that is not handed a channel.
std::wstring HelperCommandLine(const TestFolder& folder);

// The other window of a slideshow on two monitors: the second one's cover.
HWND WaitForCover(const Slideshow& show, DWORD timeoutMs = 5000);

// The input context of a window as its own process sees it (the only one
// that can: Wine answers other processes with none), asked on a thread
// started inside it. Empty when that thread cannot run.
std::optional<std::uint32_t> InputContextOf(const Process& process, HWND window);

// Does `trigger` and stops the process, as its debugger, where it asks to be
// terminated: what it gave back on the way out can still be seen, and its
// windows still stand. It never runs on: its owner ends it. False when it
// did not get there in time.
bool HoldAtExit(const Process& process, const std::function<void()>& trigger, DWORD timeoutMs = 5000);

// --- the settings dialog and the About box ----------------------------------

struct Settings {
    Process process;
    HWND window = nullptr;
};
Settings StartSettings(const TestFolder& folder, const wchar_t* args = L"/c");
// Help > バージョン情報 chosen; the About box that opened, or null.
HWND OpenAbout(const Settings& settings);
// Clicks the About box's system-information button.
void PressSysInfo(HWND about);

struct AboutSession {
    Settings settings;
    HWND about = nullptr;
};
AboutSession StartAbout(const TestFolder& folder);

// The visible contents of a dialog or a message box, in tab order.
struct DialogContents {
    std::vector<std::wstring> texts;  // static texts with something in them
    int emptyStatics = 0;
    int icons = 0;  // icon controls that hold an icon
    std::vector<std::wstring> buttons;
};
DialogContents ReadDialog(HWND dialog);

// Lumora's message box, captioned "Lumora", if the process shows one; with
// `visibleOnly` false also one made but not shown yet.
HWND FindMessageBox(DWORD pid, bool visibleOnly = true);
HWND WaitForMessageBox(DWORD pid, DWORD timeoutMs = 5000);
// Presses OK and waits until the box has gone.
bool CloseMessageBox(HWND box);

// The stand-in for the system-information tool (LumoraMarker.exe), copied to
// `path`; when started it leaves "<path>.ran" with its command line and how
// it was asked to show.
bool PlaceMarker(const std::wstring& path);
std::optional<std::string> MarkerRecord(const std::wstring& markerPath);
// What the marker records when started as the tool must be: its own path
// quoted as the whole command line, in a normal window.
std::string QuotedRecord(const std::wstring& markerPath);

// --- the registry ------------------------------------------------------------

inline constexpr char kMsinfoKey[] = "SOFTWARE\\Microsoft\\Shared Tools\\MSINFO";
inline constexpr char kMsinfoLocationKey[] = "SOFTWARE\\Microsoft\\Shared Tools Location";

// One HKLM value (64-bit view) set or removed for the life of a test; what was
// there before comes back afterwards, and keys made for it go again.
class MachineValue {
public:
    MachineValue(std::string key, std::string name);
    ~MachineValue();
    MachineValue(const MachineValue&) = delete;
    MachineValue& operator=(const MachineValue&) = delete;

    bool Set(DWORD type, const std::vector<BYTE>& data);
    bool SetString(const std::wstring& text);  // ASCII paths: the same in every ANSI code page
    void Remove();

private:
    void NoteKeysToMake();

    std::string key_, name_;
    std::optional<std::pair<DWORD, std::vector<BYTE>>> before_;
    std::vector<std::string> madeKeys_;
    bool noted_ = false;
};

// Registry keys or a folder, entry by entry: "ROOT\key\path\" -> "" for a key,
// "ROOT\key\path\value" -> type, size and a hash of the data for a value;
// "name" -> attributes, size and write time for a file.
using Snapshot = std::map<std::wstring, std::string>;
// The user's software and control-panel settings.
Snapshot TakeUserRegistry();
// Those and the machine's software, which takes seconds.
Snapshot TakeRegistry();
Snapshot TakeFolder(const std::wstring& folder);
// The key an entry of a registry snapshot belongs to.
std::wstring KeyOf(const std::wstring& entry);
// "added X", "changed X", "removed X", outside the excluded keys.
std::vector<std::wstring> Differences(const Snapshot& before, const Snapshot& after,
                                      const std::set<std::wstring>& excludedKeys = {});

// --- resources of a running process -----------------------------------------

// Every counter that can say whether a process leaks, -1 where it cannot be
// read. Wine answers some Windows counters with 0; those read as -1 too.
struct Counters {
    long long gdi = -1, user = -1, handles = -1, privateKb = -1;
    long long windows = -1;        // top-level windows, hidden ones too, and all their children
    long long systemHandles = -1;  // the process's entries in the system's handle table
    long long gdiTable = -1;       // objects in use in Wine's per-process GDI handle table
    long long rssKb = -1, anonKb = -1, fds = -1;  // Linux's view, from /proc
};

class Meter {
public:
    // `commandLine` is what the process was started with: it tells Linux's
    // process apart from other copies of Lumora.scr, its helper's among them.
    Meter(const Process& process, const std::wstring& commandLine);
    bool ok() const { return static_cast<bool>(query_); }
    Counters Read() const;

private:
    DWORD pid_;
    UniqueKernelHandle query_;
    int linuxPid_;
};

}  // namespace lumora::e2e
