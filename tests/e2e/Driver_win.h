#pragma once
// Helpers for driving the real Lumora.scr from outside: processes, windows,
// texts, input, screenshots and test pictures.
#include <windows.h>

#include <cstdint>
#include <functional>
#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace lumora::e2e {

// Windows paths handed over by wine-session.sh.
std::wstring ScrPath();  // the Lumora.scr under test
std::wstring OutDir();   // screenshots and other output kept after the run
std::wstring WorkDir();  // scratch space

std::wstring Utf8ToWide(std::string_view text);
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
bool RemoveTree(const std::wstring& path);

enum class PictureFormat { Png, Jpeg, Bmp, Gif, Tiff };

// Colours are 0x00RRGGBB throughout the driver.
using PixelFunction = std::function<std::uint32_t(int x, int y)>;
bool WritePicture(const std::wstring& path, PictureFormat format, int width, int height, const PixelFunction& pixel);
bool WritePicture(const std::wstring& path, PictureFormat format, int width, int height, std::uint32_t colour);

// A started program, terminated on destruction if it still runs.
class Process {
public:
    static Process Start(const std::wstring& exe, const std::wstring& arguments);
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
    void Kill();

private:
    HANDLE process_ = nullptr;
    DWORD pid_ = 0;
};

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

// The window as it stands on screen, frame included.
Image CaptureWindow(HWND hwnd);

// Another process cannot read a window's icon under Wine, but can see it: the
// application icon has red in it (SAVE on the monitor's screen).
bool TitleBarHasRed(HWND hwnd);

bool WaitUntil(const std::function<bool()>& condition, DWORD timeoutMs, DWORD pollMs = 50);

// The slideshow's timer: a WM_TIMER with this id is a tick.
inline constexpr UINT_PTR kTimer1Id = 1;
// Forces a tick. It returns at once; its picture shows once the saver has it ready.
void Tick(HWND form);
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
