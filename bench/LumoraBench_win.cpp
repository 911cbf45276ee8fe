// Usage: LumoraBench.exe WIDTH HEIGHT FILE...
//        LumoraBench.exe --colour WIDTH HEIGHT UNTAGGED TAGGED
//        LumoraBench.exe --saver LUMORA.SCR WORK-FOLDER PHOTO-24MP PHOTO-100MP
// For each file, prepares it as the slideshow does (a picture helper process
// opens it, refuses it by its headers, fits, decodes and scales it into the
// channel section; the saver's side copies the pixels into the bitmap that is
// shown) and runs a bare decode-and-scale through WIC, each in a process of
// its own so that the peak working set belongs to that work alone. The
// preparation's CPU counts the helper's. --saver measures the running
// slideshow instead (bench/SaverBench_win.cpp). --colour compares the CPU of
// preparing a photo that carries a colour profile with the same photo without
// one, turn about with one helper, so that a busy machine weighs on both alike.
#include "bench/SaverBench_win.h"
#include "common/AppProperties_win.h"
#include "picture/PictureHelperMain_win.h"
#include "picture/Fitting.h"
#include "saver/PictureHelper_win.h"
#include "tools/driver/Driver_win.h"

#include <psapi.h>
#include <wincodec.h>
#include <wrl/client.h>

#include <algorithm>
#include <cstdio>
#include <cwchar>
#include <optional>
#include <string>
#include <vector>

using Microsoft::WRL::ComPtr;

namespace {

constexpr int kRuns = 3;  // the best of three: the first run also warms the file cache

double Now() {
    LARGE_INTEGER f, t;
    ::QueryPerformanceFrequency(&f);
    ::QueryPerformanceCounter(&t);
    return static_cast<double>(t.QuadPart) / static_cast<double>(f.QuadPart);
}

SIZE_T PeakWorkingSet(HANDLE process) {
    PROCESS_MEMORY_COUNTERS pmc{};
    pmc.cb = sizeof(pmc);
    ::GetProcessMemoryInfo(process, &pmc, sizeof(pmc));
    return pmc.PeakWorkingSetSize;
}

// The helper's answer to request `id`, or nothing when it ended first.
std::optional<lumora::ChannelReply> AwaitReply(const lumora::PictureHelper& helper, std::uint32_t id) {
    for (;;) {
        const HANDLE waits[] = {helper.replyEvent(), helper.process()};
        if (::WaitForMultipleObjects(2, waits, FALSE, INFINITE) != WAIT_OBJECT_0) return std::nullopt;
        const lumora::ChannelReply reply = helper.Reply();
        if (reply.id == id) return reply;
    }
}

// The slideshow's own preparation, as the picture worker has it done for a
// tick: the request to the helper, its reply, the pixels into a bitmap.
bool Prepare(lumora::PictureHelper& helper, std::uint32_t id, const std::wstring& file, int screenW,
             int screenH) {
    helper.Send(id, file, {screenW, screenH}, std::nullopt);
    const auto reply = AwaitReply(helper, id);
    if (!reply) return false;
    const auto rect = lumora::PictureInReply(*reply, id, screenW, screenH, helper.capacity());
    return rect && helper.Bitmap(*rect);
}

// The floor: decoder, frame, scaler, pixels into a plain buffer. Nothing else.
bool Bare(IWICImagingFactory* factory, const std::wstring& file, int screenW, int screenH) {
    ComPtr<IWICBitmapDecoder> decoder;
    ComPtr<IWICBitmapFrameDecode> frame;
    if (FAILED(factory->CreateDecoderFromFilename(file.c_str(), nullptr, GENERIC_READ, WICDecodeMetadataCacheOnDemand,
                                                  &decoder)) ||
        FAILED(decoder->GetFrame(0, &frame)))
        return false;
    UINT w = 0, h = 0;
    frame->GetSize(&w, &h);
    const auto placement = lumora::FitPicture(static_cast<float>(screenW), static_cast<float>(screenH),
                                              static_cast<float>(w), static_cast<float>(h));
    if (!placement) return false;
    const lumora::PixelRect r = lumora::ToPixelRect(*placement);
    ComPtr<IWICBitmapScaler> scaler;
    if (FAILED(factory->CreateBitmapScaler(&scaler)) ||
        FAILED(scaler->Initialize(frame.Get(), static_cast<UINT>(r.width()), static_cast<UINT>(r.height()),
                                  WICBitmapInterpolationModeFant)))
        return false;
    WICPixelFormatGUID format;
    ComPtr<IWICComponentInfo> info;
    ComPtr<IWICPixelFormatInfo> pixelInfo;
    UINT bpp = 32;
    if (SUCCEEDED(scaler->GetPixelFormat(&format)) && SUCCEEDED(factory->CreateComponentInfo(format, &info)) &&
        SUCCEEDED(info.As(&pixelInfo)))
        pixelInfo->GetBitsPerPixel(&bpp);
    const UINT stride = (static_cast<UINT>(r.width()) * bpp + 31) / 32 * 4;
    std::vector<BYTE> pixels(static_cast<size_t>(stride) * static_cast<size_t>(r.height()));
    return SUCCEEDED(scaler->CopyPixels(nullptr, stride, static_cast<UINT>(pixels.size()), pixels.data()));
}

// This very program as a picture helper, started as the saver starts its
// own, and the CPU of both processes.
class BenchHelper {
public:
    bool Start(int screenW, int screenH) {
        const double start = Now();
        const auto ready = helper_.Start(lumora::Rung::LowIntegrityInJob, std::uint64_t(screenW) * std::uint64_t(screenH) * 4)
                               ? AwaitReply(helper_, 0)
                               : std::nullopt;
        if (!ready || ready->kind != lumora::ReplyKind::Ready) return false;
        startMs_ = (Now() - start) * 1000;
        return true;
    }
    bool Prepare(const std::wstring& file, int screenW, int screenH) {
        return ::Prepare(helper_, ++id_, file, screenW, screenH);
    }
    double Cpu() const {
        return lumora::e2e::CpuSeconds(helper_.process(), lumora::ModulePath(nullptr) + L" /p") +
               lumora::e2e::CpuSeconds(::GetCurrentProcess(), {});
    }
    double startMs() const { return startMs_; }
    HANDLE process() const { return helper_.process(); }

private:
    lumora::PictureHelper helper_;
    std::uint32_t id_ = 0;
    double startMs_ = 0;
};

// Child: one kind of work on one file; prints "seconds peak-bytes ok cpu-seconds
// helper-start-ms", the CPU of a run as the best of the runs, the helper's included.
int Measure(const wchar_t* kind, const std::wstring& file, int screenW, int screenH) {
    ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    const bool prepare = std::wcscmp(kind, L"prepare") == 0;
    double best = 1e30, bestCpu = 1e30, startMs = 0;
    bool ok = true;
    SIZE_T peak = 0;
    if (prepare) {
        BenchHelper helper;
        if (!helper.Start(screenW, screenH)) return 2;
        startMs = helper.startMs();
        for (int i = 0; i < kRuns; ++i) {
            const double t = Now(), cpu = helper.Cpu();
            ok = helper.Prepare(file, screenW, screenH);
            best = std::min(best, Now() - t);
            bestCpu = std::min(bestCpu, helper.Cpu() - cpu);
        }
        peak = std::max(PeakWorkingSet(helper.process()), PeakWorkingSet(::GetCurrentProcess()));
    } else {
        ComPtr<IWICImagingFactory> factory;
        ::CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&factory));
        if (!factory) return 2;
        for (int i = 0; i < kRuns; ++i) {
            const double t = Now(), cpu = lumora::e2e::CpuSeconds(::GetCurrentProcess(), {});
            ok = Bare(factory.Get(), file, screenW, screenH);
            best = std::min(best, Now() - t);
            bestCpu = std::min(bestCpu, lumora::e2e::CpuSeconds(::GetCurrentProcess(), {}) - cpu);
        }
        peak = PeakWorkingSet(::GetCurrentProcess());
    }
    std::printf("%.6f %llu %d %.6f %.1f\n", best, static_cast<unsigned long long>(peak), ok ? 1 : 0, bestCpu, startMs);
    return 0;
}

int CompareColour(int screenW, int screenH, const std::wstring& untagged, const std::wstring& tagged) {
    constexpr int kTurns = 9;
    ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    BenchHelper helper;
    if (!helper.Start(screenW, screenH)) return 2;
    double best[2] = {1e30, 1e30};
    bool ok = true;
    for (int i = 0; i < kTurns; ++i)
        for (int k = 0; k < 2; ++k) {
            const double start = helper.Cpu();
            ok = helper.Prepare(k ? tagged : untagged, screenW, screenH) && ok;
            best[k] = std::min(best[k], helper.Cpu() - start);
        }
    std::printf("colour: CPU of preparing the photo with its profile %.0f ms, without %.0f ms, ratio %.2f "
                "(target <= 1.10; best of %d turns each, the helper's CPU included)%s\n",
                best[1] * 1000, best[0] * 1000, best[0] > 0 ? best[1] / best[0] : 0.0, kTurns,
                ok ? "" : " (a preparation failed)");
    return 0;
}

struct Result {
    double seconds = 0;
    double peakMiB = 0;
    bool ok = false;
    double cpu = 0;
    double helperStartMs = 0;
};

Result RunChild(const std::wstring& self, const wchar_t* kind, const std::wstring& file, int w, int h) {
    Result result;
    SECURITY_ATTRIBUTES sa{sizeof(sa), nullptr, TRUE};
    HANDLE readEnd = nullptr, writeEnd = nullptr;
    if (!::CreatePipe(&readEnd, &writeEnd, &sa, 0)) return result;
    ::SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
    std::wstring cmd = L"\"" + self + L"\" --measure " + kind + L" " + std::to_wstring(w) + L" " +
                       std::to_wstring(h) + L" \"" + file + L"\"";
    STARTUPINFOW si{};
    si.cb = sizeof(si);
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdOutput = writeEnd;
    si.hStdError = ::GetStdHandle(STD_ERROR_HANDLE);
    PROCESS_INFORMATION pi{};
    const BOOL started = ::CreateProcessW(nullptr, cmd.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si, &pi);
    ::CloseHandle(writeEnd);
    std::string out;
    if (started) {
        char buffer[256];
        DWORD n = 0;
        while (::ReadFile(readEnd, buffer, sizeof(buffer), &n, nullptr) && n > 0) out.append(buffer, n);
        ::WaitForSingleObject(pi.hProcess, INFINITE);
        ::CloseHandle(pi.hThread);
        ::CloseHandle(pi.hProcess);
    }
    ::CloseHandle(readEnd);
    unsigned long long peak = 0;
    int ok = 0;
    if (std::sscanf(out.c_str(), "%lf %llu %d %lf %lf", &result.seconds, &peak, &ok, &result.cpu,
                    &result.helperStartMs) == 5) {
        result.peakMiB = static_cast<double>(peak) / (1024.0 * 1024.0);
        result.ok = ok != 0;
    }
    return result;
}

std::wstring BaseName(const std::wstring& path) {
    const auto slash = path.find_last_of(L"\\/");
    return slash == std::wstring::npos ? path : path.substr(slash + 1);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (const HANDLE channel = lumora::PictureHelperChannel()) return lumora::RunPictureHelper(channel);
    if (argc == 6 && std::wcscmp(argv[1], L"--measure") == 0)
        return Measure(argv[2], argv[5], _wtoi(argv[3]), _wtoi(argv[4]));
    if (argc == 6 && std::wcscmp(argv[1], L"--colour") == 0)
        return CompareColour(_wtoi(argv[2]), _wtoi(argv[3]), argv[4], argv[5]);
    if (argc == 6 && std::wcscmp(argv[1], L"--saver") == 0)
        return lumora::bench::MeasureSaver(argv[2], argv[3], argv[4], argv[5]);
    if (argc < 4) {
        std::fprintf(stderr, "usage: LumoraBench WIDTH HEIGHT FILE...\n");
        return 2;
    }
    const int w = _wtoi(argv[1]), h = _wtoi(argv[2]);
    wchar_t self[MAX_PATH * 4];
    ::GetModuleFileNameW(nullptr, self, static_cast<DWORD>(std::size(self)));

    std::printf("screen %dx%d, best of %d runs, each kind of work in a process of its own\n", w, h, kRuns);
    std::printf("%-22s %10s %10s %7s %12s %12s %9s %9s %8s %10s\n", "file", "prepare ms", "bare ms", "ratio",
                "prep peak MiB", "bare peak MiB", "prep cpu", "bare cpu", "cpu ratio", "helper ms");
    for (int i = 3; i < argc; ++i) {
        const Result prepared = RunChild(self, L"prepare", argv[i], w, h);
        const Result bare = RunChild(self, L"bare", argv[i], w, h);
        const std::string name = [&] {
            std::string s;
            for (wchar_t c : BaseName(argv[i])) s += static_cast<char>(c < 128 ? c : '?');
            return s;
        }();
        std::printf("%-22s %10.1f %10.1f %7.2f %12.1f %12.1f %9.3f %9.3f %8.2f %10.1f%s\n", name.c_str(),
                    prepared.seconds * 1000, bare.seconds * 1000,
                    bare.seconds > 0 ? prepared.seconds / bare.seconds : 0.0, prepared.peakMiB, bare.peakMiB,
                    prepared.cpu, bare.cpu, bare.cpu > 0 ? prepared.cpu / bare.cpu : 0.0, prepared.helperStartMs,
                    prepared.ok ? (bare.ok ? "" : "  (bare failed)") : "  (refused: not a picture)");
        std::fflush(stdout);
    }
    // Once per show, and after each abandoned picture: the helper ended and a
    // fresh one started in its place.
    BenchHelper helper;
    if (helper.Start(w, h)) {
        const double first = helper.startMs();
        double best = 1e30, worst = 0;
        for (int i = 0; i < 5 && helper.Start(w, h); ++i) {
            best = std::min(best, helper.startMs());
            worst = std::max(worst, helper.startMs());
        }
        std::printf("helper start to ready: %.1f ms the first time; after an abandoned picture %.1f to %.1f ms (5 runs)\n",
                    first, best, worst);
    }
    return 0;
}
