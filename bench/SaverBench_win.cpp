// The running slideshow as a user meets it: how soon a tick's picture is on
// screen, how soon a key ends the show while a large picture is being
// prepared, and what the show costs while the display is off. Drives the real Lumora.scr with the driver's helpers; run
// inside a Wine virtual desktop (tools/bench.sh).
#include "bench/SaverBench_win.h"

#include "common/UniqueHandle_win.h"
#include "tools/driver/Lumora_win.h"

#include <psapi.h>

#include <algorithm>
#include <array>
#include <optional>
#include <cstdio>
#include <string>
#include <vector>

namespace lumora::bench {
namespace {

using namespace lumora::e2e;

constexpr int kRuns = 3;
constexpr std::uint32_t kMarkerColour = 0xE020E0;  // picture 1: a plain square, unlike any photo

double Now() {
    LARGE_INTEGER f, t;
    ::QueryPerformanceFrequency(&f);
    ::QueryPerformanceCounter(&t);
    return static_cast<double>(t.QuadPart) * 1000.0 / static_cast<double>(f.QuadPart);
}

// Nine points around the screen's centre, where every picture lies.
std::array<std::uint32_t, 9> Sample() {
    const int cx = ::GetSystemMetrics(SM_CXSCREEN) / 2, cy = ::GetSystemMetrics(SM_CYSCREEN) / 2;
    std::array<std::uint32_t, 9> s{};
    for (int i = 0; i < 9; ++i) s[static_cast<size_t>(i)] = ScreenPixel(cx + (i % 3 - 1) * 150, cy + (i / 3 - 1) * 150);
    return s;
}

double PeakMiB(const Process& p) {
    PROCESS_MEMORY_COUNTERS pmc{};
    pmc.cb = sizeof(pmc);
    if (!p.started() || !::GetProcessMemoryInfo(p.handle(), &pmc, sizeof(pmc))) return -1;
    return static_cast<double>(pmc.PeakWorkingSetSize) / (1024.0 * 1024.0);
}

// A saver in `folder` with picture 1 on screen; empty when it never came.
std::optional<std::pair<Process, HWND>> Start(const std::wstring& folder) {
    Process p = Process::Start(folder + L"\\Lumora.scr", L"/s");
    HWND form = WaitForWindow(p.pid(), L"Form1", 10000);
    if (!form || !WaitForCentre(kMarkerColour, 10000)) return std::nullopt;
    return std::make_pair(std::move(p), form);
}

void End(Process& p, HWND form) {
    ::PostMessageW(form, WM_CLOSE, 0, 0);
    p.WaitExit(5000);
}

struct Figures {
    std::vector<double> values;
    double Best() const { return values.empty() ? -1 : *std::min_element(values.begin(), values.end()); }
    double Worst() const { return values.empty() ? -1 : *std::max_element(values.begin(), values.end()); }
};

// From a tick to its picture on screen; `settle` ms after picture 1 showed,
// so that the worker had (or had not) the time to prepare it ahead.
Figures TickToScreen(const std::wstring& folder, DWORD settle, double* peak) {
    Figures f;
    for (int run = 0; run < kRuns; ++run) {
        auto saver = Start(folder);
        if (!saver) continue;
        auto& [p, form] = *saver;
        ::Sleep(settle);
        const auto before = Sample();
        const double t0 = Now();
        Tick(form);
        if (WaitUntil([&] { return Sample() != before; }, 30000, 1)) f.values.push_back(Now() - t0);
        if (peak) *peak = std::max(*peak, PeakMiB(p));
        End(p, form);
    }
    return f;
}

// The saver's picture helper, as it started it.
Process HelperOfSaver(const Process& saver) {
    Process helper;
    WaitUntil(
        [&] {
            const auto children = ChildProcessIds(saver.pid());
            return !children.empty() && (helper = Process::Open(children.front())).started();
        },
        5000);
    return helper;
}

// A key pressed while picture 2 is being prepared: how soon the process is
// gone, how soon its helper follows, and how soon the window answers a
// message meanwhile.
void KeyDuringPreparation(const std::wstring& folder, Figures& key, Figures& helperGone, Figures& answer) {
    for (int run = 0; run < kRuns; ++run) {
        auto saver = Start(folder);
        if (!saver) continue;
        auto& [p, form] = *saver;
        const Process helper = HelperOfSaver(p);
        Tick(form);
        ::Sleep(300);
        DWORD_PTR ignored = 0;
        double t0 = Now();
        if (::SendMessageTimeoutW(form, WM_NULL, 0, 0, SMTO_NORMAL, 30000, &ignored)) answer.values.push_back(Now() - t0);
        t0 = Now();
        PressKey(VK_SPACE);
        if (p.WaitExit(30000)) key.values.push_back(Now() - t0);
        t0 = Now();
        if (helper.WaitExit(30000)) helperGone.values.push_back(Now() - t0);
        if (p.Running()) End(p, form);
    }
}

// The saver and its helper while the helper prepares picture 2, the 100 MP
// photo, and until it shows: the saver's own peak working set and the
// helper's, the largest over the runs.
void MemoryWhilePreparing(const std::wstring& folder, double& saverPeak, double& helperPeak) {
    for (int run = 0; run < kRuns; ++run) {
        auto saver = Start(folder);
        if (!saver) continue;
        auto& [p, form] = *saver;
        const Process helper = HelperOfSaver(p);
        const auto before = Sample();
        Tick(form);
        WaitUntil(
            [&] {
                helperPeak = std::max(helperPeak, PeakMiB(helper));
                return Sample() != before;
            },
            30000, 5);
        saverPeak = std::max(saverPeak, PeakMiB(p));
        End(p, form);
    }
}

// --- the display off ----------------------------------------------------------

constexpr DWORD kDisplayOff = 0, kDisplayOn = 1;  // the console display state

// Resident and anonymous memory, as Linux counts them under Wine (whose own
// counters leave out what a DIB section holds), in MiB.
std::pair<double, double> Memory(const Process& p, const std::wstring& commandLine) {
    const Counters c = Meter(p, commandLine).Read();
    return {c.rssKb / 1024.0, c.anonKb / 1024.0};
}

// The CPU seconds of the saver and of `helper` while it runs.
double ShowCpu(const Process& saver, const Process& helper, const std::wstring& folder) {
    const std::wstring scr = folder + L"\\Lumora.scr";
    const double helperCpu = helper.Running() ? CpuSeconds(helper.handle(), scr + L" /p") : 0;
    return CpuSeconds(saver.handle(), scr + L" /s") + std::max(helperCpu, 0.0);
}

// A show of 24 MP photos: its CPU over 60 s of its own timer with the display
// on; then the display off, the helper's memory until it is gone (one whole
// interval later), and the CPU over 60 s more in the dark, when any helper
// started meanwhile would be counted as a running one.
void DisplayOffShow(const std::wstring& folder) {
    auto saver = Start(folder);
    if (!saver) return;
    auto& [p, form] = *saver;
    const Process helper = HelperOfSaver(p);
    double cpu = ShowCpu(p, helper, folder);
    ::Sleep(60000);
    std::printf("%-58s %8.2f s\n", "CPU over 60 s, 24 MP photos, display on (saver+helper)",
                ShowCpu(p, helper, folder) - cpu);
    // Off halfway between two ticks, when the next picture is held ready.
    ::Sleep(5000);
    const std::wstring scr = folder + L"\\Lumora.scr";
    const auto [helperResident, helperAnon] = Memory(helper, scr + L" /p");
    const auto [saverResident, saverAnon] = Memory(p, scr + L" /s");
    const double off = Now();
    SendPowerSetting(form, GUID_CONSOLE_DISPLAY_STATE, kDisplayOff);
    const bool gone = helper.WaitExit(30000);
    const double goneMs = Now() - off;
    ::Sleep(500);  // the saver drops the picture it held right after ending its helper
    const auto [saverResidentAsleep, saverAnonAsleep] = Memory(p, scr + L" /s");
    std::printf("%-58s %8.1f MiB resident, %.1f MiB anonymous\n", "helper before the display went off",
                helperResident, helperAnon);
    std::printf("%-58s %8.1f s %s\n", "  helper gone, its memory back, after the display went off", goneMs / 1000,
                gone ? "(at the second tick in the dark)" : "(NOT GONE)");
    std::printf("%-58s %8.1f -> %.1f MiB resident, %.1f -> %.1f MiB anonymous\n", "  saver, before and asleep",
                saverResident, saverResidentAsleep, saverAnon, saverAnonAsleep);
    cpu = ShowCpu(p, helper, folder);
    ::Sleep(60000);
    std::printf("%-58s %8.2f s (target: at most 0.03)\n", "CPU over 60 s, display off after one interval",
                ShowCpu(p, helper, folder) - cpu);
    std::printf("%-58s %8zu\n", "  helpers running meanwhile", ChildProcessIds(p.pid()).size());
    End(p, form);
}

// From a tick to its picture on screen when the display came back `onBefore`
// ms before the tick, after the show slept a whole interval without a helper.
Figures TickAfterWaking(const std::wstring& folder, DWORD onBefore) {
    Figures f;
    for (int run = 0; run < kRuns; ++run) {
        auto saver = Start(folder);
        if (!saver) continue;
        auto& [p, form] = *saver;
        const Process helper = HelperOfSaver(p);
        SendPowerSetting(form, GUID_CONSOLE_DISPLAY_STATE, kDisplayOff);
        Tick(form);
        Tick(form);
        if (helper.WaitExit(10000)) {
            SendPowerSetting(form, GUID_CONSOLE_DISPLAY_STATE, kDisplayOn);
            ::Sleep(onBefore);
            const auto before = Sample();
            const double t0 = Now();
            Tick(form);
            if (WaitUntil([&] { return Sample() != before; }, 30000, 1)) f.values.push_back(Now() - t0);
        }
        End(p, form);
    }
    return f;
}

bool Folder(const std::wstring& folder, const std::wstring& scr, const std::wstring& picture2) {
    ::CreateDirectoryW(folder.c_str(), nullptr);
    return ::CopyFileW(scr.c_str(), (folder + L"\\Lumora.scr").c_str(), FALSE) &&
           WritePicture(folder + L"\\KORVA001.DAT", PictureFormat::Png, 640, 480, kMarkerColour) &&
           ::CopyFileW(picture2.c_str(), (folder + L"\\KORVA002.DAT").c_str(), FALSE);
}

}  // namespace

int MeasureSaver(const std::wstring& scr, const std::wstring& work, const std::wstring& photo24,
                 const std::wstring& photo100) {
    ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    ::SetProcessDPIAware();
    const std::wstring with24 = work + L"\\saver-24mp", with100 = work + L"\\saver-100mp";
    if (!Folder(with24, scr, photo24) || !Folder(with100, scr, photo100)) {
        std::fprintf(stderr, "cannot set up the saver folders under %ls\n", work.c_str());
        return 2;
    }
    std::printf("live slideshow on a %dx%d screen, %d runs each, best and worst\n", ::GetSystemMetrics(SM_CXSCREEN),
                ::GetSystemMetrics(SM_CYSCREEN), kRuns);
    double peak = 0;
    const Figures ahead = TickToScreen(with24, 4000, &peak);
    std::printf("%-58s %8.1f %8.1f ms\n", "tick to screen, 24 MP photo prepared ahead", ahead.Best(), ahead.Worst());
    std::printf("%-58s %8.1f MiB\n", "  saver's peak working set (one shown, one prepared)", peak);
    const Figures atOnce = TickToScreen(with24, 0, nullptr);
    std::printf("%-58s %8.1f %8.1f ms\n", "tick to screen, 24 MP photo ticked as picture 1 appears", atOnce.Best(),
                atOnce.Worst());
    Figures key, helperGone, answer;
    KeyDuringPreparation(with100, key, helperGone, answer);
    std::printf("%-58s %8.1f %8.1f ms\n", "window answers a message while 100 MP is prepared", answer.Best(),
                answer.Worst());
    std::printf("%-58s %8.1f %8.1f ms\n", "key to process gone while 100 MP is prepared", key.Best(), key.Worst());
    std::printf("%-58s %8.1f %8.1f ms\n", "  then the helper gone too (target: within 1000 ms)", helperGone.Best(),
                helperGone.Worst());
    double saverPeak = 0, helperPeak = 0;
    MemoryWhilePreparing(with100, saverPeak, helperPeak);
    std::printf("%-58s %8.1f MiB\n", "saver's peak working set while 100 MP is prepared", saverPeak);
    std::printf("%-58s %8.1f MiB\n", "helper's peak working set preparing 100 MP", helperPeak);
    const Figures woke = TickAfterWaking(with24, 2000), wokeAtTick = TickAfterWaking(with24, 0);
    std::printf("%-58s %8.1f %8.1f ms (target: 50)\n", "tick to screen, display back on 2 s before the tick",
                woke.Best(), woke.Worst());
    std::printf("%-58s %8.1f %8.1f ms\n", "tick to screen, display back on at the tick", wokeAtTick.Best(),
                wokeAtTick.Worst());
    // Picture 1 plain, then 24 MP photos for longer than a minute of ticks.
    const std::wstring show = work + L"\\saver-24mp-show";
    bool shown = Folder(show, scr, photo24);
    for (int n = 3; n <= 9 && shown; ++n)
        shown = ::CopyFileW(photo24.c_str(), (show + L"\\" + PictureName(n)).c_str(), FALSE);
    if (shown) DisplayOffShow(show);
    std::fflush(stdout);
    const bool complete = ahead.values.size() == kRuns && atOnce.values.size() == kRuns && key.values.size() == kRuns &&
                          helperGone.values.size() == kRuns && woke.values.size() == kRuns && shown;
    if (!complete) std::printf("(some runs did not complete)\n");
    return complete ? 0 : 1;
}

}  // namespace lumora::bench
