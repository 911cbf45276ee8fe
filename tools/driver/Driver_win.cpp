#include "tools/driver/Driver_win.h"

#include <psapi.h>
#include <tlhelp32.h>
#include <winternl.h>
#include <wincodec.h>
#include <wrl/client.h>

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>
#include <utility>

using Microsoft::WRL::ComPtr;

namespace lumora::e2e {
namespace {

std::wstring Env(const wchar_t* name) {
    wchar_t buffer[32768];
    const DWORD n = ::GetEnvironmentVariableW(name, buffer, static_cast<DWORD>(std::size(buffer)));
    return (n > 0 && n < std::size(buffer)) ? std::wstring(buffer, n) : std::wstring();
}

ComPtr<IWICImagingFactory> Factory() {
    ComPtr<IWICImagingFactory> factory;
    ::CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&factory));
    return factory;
}

GUID ContainerOf(PictureFormat format) {
    switch (format) {
    case PictureFormat::Png:
    case PictureFormat::PngWithAlpha: return GUID_ContainerFormatPng;
    case PictureFormat::Jpeg: return GUID_ContainerFormatJpeg;
    case PictureFormat::Bmp: return GUID_ContainerFormatBmp;
    case PictureFormat::Gif: return GUID_ContainerFormatGif;
    case PictureFormat::Tiff: return GUID_ContainerFormatTiff;
    }
    return GUID_ContainerFormatPng;
}

// GIF needs indexed pixels: a 6x6x6 colour cube is plenty for test pictures.
BYTE CubeIndex(std::uint32_t rgb) {
    const int r = ((rgb >> 16) & 0xFF) * 5 / 255, g = ((rgb >> 8) & 0xFF) * 5 / 255, b = (rgb & 0xFF) * 5 / 255;
    return static_cast<BYTE>(r * 36 + g * 6 + b);
}

void SendKey(WORD vk, bool up) {
    INPUT in{};
    in.type = INPUT_KEYBOARD;
    in.ki.wVk = vk;
    in.ki.wScan = static_cast<WORD>(::MapVirtualKeyW(vk, MAPVK_VK_TO_VSC));
    in.ki.dwFlags = up ? KEYEVENTF_KEYUP : 0;
    ::SendInput(1, &in, sizeof(in));
}

}  // namespace

std::wstring ScrPath() { return Env(L"LUMORA_SCR"); }
std::wstring OutDir() { return Env(L"LUMORA_E2E_OUT"); }
std::wstring WorkDir() { return Env(L"LUMORA_E2E_WORK"); }

std::string WideToUtf8(std::wstring_view text) {
    if (text.empty()) return {};
    const int n = ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<size_t>(n), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), n, nullptr, nullptr);
    return out;
}

TestFolder::TestFolder(std::wstring_view name) {
    path_ = WorkDir() + L"\\" + std::wstring(name);
    RemoveTree(path_);
    ::CreateDirectoryW(WorkDir().c_str(), nullptr);
    ::CreateDirectoryW(path_.c_str(), nullptr);
    ::CopyFileW(ScrPath().c_str(), scr().c_str(), FALSE);
}

TestFolder::~TestFolder() { RemoveTree(path_); }

bool TestFolder::Write(std::wstring_view name, const std::vector<std::uint8_t>& bytes) const {
    return WriteFileBytes(file(name), bytes);
}

bool WriteFileBytes(const std::wstring& path, const std::vector<std::uint8_t>& bytes) {
    const UniqueFile file(
        ::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return false;
    DWORD written = 0;
    const BOOL ok =
        bytes.empty() || ::WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    return ok && written == bytes.size();
}

std::vector<std::uint8_t> ReadFileBytes(const std::wstring& path) {
    const UniqueFile file(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                        OPEN_EXISTING, 0, nullptr));
    std::vector<std::uint8_t> bytes;
    std::uint8_t buffer[65536];
    DWORD read = 0;
    while (file && ::ReadFile(file.get(), buffer, sizeof(buffer), &read, nullptr) && read > 0)
        bytes.insert(bytes.end(), buffer, buffer + read);
    return bytes;
}

std::wstring DriverFolder() {
    wchar_t path[MAX_PATH * 4];
    const std::wstring self(path, ::GetModuleFileNameW(nullptr, path, static_cast<DWORD>(std::size(path))));
    return self.substr(0, self.find_last_of(L'\\'));
}

bool RemoveTree(const std::wstring& path) {
    const DWORD attributes = ::GetFileAttributesW(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) return true;
    if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        ::SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
        return ::DeleteFileW(path.c_str()) != FALSE;
    }
    WIN32_FIND_DATAW found;
    if (const UniqueFind find(::FindFirstFileW((path + L"\\*").c_str(), &found)); find) {
        do {
            const std::wstring name = found.cFileName;
            if (name != L"." && name != L"..") RemoveTree(path + L"\\" + name);
        } while (::FindNextFileW(find.get(), &found));
    }
    return ::RemoveDirectoryW(path.c_str()) != FALSE;
}

bool WritePicture(const std::wstring& path, PictureFormat format, int width, int height, const PixelFunction& pixel) {
    auto factory = Factory();
    if (!factory || width <= 0 || height <= 0) return false;
    ComPtr<IWICStream> stream;
    ComPtr<IWICBitmapEncoder> encoder;
    ComPtr<IWICBitmapFrameEncode> frame;
    if (FAILED(factory->CreateStream(&stream)) || FAILED(stream->InitializeFromFilename(path.c_str(), GENERIC_WRITE)) ||
        FAILED(factory->CreateEncoder(ContainerOf(format), nullptr, &encoder)) ||
        FAILED(encoder->Initialize(stream.Get(), WICBitmapEncoderNoCache)) ||
        FAILED(encoder->CreateNewFrame(&frame, nullptr)) || FAILED(frame->Initialize(nullptr)) ||
        FAILED(frame->SetSize(static_cast<UINT>(width), static_cast<UINT>(height))))
        return false;

    const bool indexed = format == PictureFormat::Gif, alpha = format == PictureFormat::PngWithAlpha;
    WICPixelFormatGUID pixelFormat = indexed ? GUID_WICPixelFormat8bppIndexed
                                     : alpha ? GUID_WICPixelFormat32bppBGRA
                                             : GUID_WICPixelFormat24bppBGR;
    if (FAILED(frame->SetPixelFormat(&pixelFormat))) return false;
    if (indexed) {
        ComPtr<IWICPalette> palette;
        WICColor colours[216];
        for (int i = 0; i < 216; ++i)
            colours[i] = 0xFF000000u | (static_cast<UINT>(i / 36 * 51) << 16) | (static_cast<UINT>(i / 6 % 6 * 51) << 8) |
                         static_cast<UINT>(i % 6 * 51);
        if (FAILED(factory->CreatePalette(&palette)) || FAILED(palette->InitializeCustom(colours, 216)) ||
            FAILED(frame->SetPalette(palette.Get())))
            return false;
    }
    const UINT bytesPerPixel = indexed ? 1 : alpha ? 4 : 3;
    const UINT stride = (static_cast<UINT>(width) * bytesPerPixel + 3) & ~3u;
    std::vector<BYTE> row(stride);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const std::uint32_t c = pixel(x, y);
            if (indexed) {
                row[x] = CubeIndex(c);
                continue;
            }
            // Blue, green, red and, with alpha, the top byte as it is.
            for (UINT i = 0; i < bytesPerPixel; ++i) row[x * bytesPerPixel + i] = static_cast<BYTE>(c >> (8 * i));
        }
        if (FAILED(frame->WritePixels(1, stride, stride, row.data()))) return false;
    }
    return SUCCEEDED(frame->Commit()) && SUCCEEDED(encoder->Commit());
}

bool WritePicture(const std::wstring& path, PictureFormat format, int width, int height, std::uint32_t colour) {
    return WritePicture(path, format, width, height, [colour](int, int) { return colour; });
}

PixelFunction Grainy(std::uint32_t colour) {
    return [colour](int x, int y) {
        std::uint32_t h = static_cast<std::uint32_t>(x) * 73856093u ^ static_cast<std::uint32_t>(y) * 19349663u;
        h ^= h >> 13;
        h *= 0x5BD1E995u;
        h ^= h >> 15;
        return colour ^ (h & 0x070707);
    };
}

Process Process::Start(const std::wstring& exe, const std::wstring& arguments, const std::wstring& startIn) {
    Process p;
    std::wstring commandLine = L"\"" + exe + L"\"";
    if (!arguments.empty()) commandLine += L" " + arguments;
    STARTUPINFOW si{};
    si.cb = sizeof(si);
    PROCESS_INFORMATION pi{};
    const std::wstring folder = startIn.empty() ? exe.substr(0, exe.find_last_of(L'\\')) : startIn;
    if (::CreateProcessW(exe.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                         folder.empty() ? nullptr : folder.c_str(), &si, &pi)) {
        ::CloseHandle(pi.hThread);
        p.process_ = pi.hProcess;
        p.pid_ = pi.dwProcessId;
        ::WaitForInputIdle(p.process_, 5000);
    }
    return p;
}

Process Process::Open(DWORD pid) {
    Process p;
    p.process_ = ::OpenProcess(PROCESS_ALL_ACCESS, FALSE, pid);
    if (p.process_) p.pid_ = pid;
    return p;
}

bool Process::Suspend() const {
    const UniqueKernelHandle snapshot(::CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0));
    THREADENTRY32 thread{};
    thread.dwSize = sizeof(thread);
    int stopped = 0;
    for (BOOL more = snapshot && ::Thread32First(snapshot.get(), &thread); more;
         more = ::Thread32Next(snapshot.get(), &thread)) {
        if (thread.th32OwnerProcessID != pid_) continue;
        const UniqueKernelHandle h(::OpenThread(THREAD_SUSPEND_RESUME, FALSE, thread.th32ThreadID));
        stopped += h && ::SuspendThread(h.get()) != static_cast<DWORD>(-1);
    }
    return stopped > 0;
}

bool Process::Fault() const {
    const UniqueKernelHandle thread(::CreateRemoteThread(process_, nullptr, 0, nullptr, nullptr, 0, nullptr));
    return static_cast<bool>(thread);
}

bool Process::FailFast() const {
    static constexpr BYTE kCode[] = {0xB9, 0x07, 0x00, 0x00, 0x00, 0xCD, 0x29};  // mov ecx, 7; int 0x29
    void* code = ::VirtualAllocEx(process_, nullptr, sizeof kCode, MEM_COMMIT | MEM_RESERVE, PAGE_EXECUTE_READWRITE);
    if (!code || !::WriteProcessMemory(process_, code, kCode, sizeof kCode, nullptr)) return false;
    const UniqueKernelHandle thread(::CreateRemoteThread(
        process_, nullptr, 0, reinterpret_cast<LPTHREAD_START_ROUTINE>(code), nullptr, 0, nullptr));
    return static_cast<bool>(thread);
}

bool Process::HasModule(std::wstring_view name) const {
    HMODULE modules[1024];
    DWORD bytes = 0;
    if (!::EnumProcessModules(process_, modules, sizeof modules, &bytes)) return false;
    for (DWORD i = 0; i < bytes / sizeof(HMODULE) && i < std::size(modules); ++i) {
        wchar_t base[MAX_PATH];
        if (::GetModuleBaseNameW(process_, modules[i], base, MAX_PATH) && ::lstrcmpiW(base, std::wstring(name).c_str()) == 0)
            return true;
    }
    return false;
}

namespace {

// A system call that names a file, and which of its arguments holds the
// name: NtCreateFile and NtOpenFile take the object attributes third, the
// two attribute queries first.
struct FileCall {
    const char* name;
    bool nameFirst;
    BYTE* entry = nullptr;
    BYTE original = 0;
};

std::wstring ObjectNameAt(HANDLE process, DWORD64 attributes) {
    OBJECT_ATTRIBUTES a{};
    UNICODE_STRING name{};
    if (!attributes ||
        !::ReadProcessMemory(process, reinterpret_cast<void*>(attributes), &a, sizeof a, nullptr) ||
        !a.ObjectName || !::ReadProcessMemory(process, a.ObjectName, &name, sizeof name, nullptr) || !name.Buffer)
        return {};
    std::wstring text(name.Length / sizeof(wchar_t), L'\0');
    if (!::ReadProcessMemory(process, name.Buffer, text.data(), name.Length, nullptr)) return {};
    return text;
}

}  // namespace

std::optional<std::vector<std::wstring>> FilesNamedWhile(const Process& process,
                                                         const std::function<void()>& action) {
    // ntdll lies at the same address in every process of the prefix.
    const HMODULE ntdll = ::GetModuleHandleW(L"ntdll.dll");
    FileCall calls[] = {{"NtCreateFile", false}, {"NtOpenFile", false}, {"NtQueryAttributesFile", true},
                        {"NtQueryFullAttributesFile", true}};
    if (!::DebugActiveProcess(process.pid())) return std::nullopt;
    ::DebugSetProcessKillOnExit(FALSE);
    const auto arm = [&](FileCall& c, BYTE byte) {
        ::WriteProcessMemory(process.handle(), c.entry, &byte, 1, nullptr);
        ::FlushInstructionCache(process.handle(), c.entry, 1);
    };
    bool armed = true;
    for (FileCall& c : calls) {
        c.entry = reinterpret_cast<BYTE*>(reinterpret_cast<void*>(::GetProcAddress(ntdll, c.name)));
        armed = armed && c.entry && ::ReadProcessMemory(process.handle(), c.entry, &c.original, 1, nullptr);
        if (armed) arm(c, 0xCC);
    }
    std::vector<std::wstring> names;
    std::atomic<bool> acted{false};
    std::thread actor([&] {
        if (armed) action();
        acted = true;
    });
    std::vector<std::pair<DWORD, FileCall*>> stepping;  // threads stepping past a disarmed entry
    bool disarmed = false;
    ULONGLONG quietSince = ::GetTickCount64();
    // After the action: entries disarmed, then events drained until it is quiet.
    while (!disarmed || !stepping.empty() || ::GetTickCount64() - quietSince < 300) {
        if (acted && !disarmed) {
            for (FileCall& c : calls)
                if (c.entry) arm(c, c.original);
            disarmed = true;
        }
        DEBUG_EVENT event{};
        if (!::WaitForDebugEvent(&event, 50)) continue;
        quietSince = ::GetTickCount64();
        DWORD answer = DBG_CONTINUE;
        if (event.dwDebugEventCode == CREATE_PROCESS_DEBUG_EVENT) UniqueFile(event.u.CreateProcessInfo.hFile);
        if (event.dwDebugEventCode == LOAD_DLL_DEBUG_EVENT) UniqueFile(event.u.LoadDll.hFile);
        if (event.dwDebugEventCode == EXCEPTION_DEBUG_EVENT) {
            const EXCEPTION_RECORD& e = event.u.Exception.ExceptionRecord;
            FileCall* hit = nullptr;
            for (FileCall& c : calls)
                if (e.ExceptionCode == EXCEPTION_BREAKPOINT && e.ExceptionAddress == c.entry) hit = &c;
            const auto step = std::find_if(stepping.begin(), stepping.end(),
                                           [&](const auto& s) { return s.first == event.dwThreadId; });
            if (hit) {
                const UniqueKernelHandle thread(
                    ::OpenThread(THREAD_GET_CONTEXT | THREAD_SET_CONTEXT, FALSE, event.dwThreadId));
                CONTEXT context{};
                context.ContextFlags = CONTEXT_FULL;
                if (thread && ::GetThreadContext(thread.get(), &context)) {
                    names.push_back(ObjectNameAt(process.handle(), hit->nameFirst ? context.Rcx : context.R8));
                    // Back over the breakpoint, with the call's own first byte
                    // in place; one step later the breakpoint goes back in.
                    context.Rip = reinterpret_cast<DWORD64>(hit->entry);
                    arm(*hit, hit->original);
                    if (!disarmed) {
                        context.EFlags |= 0x100;  // trap after one instruction
                        stepping.emplace_back(event.dwThreadId, hit);
                    }
                    ::SetThreadContext(thread.get(), &context);
                }
            } else if (e.ExceptionCode == EXCEPTION_SINGLE_STEP && step != stepping.end()) {
                if (!disarmed) arm(*step->second, 0xCC);
                stepping.erase(step);
            } else if (e.ExceptionCode != EXCEPTION_BREAKPOINT) {
                answer = DBG_EXCEPTION_NOT_HANDLED;  // the process's own business
            }
        }
        if (event.dwDebugEventCode == EXIT_PROCESS_DEBUG_EVENT) {
            disarmed = true;
            stepping.clear();
        }
        ::ContinueDebugEvent(event.dwProcessId, event.dwThreadId, answer);
    }
    ::DebugActiveProcessStop(process.pid());
    actor.join();
    if (!armed) return std::nullopt;
    return names;
}

namespace {

std::string ReadText(const std::wstring& path) {
    const std::vector<std::uint8_t> bytes = ReadFileBytes(path);
    return std::string(bytes.begin(), bytes.end());
}

bool UnderWine() { return ::GetProcAddress(::GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr; }

}  // namespace

int LinuxPidOf(const std::wstring& commandLine) {
    const std::string wanted = WideToUtf8(commandLine);
    WIN32_FIND_DATAW found{};
    const UniqueFind find(::FindFirstFileW(L"Z:\\proc\\*", &found));
    if (!find) return 0;
    do {
        const int candidate = _wtoi(found.cFileName);
        if (candidate <= 0) continue;
        std::string cmdline = ReadText(L"Z:\\proc\\" + std::wstring(found.cFileName) + L"\\cmdline");
        std::replace(cmdline.begin(), cmdline.end(), '\0', ' ');
        if (cmdline.find(wanted) != std::string::npos) return candidate;
    } while (::FindNextFileW(find.get(), &found));
    return 0;
}

double CpuSeconds(HANDLE process, const std::wstring& commandLine) {
    if (!UnderWine() || process == ::GetCurrentProcess()) {
        FILETIME created, ended, kernel, user;
        if (!::GetProcessTimes(process, &created, &ended, &kernel, &user)) return -1;
        const auto value = [](const FILETIME& t) { return (std::uint64_t{t.dwHighDateTime} << 32) | t.dwLowDateTime; };
        return static_cast<double>(value(kernel) + value(user)) / 1e7;
    }
    const int pid = LinuxPidOf(commandLine);
    // Fields 14 and 15, counted after the name in parentheses, in clock ticks of 1/100 s.
    const std::string stat = pid ? ReadText(L"Z:\\proc\\" + std::to_wstring(pid) + L"\\stat") : std::string();
    const auto close = stat.rfind(')');
    if (close == std::string::npos) return -1;
    long long user = 0, kernel = 0;
    if (std::sscanf(stat.c_str() + close + 1, " %*c %*d %*d %*d %*d %*d %*u %*u %*u %*u %*u %lld %lld", &user,
                    &kernel) != 2)
        return -1;
    return static_cast<double>(user + kernel) / 100.0;
}

namespace {

// Every process the system lists, as a snapshot sees them.
std::vector<PROCESSENTRY32W> Processes() {
    std::vector<PROCESSENTRY32W> all;
    const UniqueHandle<HANDLE, CloseKernelHandle, -1> snapshot(::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof(entry);
    for (BOOL more = snapshot && ::Process32FirstW(snapshot.get(), &entry); more;
         more = ::Process32NextW(snapshot.get(), &entry))
        all.push_back(entry);
    return all;
}

}  // namespace

DebuggedProcess::DebuggedProcess(const std::wstring& exe, const std::wstring& arguments)
    : created_(::CreateEventW(nullptr, TRUE, FALSE, nullptr)) {
    // Debug events go to the thread that created the process.
    thread_ = std::thread(&DebuggedProcess::Debug, this, L"\"" + exe + L"\" " + arguments);
    ::WaitForSingleObject(created_, INFINITE);
    if (pid_) process_ = Process::Open(pid_);
}

DebuggedProcess::~DebuggedProcess() {
    stop_ = true;
    thread_.join();
    process_.Kill();
    ::CloseHandle(created_);
}

std::vector<std::wstring> DebuggedProcess::Lines(std::wstring_view text) const {
    std::lock_guard lock(mutex_);
    std::vector<std::wstring> found;
    for (const std::wstring& line : lines_)
        if (line.find(text) != std::wstring::npos) found.push_back(line);
    return found;
}

void DebuggedProcess::Debug(std::wstring commandLine) {
    STARTUPINFOW si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    const bool ok = ::CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, DEBUG_ONLY_THIS_PROCESS,
                                     nullptr, nullptr, &si, &pi);
    if (ok) {
        pid_ = pi.dwProcessId;
        ::CloseHandle(pi.hThread);
        ::CloseHandle(pi.hProcess);
    }
    ::SetEvent(created_);
    if (!ok) return;
    ::DebugSetProcessKillOnExit(FALSE);
    for (;;) {
        DEBUG_EVENT event{};
        if (!::WaitForDebugEvent(&event, 50)) {
            if (stop_) break;
            continue;
        }
        DWORD answer = DBG_CONTINUE;
        switch (event.dwDebugEventCode) {
        case CREATE_PROCESS_DEBUG_EVENT: UniqueFile(event.u.CreateProcessInfo.hFile); break;
        case LOAD_DLL_DEBUG_EVENT: UniqueFile(event.u.LoadDll.hFile); break;
        case EXCEPTION_DEBUG_EVENT:
            // The loader's breakpoint is the debugger's; any other is the process's own business.
            if (event.u.Exception.ExceptionRecord.ExceptionCode != EXCEPTION_BREAKPOINT)
                answer = DBG_EXCEPTION_NOT_HANDLED;
            break;
        case OUTPUT_DEBUG_STRING_EVENT: {
            const OUTPUT_DEBUG_STRING_INFO& s = event.u.DebugString;
            const HANDLE process = ::OpenProcess(PROCESS_VM_READ, FALSE, event.dwProcessId);
            const std::size_t units = s.nDebugStringLength, unit = s.fUnicode ? 2 : 1;
            std::vector<char> bytes(units * unit);
            SIZE_T read = 0;
            if (process && units && ::ReadProcessMemory(process, s.lpDebugStringData, bytes.data(), bytes.size(), &read)) {
                std::wstring line;
                if (s.fUnicode) {
                    line.assign(reinterpret_cast<const wchar_t*>(bytes.data()), read / 2);
                } else {
                    line.resize(read);
                    line.resize(static_cast<std::size_t>(::MultiByteToWideChar(
                        CP_ACP, 0, bytes.data(), static_cast<int>(read), line.data(), static_cast<int>(line.size()))));
                }
                while (!line.empty() && (line.back() == L'\0' || line.back() == L'\n' || line.back() == L'\r'))
                    line.pop_back();
                std::lock_guard lock(mutex_);
                lines_.push_back(std::move(line));
            }
            if (process) ::CloseHandle(process);
            break;
        }
        }
        ::ContinueDebugEvent(event.dwProcessId, event.dwThreadId, answer);
        if (event.dwDebugEventCode == EXIT_PROCESS_DEBUG_EVENT) return;
    }
    ::DebugActiveProcessStop(pid_);
}

std::vector<DWORD> ChildProcessIds(DWORD parent) {
    std::vector<DWORD> children;
    for (const PROCESSENTRY32W& entry : Processes())
        if (entry.th32ParentProcessID == parent) children.push_back(entry.th32ProcessID);
    return children;
}

bool ProcessRuns(std::wstring_view exeName) {
    for (const PROCESSENTRY32W& entry : Processes())
        if (::CompareStringOrdinal(entry.szExeFile, -1, exeName.data(), static_cast<int>(exeName.size()), TRUE) ==
            CSTR_EQUAL)
            return true;
    return false;
}

Process::Process(Process&& other) noexcept
    : process_(std::exchange(other.process_, nullptr)), pid_(std::exchange(other.pid_, 0)) {}

Process& Process::operator=(Process&& other) noexcept {
    if (this != &other) {
        Kill();
        process_ = std::exchange(other.process_, nullptr);
        pid_ = std::exchange(other.pid_, 0);
    }
    return *this;
}

Process::~Process() { Kill(); }

void Process::Kill() {
    if (!process_) return;
    if (Running()) {
        ::TerminateProcess(process_, 99);
        ::WaitForSingleObject(process_, 5000);
    }
    ::CloseHandle(process_);
    process_ = nullptr;
}

void Process::Release() {
    if (process_) ::CloseHandle(process_);
    process_ = nullptr;
    pid_ = 0;
}

bool Process::Running() const { return process_ && ::WaitForSingleObject(process_, 0) == WAIT_TIMEOUT; }

std::optional<DWORD> Process::ExitCodeWithin(DWORD timeoutMs) const {
    WaitExit(timeoutMs);
    return ExitCode();
}

bool Process::WaitExit(DWORD timeoutMs) const {
    return process_ && ::WaitForSingleObject(process_, timeoutMs) == WAIT_OBJECT_0;
}

std::optional<DWORD> Process::ExitCode() const {
    DWORD code = 0;
    if (!process_ || Running() || !::GetExitCodeProcess(process_, &code)) return std::nullopt;
    return code;
}

std::vector<HWND> TopWindowsOf(DWORD pid, bool visibleOnly) {
    struct Query {
        DWORD pid;
        bool visibleOnly;
        std::vector<HWND> found;
    } query{pid, visibleOnly, {}};
    ::EnumWindows(
        [](HWND hwnd, LPARAM lp) -> BOOL {
            auto* q = reinterpret_cast<Query*>(lp);
            DWORD owner = 0;
            ::GetWindowThreadProcessId(hwnd, &owner);
            if (owner == q->pid && (!q->visibleOnly || ::IsWindowVisible(hwnd))) q->found.push_back(hwnd);
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&query));
    return query.found;
}

HWND WaitForWindow(DWORD pid, std::wstring_view caption, DWORD timeoutMs) {
    HWND result = nullptr;
    WaitUntil(
        [&] {
            for (HWND hwnd : TopWindowsOf(pid)) {
                if (caption.empty() || WindowText(hwnd) == caption) {
                    result = hwnd;
                    return true;
                }
            }
            return false;
        },
        timeoutMs);
    return result;
}

std::vector<HWND> ChildWindows(HWND parent) {
    std::vector<HWND> children;
    ::EnumChildWindows(
        parent,
        [](HWND hwnd, LPARAM lp) -> BOOL {
            reinterpret_cast<std::vector<HWND>*>(lp)->push_back(hwnd);
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&children));
    return children;
}

HWND ChildWithText(HWND parent, std::wstring_view text) {
    for (HWND child : ChildWindows(parent))
        if (WindowText(child) == text) return child;
    return nullptr;
}

std::wstring WindowText(HWND hwnd) {
    DWORD_PTR length = 0;
    if (!::SendMessageTimeoutW(hwnd, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, 2000, &length)) return {};
    std::wstring text(length + 1, L'\0');
    DWORD_PTR copied = 0;
    if (!::SendMessageTimeoutW(hwnd, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()), SMTO_ABORTIFHUNG,
                               2000, &copied))
        return {};
    text.resize(std::min<size_t>(copied, length));
    return text;
}

std::wstring ClassName(HWND hwnd) {
    wchar_t name[256];
    const int n = ::GetClassNameW(hwnd, name, 256);
    return std::wstring(name, n > 0 ? n : 0);
}

RECT ClientRectOnScreen(HWND hwnd) {
    RECT r{};
    ::GetClientRect(hwnd, &r);
    ::MapWindowPoints(hwnd, nullptr, reinterpret_cast<POINT*>(&r), 2);
    return r;
}

RECT PlaceInClient(HWND window, HWND control) {
    const RECT origin = ClientRectOnScreen(window);
    RECT r{};
    ::GetWindowRect(control, &r);
    return RECT{r.left - origin.left, r.top - origin.top, r.right - origin.left, r.bottom - origin.top};
}

bool SendWithin(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    DWORD_PTR result = 0;
    return ::SendMessageTimeoutW(hwnd, msg, wp, lp, SMTO_ABORTIFHUNG, 2000, &result) != 0;
}

bool SendPowerSetting(HWND window, const GUID& setting, DWORD value, DWORD length) {
    DWORD pid = 0;
    ::GetWindowThreadProcessId(window, &pid);
    const UniqueKernelHandle process(::OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_WRITE, FALSE, pid));
    BYTE bytes[offsetof(POWERBROADCAST_SETTING, Data) + sizeof value]{};
    auto* payload = reinterpret_cast<POWERBROADCAST_SETTING*>(bytes);
    payload->PowerSetting = setting;
    payload->DataLength = length;
    std::memcpy(payload->Data, &value, sizeof value);
    void* const remote =
        ::VirtualAllocEx(process.get(), nullptr, sizeof bytes, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
    const bool sent = remote && ::WriteProcessMemory(process.get(), remote, bytes, sizeof bytes, nullptr) &&
                      SendWithin(window, WM_POWERBROADCAST, PBT_POWERSETTINGCHANGE, reinterpret_cast<LPARAM>(remote));
    if (remote) ::VirtualFreeEx(process.get(), remote, 0, MEM_RELEASE);
    return sent;
}

bool MoveOver(HWND hwnd, int x, int y) { return SendWithin(hwnd, WM_MOUSEMOVE, 0, MAKELPARAM(x, y)); }

namespace {

POINT PointerPlace() {
    POINT p{};
    ::GetCursorPos(&p);
    return p;
}

HWND FocusOf(HWND window) {
    GUITHREADINFO gui{};
    gui.cbSize = sizeof(gui);
    return ::GetGUIThreadInfo(::GetWindowThreadProcessId(window, nullptr), &gui) ? gui.hwndFocus : nullptr;
}

}  // namespace

bool PointerOffScreen() {
    const POINT p = PointerPlace();
    const int left = ::GetSystemMetrics(SM_XVIRTUALSCREEN), top = ::GetSystemMetrics(SM_YVIRTUALSCREEN);
    return p.x < left || p.y < top || p.x >= left + ::GetSystemMetrics(SM_CXVIRTUALSCREEN) ||
           p.y >= top + ::GetSystemMetrics(SM_CYVIRTUALSCREEN);
}

bool ParkPointer(int x, int y) {
    ::SetCursorPos(x, y);
    return WaitUntil([&] { return PointerPlace().x == x && PointerPlace().y == y; }, 2000);
}

void Activate(HWND hwnd) {
    ::SetForegroundWindow(hwnd);
    WaitUntil([&] { return ::GetForegroundWindow() == hwnd; }, 2000);
}

bool KeysHandled(HWND dialog) {
    const HWND before = FocusOf(dialog);
    PressKey(VK_TAB);
    return WaitUntil([&] { return FocusOf(dialog) != before && ::IsChild(dialog, FocusOf(dialog)); }, 3000);
}

int TwipsToPixels(int twips) { return ::MulDiv(twips, static_cast<int>(::GetDpiForSystem()), 1440); }

void PressKey(WORD vk) { PressKeys({vk}); }

void PressKeys(std::initializer_list<WORD> keys) {
    for (WORD vk : keys) SendKey(vk, false);
    for (auto it = std::rbegin(keys); it != std::rend(keys); ++it) SendKey(*it, true);
}

namespace {

// Absolute coordinates run 0..65535 across the primary screen.
INPUT MouseAt(int x, int y, DWORD flags) {
    const int w = ::GetSystemMetrics(SM_CXSCREEN), h = ::GetSystemMetrics(SM_CYSCREEN);
    INPUT in{};
    in.type = INPUT_MOUSE;
    in.mi.dx = static_cast<LONG>((x * 65536LL + w / 2) / w);
    in.mi.dy = static_cast<LONG>((y * 65536LL + h / 2) / h);
    in.mi.dwFlags = flags | MOUSEEVENTF_MOVE | MOUSEEVENTF_ABSOLUTE;
    return in;
}

}  // namespace

void MoveMouse(int x, int y) {
    INPUT in = MouseAt(x, y, 0);
    ::SendInput(1, &in, sizeof(in));
}

void Click(int x, int y, bool right) {
    // One batch, every event at the same place: Wine under Xvfb may move its
    // pointer back between separate calls.
    INPUT in[3] = {MouseAt(x, y, 0), MouseAt(x, y, right ? MOUSEEVENTF_RIGHTDOWN : MOUSEEVENTF_LEFTDOWN),
                   MouseAt(x, y, right ? MOUSEEVENTF_RIGHTUP : MOUSEEVENTF_LEFTUP)};
    ::SendInput(3, in, sizeof(INPUT));
}

HWND Taskbar() { return ::FindWindowW(L"Shell_TrayWnd", nullptr); }

bool TaskbarVisible() {
    HWND taskbar = Taskbar();
    return taskbar && ::IsWindowVisible(taskbar);
}

namespace {

Image CaptureRect(int left, int top, int width, int height) {
    Image image;
    image.width = width;
    image.height = height;
    image.pixels.assign(static_cast<size_t>(image.width) * image.height, 0);
    const WindowDc screen(nullptr);
    const UniqueMemoryDc memory(::CreateCompatibleDC(screen.get()));
    BITMAPINFO bi{};
    bi.bmiHeader.biSize = sizeof(bi.bmiHeader);
    bi.bmiHeader.biWidth = image.width;
    bi.bmiHeader.biHeight = -image.height;  // top row first
    bi.bmiHeader.biPlanes = 1;
    bi.bmiHeader.biBitCount = 32;
    bi.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    const UniqueBitmap bitmap(::CreateDIBSection(screen.get(), &bi, DIB_RGB_COLORS, &bits, nullptr, 0));
    if (!bitmap || !bits) return image;
    SelectObjectScope select(memory.get(), bitmap.get());
    ::BitBlt(memory.get(), 0, 0, image.width, image.height, screen.get(), left, top, SRCCOPY);
    ::GdiFlush();
    const auto* src = static_cast<const std::uint32_t*>(bits);
    for (size_t i = 0; i < image.pixels.size(); ++i) image.pixels[i] = src[i] & 0x00FFFFFFu;
    return image;
}

}  // namespace

Image CaptureScreen() { return CaptureRect(0, 0, ::GetSystemMetrics(SM_CXSCREEN), ::GetSystemMetrics(SM_CYSCREEN)); }

Image CaptureVirtualScreen() {
    return CaptureRect(::GetSystemMetrics(SM_XVIRTUALSCREEN), ::GetSystemMetrics(SM_YVIRTUALSCREEN),
                       ::GetSystemMetrics(SM_CXVIRTUALSCREEN), ::GetSystemMetrics(SM_CYVIRTUALSCREEN));
}

bool Image::Save(const std::wstring& path) const {
    if (width <= 0 || height <= 0) return false;
    return WritePicture(path, PictureFormat::Png, width, height, [this](int x, int y) { return At(x, y); });
}

bool NearColour(std::uint32_t a, std::uint32_t b, int tolerance) {
    for (int shift = 0; shift <= 16; shift += 8) {
        const int ca = static_cast<int>((a >> shift) & 0xFF), cb = static_cast<int>((b >> shift) & 0xFF);
        if (std::abs(ca - cb) > tolerance) return false;
    }
    return true;
}

bool IsBlack(std::uint32_t colour) { return NearColour(colour, 0x000000, 24); }

Box NonBlackBox(const Image& shot) {
    Box b{shot.width, shot.height, 0, 0};
    for (int y = 0; y < shot.height; ++y)
        for (int x = 0; x < shot.width; ++x)
            if (!IsBlack(shot.At(x, y))) {
                b.left = std::min(b.left, x);
                b.top = std::min(b.top, y);
                b.right = std::max(b.right, x + 1);
                b.bottom = std::max(b.bottom, y + 1);
            }
    return b;
}

Image CaptureWindow(HWND hwnd) {
    RECT r{};
    ::GetWindowRect(hwnd, &r);
    const Image shot = CaptureScreen();
    Image window;
    for (int y = std::max<LONG>(r.top, 0); y < std::min<LONG>(r.bottom, shot.height); ++y)
        for (int x = std::max<LONG>(r.left, 0); x < std::min<LONG>(r.right, shot.width); ++x)
            window.pixels.push_back(shot.At(x, y));
    window.width = std::min<LONG>(r.right, shot.width) - std::max<LONG>(r.left, 0);
    window.height = std::min<LONG>(r.bottom, shot.height) - std::max<LONG>(r.top, 0);
    if (window.width <= 0 || window.height <= 0) return {};
    return window;
}

bool TextsDrawn(HWND window) {
    const Image shot = CaptureScreen();
    for (HWND child : ChildWindows(window)) {
        if (!::IsWindowVisible(child) || WindowText(child).empty()) continue;
        RECT r{};
        ::GetWindowRect(child, &r);
        bool dark = false;
        for (int y = std::max<LONG>(r.top, 0); y < std::min<LONG>(r.bottom, shot.height) && !dark; ++y)
            for (int x = std::max<LONG>(r.left, 0); x < std::min<LONG>(r.right, shot.width) && !dark; ++x)
                dark = NearColour(shot.At(x, y), 0x000000, 0x40);
        if (!dark) return false;
    }
    return true;
}

bool TitleBarHasRed(HWND hwnd) {
    RECT window{};
    ::GetWindowRect(hwnd, &window);
    const RECT client = ClientRectOnScreen(hwnd);
    const Image shot = CaptureScreen();
    // The icon sits in a square at the caption's left end.
    for (int y = window.top; y < client.top; ++y)
        for (int x = window.left; x < window.left + (client.top - window.top); ++x)
            if (x >= 0 && y >= 0 && x < shot.width && y < shot.height) {
                const std::uint32_t c = shot.At(x, y);
                if (((c >> 16) & 0xFF) > 0xB0 && ((c >> 8) & 0xFF) < 0x40 && (c & 0xFF) < 0x40) return true;
            }
    return false;
}

VersionRecord::VersionRecord(const std::wstring& path) {
    DWORD ignored = 0;
    block_.resize(::GetFileVersionInfoSizeW(path.c_str(), &ignored));
    ok_ = !block_.empty() && ::GetFileVersionInfoW(path.c_str(), 0, static_cast<DWORD>(block_.size()), block_.data());
}

const VS_FIXEDFILEINFO* VersionRecord::Fixed() const {
    void* p = nullptr;
    UINT len = 0;
    if (!ok_ || !::VerQueryValueW(block_.data(), L"\\", &p, &len) || len < sizeof(VS_FIXEDFILEINFO)) return nullptr;
    return static_cast<const VS_FIXEDFILEINFO*>(p);
}

std::optional<std::wstring> VersionRecord::String(const std::wstring& name) const {
    void* p = nullptr;
    UINT len = 0;
    const std::wstring query = L"\\StringFileInfo\\041104B0\\" + name;
    if (!ok_ || !::VerQueryValueW(block_.data(), query.c_str(), &p, &len) || !p) return std::nullopt;
    std::wstring s(static_cast<const wchar_t*>(p), len);
    while (!s.empty() && s.back() == L'\0') s.pop_back();
    return s;
}

std::vector<DWORD> VersionRecord::Translations() const {
    void* p = nullptr;
    UINT len = 0;
    if (!ok_ || !::VerQueryValueW(block_.data(), L"\\VarFileInfo\\Translation", &p, &len) || !p) return {};
    const auto* words = static_cast<const DWORD*>(p);
    return std::vector<DWORD>(words, words + len / sizeof(DWORD));
}

bool WaitUntil(const std::function<bool()>& condition, DWORD timeoutMs, DWORD pollMs) {
    const ULONGLONG end = ::GetTickCount64() + timeoutMs;
    for (;;) {
        // The driver's own windows answer the saver meanwhile.
        MSG msg;
        while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) ::DispatchMessageW(&msg);
        if (condition()) return true;
        if (::GetTickCount64() >= end) return false;
        ::MsgWaitForMultipleObjects(0, nullptr, FALSE, pollMs, QS_ALLINPUT);
    }
}

std::uint32_t ScreenPixel(int x, int y) {
    const COLORREF c = ::GetPixel(WindowDc(nullptr).get(), x, y);
    return ((c & 0xFF) << 16) | (c & 0xFF00) | ((c >> 16) & 0xFF);
}

bool WaitForCentre(std::uint32_t colour, DWORD timeoutMs, int tolerance) {
    const int x = ::GetSystemMetrics(SM_CXSCREEN) / 2, y = ::GetSystemMetrics(SM_CYSCREEN) / 2;
    return WaitUntil([&] { return NearColour(ScreenPixel(x, y), colour, tolerance); }, timeoutMs, 10);
}

OwnWindow::OwnWindow(const Options& options) {
    const auto create = [options] {
        WNDCLASSEXW wc{};
        wc.cbSize = sizeof(wc);
        wc.lpfnWndProc = ::DefWindowProcW;
        wc.hInstance = ::GetModuleHandleW(nullptr);
        wc.lpszClassName = options.className;
        wc.hbrBackground = static_cast<HBRUSH>(::GetStockObject(WHITE_BRUSH));
        ::RegisterClassExW(&wc);  // fails harmlessly when registered already
        const DWORD exStyle = options.activate ? 0 : WS_EX_NOACTIVATE;
        HWND hwnd = ::CreateWindowExW(exStyle | WS_EX_TOOLWINDOW, options.className, options.title, WS_POPUP, 10, 10,
                                      200, 40, nullptr, nullptr, wc.hInstance, nullptr);
        if (hwnd && options.visible) {
            ::SetWindowPos(hwnd, HWND_TOP, 0, 0, 0, 0,
                           SWP_NOMOVE | SWP_NOSIZE | SWP_SHOWWINDOW | (options.activate ? 0 : SWP_NOACTIVATE));
            if (options.activate) ::SetForegroundWindow(hwnd);
        }
        return hwnd;
    };
    if (!options.hung) {
        hwnd_ = create();
        return;
    }
    // Created on a thread that then stops answering, as a hung program's would.
    release_ = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    HANDLE created = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    thread_ = std::thread([this, create, created] {
        hwnd_ = create();
        ::SetEvent(created);
        ::WaitForSingleObject(release_, INFINITE);
        ::DestroyWindow(hwnd_);
    });
    ::WaitForSingleObject(created, 5000);
    ::CloseHandle(created);
}

OwnWindow::~OwnWindow() {
    if (thread_.joinable()) {
        ::SetEvent(release_);
        thread_.join();
        ::CloseHandle(release_);
    } else if (hwnd_) {
        ::DestroyWindow(hwnd_);
    }
}

}  // namespace lumora::e2e
