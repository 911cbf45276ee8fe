#include "saver/Form1_win.h"

#include "common/AppProperties_win.h"
#include "common/MessageLoop_win.h"
#include "common/NoCrashDialog_win.h"
#include "common/Trail_win.h"
#include "resource.h"
#include "saver/DisplayProfile_win.h"
#include "saver/InputMessages_win.h"
#include "saver/LastChance_win.h"

#include <versionhelpers.h>
#include <windowsx.h>

#include <cstddef>
#include <cwchar>

namespace lumora {
namespace {

constexpr wchar_t kClassName[] = L"LumoraForm1";
// Outside tools tick the slideshow by sending WM_TIMER with this id.
constexpr UINT_PTR kTimer1Id = 1;
constexpr UINT kTimer1Interval = 10000;
// The worker announces a prepared picture with this message, its wParam the
// request's id; the picture itself stays with the worker until taken.
constexpr UINT kPictureReady = WM_APP + 1;

void MakeTopmost(HWND hwnd) { ::SetWindowPos(hwnd, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOSIZE | SWP_NOMOVE); }

PixelRect MainScreen() { return {0, 0, ::GetSystemMetrics(SM_CXSCREEN), ::GetSystemMetrics(SM_CYSCREEN)}; }

static_assert(offsetof(POWERBROADCAST_SETTING, DataLength) == kPowerSettingLengthOffset &&
              offsetof(POWERBROADCAST_SETTING, Data) == kPowerSettingDataOffset);

// The setting a power message points at, if its header and a 32-bit value
// lie in readable memory of ours: any program can send the message, with
// any number in it.
const void* PowerSettingAt(LPARAM lp) {
    constexpr DWORD kReadable = PAGE_READONLY | PAGE_READWRITE | PAGE_WRITECOPY | PAGE_EXECUTE_READ |
                                PAGE_EXECUTE_READWRITE | PAGE_EXECUTE_WRITECOPY;
    const auto* setting = reinterpret_cast<const BYTE*>(lp);
    MEMORY_BASIC_INFORMATION region{};
    if (!setting || !::VirtualQuery(setting, &region, sizeof region) || region.State != MEM_COMMIT ||
        !(region.Protect & kReadable) || (region.Protect & PAGE_GUARD))
        return nullptr;
    const auto* end = static_cast<const BYTE*>(region.BaseAddress) + region.RegionSize;
    return end - setting >= static_cast<std::ptrdiff_t>(kPowerSettingDataOffset + sizeof(DWORD)) ? setting : nullptr;
}

}  // namespace

bool Form1::Load() {
    WNDCLASSEXW wc{};
    wc.hInstance = ::GetModuleHandleW(nullptr);
    wc.lpszClassName = kClassName;
    wc.hIcon = ::LoadIconW(wc.hInstance, MAKEINTRESOURCEW(IDI_FORM1));
    wc.hbrBackground = static_cast<HBRUSH>(::GetStockObject(BLACK_BRUSH));
    if (!RegisterClassOnce(wc)) return false;
    // A tool window gets no taskbar button.
    if (!CreateWindowFor(WS_EX_TOOLWINDOW, kClassName, L"Form1", WS_POPUP, 0, 0, ::GetSystemMetrics(SM_CXSCREEN),
                         ::GetSystemMetrics(SM_CYSCREEN), nullptr, nullptr))
        return false;
    // A fault in the show, or a fail-fast in a library, ends it without a
    // dialog that would stand over the desktop.
    NoCrashDialog();
    // Without the worker the show still runs, black. Pictures with a colour
    // space of their own are shown in the colours of the display the show is on.
    worker_.Start(hwnd(), kPictureReady, App().folder,
                  ClientSize{::GetSystemMetrics(SM_CXSCREEN), ::GetSystemMetrics(SM_CYSCREEN)},
                  DisplayProfilePath(hwnd()));
    ::SetTimer(hwnd(), kTimer1Id, kTimer1Interval, nullptr);
    WatchDisplayPower();
    Form_Load();
    return true;
}

void Form1::Show() {
    ::ShowWindow(hwnd(), SW_SHOW);
    ::ShowWindow(hwnd(), SW_SHOWMAXIMIZED);
    // Keys must reach the slideshow even when another program was in front.
    ::SetForegroundWindow(hwnd());
    for (const auto& cover : covers_) cover->Show();
}

void Form1::Form_Load() {
    const PixelRect screen = MainScreen();
    ::SetWindowPos(hwnd(), nullptr, 0, 0, screen.right, screen.bottom, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    // Black comes from the class brush and from Paint.
    // Marks the saver active for this session only: not written, not broadcast.
    ::SystemParametersInfoA(SPI_SETSCREENSAVEACTIVE, 0xFFFFFFFF, const_cast<char*>(""), 0);
    desktop_.Hide(hwnd());
    // A fault in the picture pipeline must not leave the desktop without them.
    InstallLastChance(desktop_);
    MakeTopmost(hwnd());
    // The slideshow stays on the main monitor; every other one just goes dark.
    covers_ = CoverOtherMonitors(screen, hwnd());
    Refresh();
    // PicNo 1, PicMax 50, FirstMove armed. The first picture appears as soon
    // as the worker has it; the screen is black until then.
    Await(slideshow_.Load(ClientArea()));
}

void Form1::Timer1_Timer() {
    // Whether or not this tick gets the foreground: Explorer shows a hidden
    // taskbar again by itself, and a monitor that came brings its own.
    desktop_.HideTaskbarsAgain();
    MakeTopmost(hwnd());
    for (const auto& cover : covers_) cover->MakeTopmost();
    // The foreground, not only the focus within our own thread: keys go to
    // the foreground window.
    ::SetForegroundWindow(hwnd());
    ::SetFocus(hwnd());
    // Without the foreground keys would not reach us: no picture change,
    // try again at the next tick. Nor while the display is off.
    const Slideshow::TickWork work = slideshow_.Tick(ClientArea(), ::GetForegroundWindow() == hwnd());
    if (work.rest) worker_.Rest();
    if (work.show) ShowNextPicture(*work.show);
}

void Form1::Form_Unload() {
    // Every way out comes here; the desktop is restored once.
    if (unloading_) return;
    unloading_ = true;
    // A fault on another thread may be giving the desktop back already; that
    // way ends the process with the fault's code.
    if (!DisarmLastChance()) return;
    desktop_.GiveBack();
    EndProgram();
}

void Form1::FollowDisplay() {
    const PixelRect screen = MainScreen();
    ::SetWindowPos(hwnd(), nullptr, 0, 0, screen.right, screen.bottom, SWP_NOZORDER | SWP_NOACTIVATE);
    covers_.clear();
    covers_ = CoverOtherMonitors(screen, hwnd());
    for (const auto& cover : covers_) cover->Show();
    // The picture on show again, fitted to the new screen; the pointer
    // reference is armed again, as the system has moved the pointer.
    if (const auto request = slideshow_.Refit(ClientArea())) Await(*request);
    Refresh();
}

// Registered for the console display state on Windows 8 and later, for the
// monitor's power on Windows 7 (or where the first is refused). Windows
// answers at once with the state as it stands. Without either the show goes
// on as if the display were always lit.
void Form1::WatchDisplayPower() {
    const GUID* const settings[] = {&GUID_CONSOLE_DISPLAY_STATE, &GUID_MONITOR_POWER_ON};
    for (std::size_t i = ::IsWindows8OrGreater() ? 0 : 1; i < std::size(settings) && !displayPower_; ++i)
        displayPower_.reset(::RegisterPowerSettingNotification(hwnd(), settings[i], DEVICE_NOTIFY_WINDOW_HANDLE));
    if (displayPower_) return;
    wchar_t line[128];
    std::swprintf(line, std::size(line),
                  L"Lumora: RegisterPowerSettingNotification failed (%lu); pictures go on while the display is off",
                  ::GetLastError());
    Trail(line);
}

// Off: the show sleeps, with its picture left in place. Back on or dimmed:
// the picture on show is fitted again if the screen changed meanwhile, and
// the next one is prepared at once for the next tick.
void Form1::FollowDisplayPower(LPARAM setting) {
    const auto power = DisplayPowerFromSetting(PowerSettingAt(setting));
    if (!power) return;
    const Slideshow::Wake wake = slideshow_.DisplayChanged(*power, ClientArea());
    if (wake.refit) Await(*wake.refit);
    if (wake.ahead) worker_.Ahead(*wake.ahead);
}

void Form1::Form_KeyDown() {
    if (slideshow_.EndsShow(Slideshow::Input::Key)) Form_Unload();
}

void Form1::Form_MouseDown() {
    if (slideshow_.EndsShow(Slideshow::Input::Button)) Form_Unload();
}

void Form1::Form_MouseMove(float X, float Y) {
    if (slideshow_.EndsShow(Slideshow::Input::Movement, X, Y)) Form_Unload();
}

// The counter has moved on; the picture it named shows once the worker has
// it, the one before staying until then.
void Form1::ShowNextPicture(const PictureRequest& request) { Await(request); }

void Form1::Await(const PictureRequest& request) { worker_.Show(request); }

void Form1::PrepareAhead() {
    if (const auto ahead = slideshow_.Ahead(ClientArea())) worker_.Ahead(*ahead);
}

void Form1::PictureArrived(PictureResult result) {
    switch (slideshow_.Arrived(result.id, result.picture.has_value())) {
    case Slideshow::Arrival::Drop:
        return;
    case Slideshow::Arrival::Show:
        // The picture before goes as this one takes its place.
        Image1_.bitmap = std::move(result.picture->bitmap);
        Image1_.rect = result.picture->rect;
        Image1_.Visible = true;
        break;
    case Slideshow::Arrival::Black:
        // A missing, unreadable or unplaceable picture leaves the screen
        // black until the next tick.
        Image1_.Visible = false;
        Image1_.bitmap.reset();
        break;
    }
    Refresh();
    // So that the next tick shows its picture at once.
    PrepareAhead();
}

ClientSize Form1::ClientArea() const {
    RECT client{};
    ::GetClientRect(hwnd(), &client);
    return ClientSize{client.right, client.bottom};
}

void Form1::Refresh() {
    ::InvalidateRect(hwnd(), nullptr, FALSE);
    ::UpdateWindow(hwnd());
}

// Everything is drawn in this one window, so mouse positions over the picture
// and over the black margin are in the same frame.
void Form1::Paint() {
    PaintScope paint(hwnd());
    const HDC dc = paint.dc();
    if (!dc) return;
    if (Image1_.Visible && Image1_.bitmap) {
        const PixelRect& r = Image1_.rect;
        UniqueMemoryDc memory(::CreateCompatibleDC(dc));
        if (memory) {
            SelectObjectScope select(memory.get(), Image1_.bitmap.get());
            ::BitBlt(dc, r.left, r.top, r.width(), r.height(), memory.get(), 0, 0, SRCCOPY);
            ::ExcludeClipRect(dc, r.left, r.top, r.right, r.bottom);
        }
    }
    RECT client{};
    ::GetClientRect(hwnd(), &client);
    ::FillRect(dc, &client, static_cast<HBRUSH>(::GetStockObject(BLACK_BRUSH)));
}

LRESULT Form1::HandleMessage(UINT msg, WPARAM wp, LPARAM lp) {
    if (IsButtonPress(msg)) {
        Form_MouseDown();
        return 0;
    }
    if (msg == taskbarCreated_ && msg != 0) {
        // Explorer started again: its new taskbar would stand above nothing.
        desktop_.HideTaskbarsAgain();
        return 0;
    }
    switch (msg) {
    case kPictureReady:
        // Any program may post this number: only a result the worker holds counts.
        if (auto result = worker_.Take(static_cast<std::uint32_t>(wp))) PictureArrived(std::move(*result));
        return 0;
    case WM_TIMER:
        if (wp == kTimer1Id) {
            Timer1_Timer();
            return 0;
        }
        break;
    case WM_PAINT:
        Paint();
        return 0;
    case WM_ERASEBKGND:
        return 1;  // Paint covers every pixel
    case WM_GETMINMAXINFO: {
        // Maximised, a borderless window covers the whole screen, taskbar area included.
        auto* info = reinterpret_cast<MINMAXINFO*>(lp);
        info->ptMaxPosition = {0, 0};
        info->ptMaxSize = {::GetSystemMetrics(SM_CXSCREEN), ::GetSystemMetrics(SM_CYSCREEN)};
        info->ptMaxTrackSize = info->ptMaxSize;
        return 0;
    }
    case WM_KEYDOWN:
    case WM_SYSKEYDOWN:  // Alt and F10 come this way
        Form_KeyDown();
        return 0;
    case WM_MOUSEMOVE:
        Form_MouseMove(static_cast<float>(GET_X_LPARAM(lp)), static_cast<float>(GET_Y_LPARAM(lp)));
        return 0;
    case WM_ACTIVATEAPP:
        // Another program took the foreground: the user should see where
        // the keys now go.
        if (wp) {
            active_ = true;
        } else if (active_) {
            Form_Unload();
        }
        return 0;
    case WM_DISPLAYCHANGE:
        FollowDisplay();
        return 0;
    case WM_POWERBROADCAST:
        if (wp != PBT_POWERSETTINGCHANGE) break;
        FollowDisplayPower(lp);
        return TRUE;
    case WM_SYSCOMMAND:
        // The idle timer must not start a saver over this one.
        if ((wp & 0xFFF0) == SC_SCREENSAVE) return 0;
        break;
    case WM_CLOSE:
    case WM_DESTROY:
        Form_Unload();
        return 0;
    case WM_QUERYENDSESSION:
        // Out of the way at once, so nothing waits for the slideshow.
        Form_Unload();
        return TRUE;
    case WM_ENDSESSION:
        if (wp) Form_Unload();
        return 0;
    }
    return Window::HandleMessage(msg, wp, lp);
}

}  // namespace lumora
