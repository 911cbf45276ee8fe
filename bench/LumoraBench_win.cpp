// Usage: LumoraBench.exe WIDTH HEIGHT FILE...
//        LumoraBench.exe --colour WIDTH HEIGHT UNTAGGED TAGGED
//        LumoraBench.exe --saver LUMORA.SCR WORK-FOLDER PHOTO-24MP PHOTO-100MP
// For each file, prepares it as the slideshow does (open, refuse by the
// header, fit, decode and scale into the bitmap that is shown) and runs a bare
// decode-and-scale through WIC, each in a process of its own so that the peak
// working set belongs to that work alone. --saver measures the running
// slideshow instead (bench/SaverBench_win.cpp). --colour compares the CPU time
// of preparing a photo that carries a colour profile with the same photo
// without one, turn about in one process, so that a busy machine weighs on
// both alike.
#include "bench/SaverBench_win.h"
#include "saver/Fitting.h"
#include "saver/PictureLoader_win.h"

#include <psapi.h>
#include <wincodec.h>
#include <wrl/client.h>

#include <algorithm>
#include <cstdio>
#include <cwchar>
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

// User and kernel time of this process so far, in seconds.
double CpuSeconds() {
    FILETIME created, exited, kernel, user;
    if (!::GetProcessTimes(::GetCurrentProcess(), &created, &exited, &kernel, &user)) return 0;
    const auto seconds = [](const FILETIME& t) {
        return static_cast<double>((std::uint64_t{t.dwHighDateTime} << 32) | t.dwLowDateTime) / 1e7;
    };
    return seconds(kernel) + seconds(user);
}

SIZE_T PeakWorkingSet() {
    PROCESS_MEMORY_COUNTERS pmc{};
    pmc.cb = sizeof(pmc);
    ::GetProcessMemoryInfo(::GetCurrentProcess(), &pmc, sizeof(pmc));
    return pmc.PeakWorkingSetSize;
}

// The slideshow's own preparation, as the picture worker runs it for a tick.
bool Prepare(lumora::PictureLoader& loader, const std::wstring& file, int screenW, int screenH) {
    return loader.Prepare(file, {screenW, screenH}).picture.has_value();
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

// Child: one kind of work on one file; prints "seconds peak-bytes ok cpu-seconds".
int Measure(const wchar_t* kind, const std::wstring& file, int screenW, int screenH) {
    ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    lumora::PictureLoader loader;
    ComPtr<IWICImagingFactory> factory;
    ::CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&factory));
    if (!loader.Init() || !factory) return 2;
    const bool prepare = std::wcscmp(kind, L"prepare") == 0;
    double best = 1e30, bestCpu = 1e30;
    bool ok = true;
    for (int i = 0; i < kRuns; ++i) {
        const double start = Now(), startCpu = CpuSeconds();
        ok = prepare ? Prepare(loader, file, screenW, screenH) : Bare(factory.Get(), file, screenW, screenH);
        best = std::min(best, Now() - start);
        bestCpu = std::min(bestCpu, CpuSeconds() - startCpu);
    }
    std::printf("%.6f %llu %d %.6f\n", best, static_cast<unsigned long long>(PeakWorkingSet()), ok ? 1 : 0, bestCpu);
    return 0;
}

int CompareColour(int screenW, int screenH, const std::wstring& untagged, const std::wstring& tagged) {
    constexpr int kTurns = 9;
    ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    lumora::PictureLoader loader;
    if (!loader.Init()) return 2;
    double best[2] = {1e30, 1e30};
    bool ok = true;
    for (int i = 0; i < kTurns; ++i)
        for (int k = 0; k < 2; ++k) {
            const double start = CpuSeconds();
            ok = Prepare(loader, k ? tagged : untagged, screenW, screenH) && ok;
            best[k] = std::min(best[k], CpuSeconds() - start);
        }
    std::printf("colour: CPU of preparing the photo with its profile %.0f ms, without %.0f ms, ratio %.2f "
                "(target <= 1.10; best of %d turns each)%s\n",
                best[1] * 1000, best[0] * 1000, best[0] > 0 ? best[1] / best[0] : 0.0, kTurns,
                ok ? "" : " (a preparation failed)");
    return 0;
}

struct Result {
    double seconds = 0;
    double peakMiB = 0;
    bool ok = false;
    double cpuSeconds = 0;
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
    if (std::sscanf(out.c_str(), "%lf %llu %d %lf", &result.seconds, &peak, &ok, &result.cpuSeconds) == 4) {
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
    std::printf("%-22s %10s %10s %7s %12s %12s %12s\n", "file", "prepare ms", "bare ms", "ratio", "prep peak MiB",
                "bare peak MiB", "prep CPU ms");
    for (int i = 3; i < argc; ++i) {
        const Result prepared = RunChild(self, L"prepare", argv[i], w, h);
        const Result bare = RunChild(self, L"bare", argv[i], w, h);
        const std::string name = [&] {
            std::string s;
            for (wchar_t c : BaseName(argv[i])) s += static_cast<char>(c < 128 ? c : '?');
            return s;
        }();
        std::printf("%-22s %10.1f %10.1f %7.2f %12.1f %12.1f %12.1f%s\n", name.c_str(), prepared.seconds * 1000,
                    bare.seconds * 1000, bare.seconds > 0 ? prepared.seconds / bare.seconds : 0.0, prepared.peakMiB,
                    bare.peakMiB, prepared.cpuSeconds * 1000,
                    prepared.ok ? (bare.ok ? "" : "  (bare failed)") : "  (refused: not a picture)");
        std::fflush(stdout);
    }
    return 0;
}
