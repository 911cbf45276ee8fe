#include "tools/driver/Lumora_win.h"

#include "resource.h"

#include <psapi.h>
#include <winternl.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace lumora::e2e {

void Tick(HWND form) { ::SendMessageW(form, WM_TIMER, kTimer1Id, 0); }

std::wstring PictureName(int number) {
    wchar_t name[16];
    std::swprintf(name, std::size(name), L"KORVA%03d.DAT", number);
    return name;
}

Slideshow StartSlideshow(const TestFolder& folder) {
    Slideshow s;
    s.process = Process::Start(folder.scr(), L"/s");
    s.form = WaitForWindow(s.process.pid(), kSlideshowCaption, 10000);
    return s;
}

bool Slideshow::InFront(DWORD timeoutMs) const {
    return WaitUntil([&] { return form && ::GetForegroundWindow() == form && !TaskbarVisible(); }, timeoutMs);
}

std::wstring HelperCommandLine(const TestFolder& folder) { return folder.scr() + L" /p"; }

Process HelperOf(const Slideshow& show, DWORD ended, DWORD timeoutMs) {
    Process helper;
    WaitUntil(
        [&] {
            for (DWORD pid : ChildProcessIds(show.process.pid())) {
                if (pid == ended) continue;
                helper = Process::Open(pid);
                if (helper.Running()) return true;
            }
            return false;
        },
        timeoutMs);
    return helper;
}

HWND WaitForCover(const Slideshow& show, DWORD timeoutMs) {
    HWND cover = nullptr;
    WaitUntil(
        [&] {
            for (HWND hwnd : TopWindowsOf(show.process.pid()))
                if (hwnd != show.form) cover = hwnd;
            return cover != nullptr;
        },
        timeoutMs);
    return cover;
}

std::optional<std::uint32_t> InputContextOf(const Process& process, HWND window) {
    // imm32 lies at the same address in every process of the prefix; the
    // thread's exit code is the handle's low half, all a Wine handle has.
    const auto start = reinterpret_cast<LPTHREAD_START_ROUTINE>(
        reinterpret_cast<void*>(::GetProcAddress(::LoadLibraryW(L"imm32.dll"), "ImmGetContext")));
    const UniqueKernelHandle thread(
        start ? ::CreateRemoteThread(process.handle(), nullptr, 0, start, window, 0, nullptr) : nullptr);
    DWORD code = 0;
    if (!thread || ::WaitForSingleObject(thread.get(), 5000) != WAIT_OBJECT_0 ||
        !::GetExitCodeThread(thread.get(), &code))
        return std::nullopt;
    return code;
}

bool HoldAtExit(const Process& process, const std::function<void()>& trigger, DWORD timeoutMs) {
    // Every way out ends in ntdll's NtTerminateProcess, which lies at the same
    // address in every process of the prefix.
    auto* const end = reinterpret_cast<BYTE*>(
        reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleW(L"ntdll.dll"), "NtTerminateProcess")));
    if (!end || !::DebugActiveProcess(process.pid())) return false;
    ::DebugSetProcessKillOnExit(FALSE);
    const BYTE breakpoint = 0xCC;
    bool held = ::WriteProcessMemory(process.handle(), end, &breakpoint, 1, nullptr) &&
                ::FlushInstructionCache(process.handle(), end, 1);
    if (held) trigger();
    const ULONGLONG deadline = ::GetTickCount64() + timeoutMs;
    for (bool waiting = held; waiting;) {
        DEBUG_EVENT event{};
        if (!::WaitForDebugEvent(&event, 100)) {
            waiting = held = ::GetTickCount64() < deadline;
            continue;
        }
        DWORD answer = DBG_CONTINUE;
        if (event.dwDebugEventCode == CREATE_PROCESS_DEBUG_EVENT) UniqueFile(event.u.CreateProcessInfo.hFile);
        if (event.dwDebugEventCode == LOAD_DLL_DEBUG_EVENT) UniqueFile(event.u.LoadDll.hFile);
        if (event.dwDebugEventCode == EXIT_PROCESS_DEBUG_EVENT) waiting = held = false;
        if (event.dwDebugEventCode == EXCEPTION_DEBUG_EVENT) {
            const EXCEPTION_RECORD& e = event.u.Exception.ExceptionRecord;
            if (e.ExceptionCode == EXCEPTION_BREAKPOINT && e.ExceptionAddress == end) {
                // The thread that got there stays where it is.
                const UniqueKernelHandle thread(::OpenThread(THREAD_SUSPEND_RESUME, FALSE, event.dwThreadId));
                waiting = false;
                held = thread && ::SuspendThread(thread.get()) != static_cast<DWORD>(-1);
            } else if (e.ExceptionCode != EXCEPTION_BREAKPOINT) {
                answer = DBG_EXCEPTION_NOT_HANDLED;
            }
        }
        ::ContinueDebugEvent(event.dwProcessId, event.dwThreadId, answer);
    }
    ::DebugActiveProcessStop(process.pid());
    return held;
}

Settings StartSettings(const TestFolder& folder, const wchar_t* args) {
    Settings s;
    s.process = Process::Start(folder.scr(), args);
    s.window = WaitForWindow(s.process.pid(), kTitle, 10000);
    return s;
}

HWND OpenAbout(const Settings& settings) {
    ::PostMessageW(settings.window, WM_COMMAND, MAKEWPARAM(IDM_MENU_VERSION, 0), 0);
    return WaitForWindow(settings.process.pid(), kAboutCaption);
}

void PressSysInfo(HWND about) {
    HWND button = ChildWithText(about, kSysInfoButton);
    ::PostMessageW(about, WM_COMMAND, MAKEWPARAM(::GetDlgCtrlID(button), BN_CLICKED), reinterpret_cast<LPARAM>(button));
}

AboutSession StartAbout(const TestFolder& folder) {
    AboutSession s{StartSettings(folder)};
    if (s.settings.window) s.about = OpenAbout(s.settings);
    return s;
}

DialogContents ReadDialog(HWND dialog) {
    DialogContents c;
    for (HWND child : ChildWindows(dialog)) {
        if (!::IsWindowVisible(child)) continue;
        const std::wstring cls = ClassName(child);
        if (cls == L"Button") {
            c.buttons.push_back(WindowText(child));
        } else if (cls == L"Static") {
            if ((::GetWindowLongPtrW(child, GWL_STYLE) & SS_TYPEMASK) == SS_ICON) {
                c.icons += ::SendMessageW(child, STM_GETICON, 0, 0) != 0;
            } else if (WindowText(child).empty()) {
                ++c.emptyStatics;
            } else {
                c.texts.push_back(WindowText(child));
            }
        }
    }
    return c;
}

HWND FindMessageBox(DWORD pid, bool visibleOnly) {
    for (HWND hwnd : TopWindowsOf(pid, visibleOnly))
        if (ClassName(hwnd) == L"#32770" && WindowText(hwnd) == kTitle) return hwnd;
    return nullptr;
}

HWND WaitForMessageBox(DWORD pid, DWORD timeoutMs) {
    HWND box = nullptr;
    WaitUntil([&] { return (box = FindMessageBox(pid)) != nullptr; }, timeoutMs);
    return box;
}

bool CloseMessageBox(HWND box) {
    ::PostMessageW(box, WM_COMMAND, IDOK, 0);
    return WaitUntil([&] { return !::IsWindow(box); }, 3000);
}

bool PlaceMarker(const std::wstring& path) {
    return ::CopyFileW((DriverFolder() + L"\\LumoraMarker.exe").c_str(), path.c_str(), FALSE) != FALSE;
}

std::optional<std::string> MarkerRecord(const std::wstring& markerPath) {
    const std::wstring record = markerPath + L".ran";
    if (::GetFileAttributesW(record.c_str()) == INVALID_FILE_ATTRIBUTES) return std::nullopt;
    const std::vector<std::uint8_t> bytes = ReadFileBytes(record);
    return std::string(bytes.begin(), bytes.end());
}

std::string QuotedRecord(const std::wstring& markerPath) {
    std::string record = "\"";
    record += WideToUtf8(markerPath);
    return record + "\"\nshow=1";
}

// --- the registry ------------------------------------------------------------

namespace {

UniqueKey OpenMachineKey(const std::string& key, REGSAM access) {
    UniqueKey h;
    ::RegOpenKeyExA(HKEY_LOCAL_MACHINE, key.c_str(), 0, access | KEY_WOW64_64KEY, h.put());
    return h;
}

}  // namespace

MachineValue::MachineValue(std::string key, std::string name) : key_(std::move(key)), name_(std::move(name)) {
    const UniqueKey h = OpenMachineKey(key_, KEY_QUERY_VALUE);
    DWORD type = 0, size = 0;
    if (!h || ::RegQueryValueExA(h.get(), name_.c_str(), nullptr, &type, nullptr, &size) != ERROR_SUCCESS) return;
    std::vector<BYTE> data(size);
    if (::RegQueryValueExA(h.get(), name_.c_str(), nullptr, &type, data.data(), &size) == ERROR_SUCCESS)
        before_ = std::make_pair(type, std::move(data));
}

MachineValue::~MachineValue() {
    if (before_) {
        Set(before_->first, before_->second);
    } else {
        Remove();
    }
    // Deepest first: only the keys this test made.
    for (auto it = madeKeys_.rbegin(); it != madeKeys_.rend(); ++it)
        ::RegDeleteKeyExA(HKEY_LOCAL_MACHINE, it->c_str(), KEY_WOW64_64KEY, 0);
}

bool MachineValue::Set(DWORD type, const std::vector<BYTE>& data) {
    NoteKeysToMake();
    UniqueKey h;
    if (::RegCreateKeyExA(HKEY_LOCAL_MACHINE, key_.c_str(), 0, nullptr, 0, KEY_SET_VALUE | KEY_WOW64_64KEY, nullptr,
                          h.put(), nullptr) != ERROR_SUCCESS)
        return false;
    return ::RegSetValueExA(h.get(), name_.c_str(), 0, type, data.data(), static_cast<DWORD>(data.size())) ==
           ERROR_SUCCESS;
}

bool MachineValue::SetString(const std::wstring& text) {
    std::vector<BYTE> data(text.begin(), text.end());
    data.push_back(0);
    return Set(REG_SZ, data);
}

void MachineValue::Remove() {
    if (const UniqueKey h = OpenMachineKey(key_, KEY_SET_VALUE)) ::RegDeleteValueA(h.get(), name_.c_str());
}

void MachineValue::NoteKeysToMake() {
    if (noted_) return;
    noted_ = true;
    for (size_t end = key_.find('\\');; end = key_.find('\\', end + 1)) {
        const std::string prefix = key_.substr(0, end);
        if (!OpenMachineKey(prefix, KEY_QUERY_VALUE)) madeKeys_.push_back(prefix);
        if (end == std::string::npos) break;
    }
}

namespace {

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
        UniqueKey child;
        if (::RegOpenKeyExW(key, sub.c_str(), 0, KEY_READ | KEY_WOW64_64KEY, child.put()) == ERROR_SUCCESS)
            AddKey(child.get(), path + L"\\" + sub, out);
    }
}

void AddTree(HKEY root, const wchar_t* rootName, const wchar_t* path, Snapshot& out) {
    UniqueKey key;
    if (::RegOpenKeyExW(root, path, 0, KEY_READ | KEY_WOW64_64KEY, key.put()) == ERROR_SUCCESS)
        AddKey(key.get(), std::wstring(rootName) + L"\\" + path, out);
}

void AddFolder(const std::wstring& folder, const std::wstring& relative, Snapshot& out) {
    WIN32_FIND_DATAW found{};
    const UniqueFind find(::FindFirstFileW((folder + L"\\*").c_str(), &found));
    if (!find) return;
    do {
        const std::wstring name = found.cFileName;
        if (name == L"." || name == L"..") continue;
        const ULONGLONG size = (static_cast<ULONGLONG>(found.nFileSizeHigh) << 32) | found.nFileSizeLow;
        const ULONGLONG written =
            (static_cast<ULONGLONG>(found.ftLastWriteTime.dwHighDateTime) << 32) | found.ftLastWriteTime.dwLowDateTime;
        out[relative + name] =
            std::to_string(found.dwFileAttributes) + ":" + std::to_string(size) + ":" + std::to_string(written);
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
            AddFolder(folder + L"\\" + name, relative + name + L"\\", out);
    } while (::FindNextFileW(find.get(), &found));
}

}  // namespace

Snapshot TakeUserRegistry() {
    Snapshot s;
    AddTree(HKEY_CURRENT_USER, L"HKCU", L"Software", s);
    AddTree(HKEY_CURRENT_USER, L"HKCU", L"Control Panel", s);
    return s;
}

Snapshot TakeRegistry() {
    Snapshot s = TakeUserRegistry();
    AddTree(HKEY_LOCAL_MACHINE, L"HKLM", L"Software", s);
    return s;
}

Snapshot TakeFolder(const std::wstring& folder) {
    Snapshot s;
    AddFolder(folder, L"", s);
    return s;
}

std::wstring KeyOf(const std::wstring& entry) { return entry.substr(0, entry.find_last_of(L'\\')); }

std::vector<std::wstring> Differences(const Snapshot& before, const Snapshot& after,
                                      const std::set<std::wstring>& excludedKeys) {
    std::vector<std::wstring> changes;
    const auto excluded = [&](const std::wstring& entry) {
        for (std::wstring key = KeyOf(entry); !key.empty(); key = KeyOf(key)) {
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

// --- resources of a running process -----------------------------------------

namespace {

std::string ReadText(const std::wstring& path) {
    const std::vector<std::uint8_t> bytes = ReadFileBytes(path);
    return std::string(bytes.begin(), bytes.end());
}

template <typename Function>
Function NtdllFunction(const char* name) {
    return reinterpret_cast<Function>(reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleW(L"ntdll.dll"), name)));
}

// The system's handle table, as Wine also keeps it.
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

long long HandlesOwnedBy(DWORD pid) {
    using Query = NTSTATUS(NTAPI*)(ULONG, PVOID, ULONG, PULONG);
    const auto query = NtdllFunction<Query>("NtQuerySystemInformation");
    if (!query) return -1;
    std::vector<BYTE> buffer(1 << 20);
    for (int attempt = 0; attempt < 8; ++attempt) {
        ULONG needed = 0;
        const NTSTATUS status =
            query(kSystemExtendedHandleInformation, buffer.data(), static_cast<ULONG>(buffer.size()), &needed);
        if (status == static_cast<NTSTATUS>(0xC0000004)) {  // too small
            buffer.resize(std::max<size_t>(needed + 65536, buffer.size() * 2));
            continue;
        }
        if (status != 0) return -1;
        const auto count = *reinterpret_cast<const ULONG_PTR*>(buffer.data());
        const auto* entries = reinterpret_cast<const HandleEntryEx*>(buffer.data() + 2 * sizeof(ULONG_PTR));
        return std::count_if(entries, entries + count, [&](const HandleEntryEx& e) { return e.UniqueProcessId == pid; });
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

long long GdiObjectsInTable(HANDLE process) {
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
    return std::count_if(entries.begin(), entries.begin() + static_cast<long>(read / sizeof(WineGdiEntry)),
                         [](const WineGdiEntry& e) { return e.Type != 0; });
}

// A Windows counter that Wine does not keep reads 0: as good as unreadable.
long long Supplied(long long value) { return value > 0 ? value : -1; }

long long StatusField(const std::string& status, const char* field) {
    const auto at = status.find(field);
    return at == std::string::npos ? -1 : std::atoll(status.c_str() + at + std::strlen(field));
}

}  // namespace

Meter::Meter(const Process& p, const std::wstring& commandLine)
    : pid_(p.pid()),
      query_(::OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, p.pid())),
      linuxPid_(LinuxPidOf(commandLine)) {}

Counters Meter::Read() const {
    Counters c;
    c.gdi = Supplied(::GetGuiResources(query_.get(), GR_GDIOBJECTS));
    c.user = Supplied(::GetGuiResources(query_.get(), GR_USEROBJECTS));
    DWORD handles = 0;
    if (::GetProcessHandleCount(query_.get(), &handles)) c.handles = Supplied(handles);
    PROCESS_MEMORY_COUNTERS_EX pmc{};
    pmc.cb = sizeof(pmc);
    if (::GetProcessMemoryInfo(query_.get(), reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&pmc), sizeof(pmc)))
        c.privateKb = Supplied(static_cast<long long>(pmc.PrivateUsage / 1024));
    c.systemHandles = HandlesOwnedBy(pid_);
    c.gdiTable = GdiObjectsInTable(query_.get());
    c.windows = 0;
    for (HWND top : TopWindowsOf(pid_, false)) c.windows += 1 + static_cast<long long>(ChildWindows(top).size());
    if (!linuxPid_) return c;
    const std::wstring dir = L"Z:\\proc\\" + std::to_wstring(linuxPid_);
    const std::string status = ReadText(dir + L"\\status");
    c.rssKb = StatusField(status, "VmRSS:");
    c.anonKb = StatusField(status, "RssAnon:");
    WIN32_FIND_DATAW found{};
    if (const UniqueFind find(::FindFirstFileW((dir + L"\\fd\\*").c_str(), &found)); find) {
        c.fds = 0;
        do {
            c.fds += found.cFileName[0] != L'.';
        } while (::FindNextFileW(find.get(), &found));
    }
    return c;
}

}  // namespace lumora::e2e
