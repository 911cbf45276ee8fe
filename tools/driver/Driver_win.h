#pragma once
// Helpers for driving a Windows program from outside: processes, windows,
// texts, input, screenshots and test pictures. What is Lumora's own (its
// windows, texts, pictures and registry values) is in Lumora_win.h.
#include "common/UniqueHandle_win.h"

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <mutex>
#include <functional>
#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

namespace lumora::e2e {

// A file opened with CreateFileW, which fails with INVALID_HANDLE_VALUE.
using UniqueFile = UniqueHandle<HANDLE, CloseKernelHandle, -1>;

// Windows paths handed over by wine-session.sh.
std::wstring ScrPath();  // the Lumora.scr under test
std::wstring OutDir();   // screenshots and other output kept after the run
std::wstring WorkDir();  // scratch space

std::string WideToUtf8(std::wstring_view text);

// A fresh folder under WorkDir() holding a copy of Lumora.scr; removed at the end.
class TestFolder {
public:
    explicit TestFolder(std::wstring_view name);
    ~TestFolder();
    TestFolder(const TestFolder&) = delete;
    TestFolder& operator=(const TestFolder&) = delete;

    const std::wstring& path() const { return path_; }
    std::wstring scr() const { return path_ + L"\\Lumora.scr"; }
    std::wstring file(std::wstring_view name) const { return path_ + L"\\" + std::wstring(name); }
    bool Write(std::wstring_view name, const std::vector<std::uint8_t>& bytes) const;

private:
    std::wstring path_;
};

bool WriteFileBytes(const std::wstring& path, const std::vector<std::uint8_t>& bytes);
std::vector<std::uint8_t> ReadFileBytes(const std::wstring& path);
bool RemoveTree(const std::wstring& path);

// A file or folder outside any TestFolder, removed when the test ends however it ends.
class RemovedAtEnd {
public:
    explicit RemovedAtEnd(std::wstring path) : path_(std::move(path)) {}
    ~RemovedAtEnd() { RemoveTree(path_); }
    RemovedAtEnd(const RemovedAtEnd&) = delete;
    RemovedAtEnd& operator=(const RemovedAtEnd&) = delete;
    const std::wstring& path() const { return path_; }

private:
    std::wstring path_;
};

// The folder LumoraDriver.exe runs from, with the programs built beside it.
std::wstring DriverFolder();

// PngWithAlpha is a 32-bit PNG whose pixels carry their alpha in the top byte.
enum class PictureFormat { Png, Jpeg, Bmp, Gif, Tiff, PngWithAlpha };

// Colours are 0x00RRGGBB throughout the driver.
using PixelFunction = std::function<std::uint32_t(int x, int y)>;
bool WritePicture(const std::wstring& path, PictureFormat format, int width, int height, const PixelFunction& pixel);
bool WritePicture(const std::wstring& path, PictureFormat format, int width, int height, std::uint32_t colour);
// `colour` with a fine grain that a JPEG keeps: decoding it costs what a
// photo of that size costs, where a flat colour decodes almost for nothing.
// Every pixel stays within 7 of `colour` in each channel.
PixelFunction Grainy(std::uint32_t colour);

// A started program, terminated on destruction if it still runs.
class Process {
public:
    // Started in `folder`, or in the executable's own folder when none is given.
    static Process Start(const std::wstring& exe, const std::wstring& arguments, const std::wstring& folder = {});
    // A process that is already running, opened to watch, stop and harm it.
    static Process Open(DWORD pid);
    Process() = default;
    Process(Process&& other) noexcept;
    Process& operator=(Process&& other) noexcept;
    Process(const Process&) = delete;
    Process& operator=(const Process&) = delete;
    ~Process();

    bool started() const { return process_ != nullptr; }
    DWORD pid() const { return pid_; }
    HANDLE handle() const { return process_; }
    bool Running() const;
    bool WaitExit(DWORD timeoutMs) const;
    std::optional<DWORD> ExitCode() const;
    // The exit code once it has ended, waiting up to `timeoutMs`.
    std::optional<DWORD> ExitCodeWithin(DWORD timeoutMs) const;
    void Kill();
    // Lets go of the process, which runs on.
    void Release();
    // Every thread stopped where it stands, as a process hung on a stalled read.
    bool Suspend() const;
    // A fault on a thread of its own: the thread starts at address 0 and dies
    // of an access violation, which only the process's own last-chance
    // handling sees. Nothing in the program has to offer a way to crash it.
    bool Fault() const;
    // A fail-fast, which bypasses every exception filter: a thread that runs
    // `int 0x29` as __fastfail does.
    bool FailFast() const;
    // Whether a DLL of that name (e.g. L"windowscodecs.dll") is loaded in it.
    bool HasModule(std::wstring_view name) const;

private:
    HANDLE process_ = nullptr;
    DWORD pid_ = 0;
};

// A program started with the driver as its debugger, so that every line it
// writes with OutputDebugString is collected. Terminated on destruction if it
// still runs.
class DebuggedProcess {
public:
    DebuggedProcess(const std::wstring& exe, const std::wstring& arguments);
    ~DebuggedProcess();
    DebuggedProcess(const DebuggedProcess&) = delete;
    DebuggedProcess& operator=(const DebuggedProcess&) = delete;

    const Process& process() const { return process_; }
    // The lines so far that hold `text` (every line when it is empty).
    std::vector<std::wstring> Lines(std::wstring_view text = {}) const;

private:
    void Debug(std::wstring commandLine);

    Process process_;
    mutable std::mutex mutex_;
    std::vector<std::wstring> lines_;
    std::atomic<bool> stop_{false};
    HANDLE created_ = nullptr;  // set once the creation is done, whether it worked
    DWORD pid_ = 0;
    std::thread thread_;
};

// The processes that `parent` started, as far as they still run.
std::vector<DWORD> ChildProcessIds(DWORD parent);
// Whether a process runs from a file of that name (no folder), as Wine lists them.
bool ProcessRuns(std::wstring_view exeName);

// The Linux process under Wine whose command line, as Wine sets it from the
// Windows one, contains `commandLine`; 0 when there is none (or no Wine).
int LinuxPidOf(const std::wstring& commandLine);
// The user and kernel time of `process`, started with `commandLine`. Wine
// answers that question wrongly for another process, so under Wine it is
// Linux's own count; -1 when it cannot be read.
double CpuSeconds(HANDLE process, const std::wstring& commandLine);

// Runs `action` with `process` under the driver's eye and returns the name of
// every file the process opened or asked about meanwhile (as the system's
// own calls see them), in order. Empty names mean calls that named no file;
// nothing means the watch could not be set up.
std::optional<std::vector<std::wstring>> FilesNamedWhile(const Process& process, const std::function<void()>& action);

std::vector<HWND> TopWindowsOf(DWORD pid, bool visibleOnly = true);
// A visible top-level window of the process with that caption (any caption when empty).
HWND WaitForWindow(DWORD pid, std::wstring_view caption, DWORD timeoutMs = 5000);
std::vector<HWND> ChildWindows(HWND parent);
HWND ChildWithText(HWND parent, std::wstring_view text);
std::wstring WindowText(HWND hwnd);
std::wstring ClassName(HWND hwnd);
RECT ClientRectOnScreen(HWND hwnd);
// Where a control sits in its window's client area.
RECT PlaceInClient(HWND window, HWND control);
// Twips as pixels at the system's DPI, as the dialogs lay them out.
int TwipsToPixels(int twips);

// Sent with a 2-second limit. True when the window has handled it, and with it
// every message sent to it before (a thread takes sent messages in order; under
// Wine that includes asynchronous window moves and shows); false when it did
// not answer, or its process ended while handling it.
bool SendWithin(HWND hwnd, UINT msg, WPARAM wp = 0, LPARAM lp = 0);
// A power-setting change as Windows delivers it: a POWERBROADCAST_SETTING for
// `setting` holding the 32-bit `value`, written into the memory of the
// window's process, and WM_POWERBROADCAST with PBT_POWERSETTINGCHANGE and its
// address sent to the window. `length` stands in for the data's length of 4,
// for a malformed setting. True when the window has handled it.
bool SendPowerSetting(HWND window, const GUID& setting, DWORD value, DWORD length = sizeof(DWORD));
// Pointer movement as a window receives it, at a client position; false when
// the window did not answer it, as when it ended on it. Real pointer input is
// no use for exact positions: Xvfb's own pointer cannot be moved, and Wine
// pulls its cursor back to where X has it a few milliseconds after every
// SendInput movement.
bool MoveOver(HWND hwnd, int x, int y);
// The window system sends a window a movement at the pointer's place when the
// window appears under it, and a Wine virtual desktop puts its pointer back
// where X has it (off the desktop, in these sessions) after every movement,
// with a movement too. A test whose movements must be the only ones waits
// until the pointer rests off the screen or, on a display whose pointer stays
// where it is put, parks it where its movements begin.
bool PointerOffScreen();
bool ParkPointer(int x, int y);  // waits until it is there
// Brings the window to the foreground and waits until it is there.
void Activate(HWND hwnd);
// Presses Tab and waits until it has moved the focus in the dialog: its thread
// has handled every key sent before, which come through the same queue.
bool KeysHandled(HWND dialog);

// Input through SendInput, as a user would give it.
void PressKey(WORD vk);
void PressKeys(std::initializer_list<WORD> keys);  // held in order, released in reverse
void MoveMouse(int x, int y);
void Click(int x, int y, bool right = false);

HWND Taskbar();
bool TaskbarVisible();

struct Image {
    int width = 0;
    int height = 0;
    std::vector<std::uint32_t> pixels;  // 0x00RRGGBB, top row first

    std::uint32_t At(int x, int y) const { return pixels[static_cast<size_t>(y) * width + x]; }
    bool Save(const std::wstring& path) const;
};

Image CaptureScreen();
// Every monitor at once: pixel (0, 0) is the virtual screen's top-left corner,
// at (SM_XVIRTUALSCREEN, SM_YVIRTUALSCREEN) in screen coordinates.
Image CaptureVirtualScreen();
// True when the colours differ by at most `tolerance` in each channel.
bool NearColour(std::uint32_t a, std::uint32_t b, int tolerance = 8);
bool IsBlack(std::uint32_t colour);  // within 24 of black in each channel

// The rectangle around everything that is not black in a screenshot.
struct Box {
    int left = 0, top = 0, right = 0, bottom = 0;  // right and bottom exclusive
    bool empty() const { return right <= left || bottom <= top; }
    bool operator==(const Box&) const = default;
};
Box NonBlackBox(const Image& shot);

// The window as it stands on screen, frame included.
Image CaptureWindow(HWND hwnd);
// True once every visible control of the window that has a text shows a pixel
// as dark as text: the window has been drawn.
bool TextsDrawn(HWND window);

// Another process cannot read a window's icon under Wine, but can see it: the
// application icon has red in it (SAVE on the monitor's screen).
bool TitleBarHasRed(HWND hwnd);

bool WaitUntil(const std::function<bool()>& condition, DWORD timeoutMs, DWORD pollMs = 50);

// One pixel straight from the screen, cheaper than a full capture.
std::uint32_t ScreenPixel(int x, int y);
// Waits until the screen's centre, where every picture sits, shows `colour`.
bool WaitForCentre(std::uint32_t colour, DWORD timeoutMs = 5000, int tolerance = 8);

// A top-level window of the driver's own, standing in for another program's
// window or a taskbar; gone with this object. On the driver's thread it is
// answered whenever the driver waits (WaitUntil); `hung` puts it on a thread
// of its own that answers nothing until the object goes.
class OwnWindow {
public:
    struct Options {
        const wchar_t* className = L"LumoraDriverWindow";
        const wchar_t* title = L"another program";
        bool visible = true;
        bool activate = true;  // takes the foreground
        bool hung = false;
    };
    explicit OwnWindow(const Options& options);
    ~OwnWindow();
    OwnWindow(const OwnWindow&) = delete;
    OwnWindow& operator=(const OwnWindow&) = delete;
    HWND hwnd() const { return hwnd_; }

private:
    HWND hwnd_ = nullptr;
    HANDLE release_ = nullptr;
    std::thread thread_;
};

// The version record of an executable, as the version API reads it.
class VersionRecord {
public:
    explicit VersionRecord(const std::wstring& path);
    bool ok() const { return ok_; }
    const VS_FIXEDFILEINFO* Fixed() const;
    // A string of the 041104B0 table; empty when the record has no such string.
    std::optional<std::wstring> String(const std::wstring& name) const;
    std::vector<DWORD> Translations() const;

private:
    std::vector<BYTE> block_;
    bool ok_ = false;
};

}  // namespace lumora::e2e
