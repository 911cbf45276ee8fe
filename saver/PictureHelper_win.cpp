#include "saver/PictureHelper_win.h"

#include "common/AppFolder.h"
#include "common/AppProperties_win.h"
#include "common/Trail_win.h"
#include "saver/PictureSchedule.h"

#include <psapi.h>

#include <algorithm>
#include <cstring>
#include <new>
#include <vector>

namespace lumora {
namespace {

HANDLE Inheritable(HANDLE h) {
    if (h) ::SetHandleInformation(h, HANDLE_FLAG_INHERIT, HANDLE_FLAG_INHERIT);
    return h;
}

std::uint64_t Number(HANDLE h) { return static_cast<std::uint64_t>(reinterpret_cast<std::uintptr_t>(h)); }


// The failed step, with the code the system gave, for the trail; false.
bool Failed(std::wstring_view what, Rung rung, DWORD code = ::GetLastError()) {
    Trail(TrailFailed(std::wstring(what) + L" failed", code, rung));
    return false;
}

// A job that ends the helper with the saver (its handle closes with the
// saver's process), caps its memory, lets it start no process of its own and
// takes no crash dialog.
UniqueKernelHandle HelperJob(Rung rung) {
    UniqueKernelHandle job(::CreateJobObjectW(nullptr, nullptr));
    if (!job) return Failed(L"CreateJobObjectW", rung), UniqueKernelHandle{};
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
    limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE | JOB_OBJECT_LIMIT_PROCESS_MEMORY |
                                              JOB_OBJECT_LIMIT_DIE_ON_UNHANDLED_EXCEPTION |
                                              JOB_OBJECT_LIMIT_ACTIVE_PROCESS;
    limits.BasicLimitInformation.ActiveProcessLimit = 1;
    limits.ProcessMemoryLimit = static_cast<SIZE_T>(std::min<std::uint64_t>(kHelperMemoryLimit, SIZE_MAX));
    if (!::SetInformationJobObject(job.get(), JobObjectExtendedLimitInformation, &limits, sizeof limits))
        return Failed(L"SetInformationJobObject", rung), UniqueKernelHandle{};
    return job;
}

// The saver's own token with every privilege but change-notify gone and the
// administrators group for deny only, at low integrity on the first rung:
// the helper can read the pictures and write to the section it was handed,
// and nothing the user owns.
UniqueKernelHandle HelperToken(Rung rung) {
    UniqueKernelHandle own;
    if (!::OpenProcessToken(::GetCurrentProcess(),
                            TOKEN_DUPLICATE | TOKEN_QUERY | TOKEN_ASSIGN_PRIMARY | TOKEN_ADJUST_DEFAULT, own.put()))
        return Failed(L"OpenProcessToken", rung), UniqueKernelHandle{};
    BYTE admins[SECURITY_MAX_SID_SIZE];
    DWORD adminsSize = sizeof admins;
    if (!::CreateWellKnownSid(WinBuiltinAdministratorsSid, nullptr, admins, &adminsSize))
        return Failed(L"CreateWellKnownSid", rung), UniqueKernelHandle{};
    SID_AND_ATTRIBUTES denied{admins, 0};
    UniqueKernelHandle restricted;
    if (!::CreateRestrictedToken(own.get(), DISABLE_MAX_PRIVILEGE, 1, &denied, 0, nullptr, 0, nullptr,
                                 restricted.put()))
        return Failed(L"CreateRestrictedToken", rung), UniqueKernelHandle{};
    if (!LowIntegrity(rung)) return restricted;
    BYTE low[SECURITY_MAX_SID_SIZE];
    DWORD lowSize = sizeof low;
    if (!::CreateWellKnownSid(WinLowLabelSid, nullptr, low, &lowSize))
        return Failed(L"CreateWellKnownSid", rung), UniqueKernelHandle{};
    TOKEN_MANDATORY_LABEL label{};
    label.Label.Attributes = SE_GROUP_INTEGRITY;
    label.Label.Sid = low;
    if (!::SetTokenInformation(restricted.get(), TokenIntegrityLevel, &label, sizeof label + lowSize))
        return Failed(L"SetTokenInformation", rung), UniqueKernelHandle{};
    return restricted;
}

// Whether the saver itself runs in a job, and whether that job lets a child
// break away from it (the Task Scheduler, RunAs and remote sessions run
// programs in jobs).
struct SaverJob {
    bool inJob = false;
    bool breakawayAllowed = false;
};
SaverJob OwnJob() {
    SaverJob job;
    BOOL in = FALSE;
    if (!::IsProcessInJob(::GetCurrentProcess(), nullptr, &in) || !in) return job;
    job.inJob = true;
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
    if (::QueryInformationJobObject(nullptr, JobObjectExtendedLimitInformation, &limits, sizeof limits, nullptr))
        job.breakawayAllowed = (limits.BasicLimitInformation.LimitFlags &
                                (JOB_OBJECT_LIMIT_BREAKAWAY_OK | JOB_OBJECT_LIMIT_SILENT_BREAKAWAY_OK)) != 0;
    return job;
}

// Exactly these handles go to the helper, whatever else may be inheritable,
// and the helper is in `job` from its creation on where the platform takes a
// job list (Windows 10 and later): a saver ended before its helper's first
// instruction leaves no helper that never ran on to see it gone.
class StartAttributes {
public:
    StartAttributes(std::vector<HANDLE> handles, HANDLE job) : handles_(std::move(handles)), job_(job) {
        for (const DWORD count : {2u, 1u}) {
            if (count == 2 && !job_) continue;
            SIZE_T size = 0;
            ::InitializeProcThreadAttributeList(nullptr, count, 0, &size);
            buffer_.assign(size, 0);
            list_ = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(buffer_.data());
            if (!::InitializeProcThreadAttributeList(list_, count, 0, &size)) break;
            initialised_ = true;
            ok_ = ::UpdateProcThreadAttribute(list_, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST, handles_.data(),
                                              handles_.size() * sizeof(HANDLE), nullptr, nullptr);
            inJob_ = ok_ && count == 2 &&
                     ::UpdateProcThreadAttribute(list_, 0, PROC_THREAD_ATTRIBUTE_JOB_LIST, &job_, sizeof job_, nullptr,
                                                 nullptr);
            if (inJob_ || count == 1) break;
            ::DeleteProcThreadAttributeList(list_);
            initialised_ = ok_ = false;
        }
    }
    ~StartAttributes() {
        if (initialised_) ::DeleteProcThreadAttributeList(list_);
    }
    StartAttributes(const StartAttributes&) = delete;
    StartAttributes& operator=(const StartAttributes&) = delete;
    LPPROC_THREAD_ATTRIBUTE_LIST list() const { return ok_ ? list_ : nullptr; }
    bool inJob() const { return inJob_; }

private:
    std::vector<HANDLE> handles_;
    HANDLE job_;
    std::vector<BYTE> buffer_;
    LPPROC_THREAD_ATTRIBUTE_LIST list_ = nullptr;
    bool initialised_ = false;
    bool ok_ = false;
    bool inJob_ = false;
};

// The executable to start: Lumora's own, through Sysnative when a 32-bit
// build runs from the real System32. A path past MAX_PATH is started by its
// short name where the volume keeps short names (a process is started by no
// longer name), else in the extended-length form.
std::wstring HelperPath() {
    std::wstring exe = ModulePath(nullptr);
    BOOL wow64 = FALSE;
    wchar_t system[MAX_PATH] = {}, windows[MAX_PATH] = {};
    if (::IsWow64Process(::GetCurrentProcess(), &wow64) && wow64) {
        const UINT s = ::GetSystemDirectoryW(system, MAX_PATH), w = ::GetSystemWindowsDirectoryW(windows, MAX_PATH);
        if (s > 0 && s < MAX_PATH && w > 0 && w < MAX_PATH) exe = HelperExecutable(exe, system, windows, true);
    }
    if (exe.size() < MAX_PATH) return exe;
    const std::wstring extended = LongPathForm(exe);
    std::wstring shortName(extended.size() + 1, L'\0');
    const DWORD n = ::GetShortPathNameW(extended.c_str(), shortName.data(), static_cast<DWORD>(shortName.size()));
    if (n == 0 || n >= shortName.size()) return extended;
    shortName.resize(n);
    return shortName;
}

}  // namespace

PictureHelper::~PictureHelper() { End(); }

void PictureHelper::End() {
    if (process_) ::TerminateProcess(process_.get(), 0);
    process_.reset();
    job_.reset();
}

void PictureHelper::Close() {
    End();
    view_.reset();
    section_.reset();
    requestEvent_.reset();
    replyEvent_.reset();
    pixelBytes_ = 0;
}

bool PictureHelper::Start(Rung rung, std::uint64_t pixelBytes, std::span<const std::uint8_t> displayProfile) {
    End();
    view_.reset();
    const std::uint64_t profileOffset = ChannelAligned(sizeof(ChannelHeader));
    const std::uint64_t pixelOffset = ChannelAligned(profileOffset + displayProfile.size());
    const std::uint64_t sectionBytes = pixelOffset + pixelBytes;
    section_.reset(Inheritable(::CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE,
                                                    static_cast<DWORD>(sectionBytes >> 32),
                                                    static_cast<DWORD>(sectionBytes), nullptr)));
    if (!section_) return Failed(L"CreateFileMappingW", rung);
    view_.reset(::MapViewOfFile(section_.get(), FILE_MAP_READ | FILE_MAP_WRITE, 0, 0, 0));
    if (!view_) return Failed(L"MapViewOfFile", rung);
    requestEvent_.reset(Inheritable(::CreateEventW(nullptr, FALSE, FALSE, nullptr)));
    replyEvent_.reset(Inheritable(::CreateEventW(nullptr, FALSE, FALSE, nullptr)));
    if (!requestEvent_ || !replyEvent_) return Failed(L"CreateEventW", rung);
    if (!saverForHelper_ && !::DuplicateHandle(::GetCurrentProcess(), ::GetCurrentProcess(), ::GetCurrentProcess(),
                                               saverForHelper_.put(), SYNCHRONIZE, TRUE, 0))
        return Failed(L"DuplicateHandle", rung);
    pixelOffset_ = pixelOffset;
    pixelBytes_ = pixelBytes;

    auto* h = new (view_.get()) ChannelHeader;
    std::memcpy(h->magic, kChannelMagic, sizeof kChannelMagic);
    h->version = kChannelVersion;
    h->saverProcessId = ::GetCurrentProcessId();
    h->requestEvent = Number(requestEvent_.get());
    h->replyEvent = Number(replyEvent_.get());
    h->saverProcess = Number(saverForHelper_.get());
    h->profileOffset = profileOffset;
    h->profileBytes = displayProfile.size();
    if (!displayProfile.empty())
        std::memcpy(static_cast<std::uint8_t*>(view_.get()) + profileOffset, displayProfile.data(), displayProfile.size());
    h->pixelOffset = pixelOffset;
    h->pixelBytes = pixelBytes;

    if (InJob(rung) && !(job_ = HelperJob(rung))) return false;
    const UniqueKernelHandle token = RestrictedToken(rung) ? HelperToken(rung) : UniqueKernelHandle{};
    if (RestrictedToken(rung) && !token) return false;
    const StartAttributes attributes({section_.get(), requestEvent_.get(), replyEvent_.get(), saverForHelper_.get()},
                                     job_.get());
    const SaverJob own = job_ && !attributes.inJob() ? OwnJob() : SaverJob{};
    const JobEntry entry = ChooseJobEntry(attributes.inJob(), own.inJob, own.breakawayAllowed);
    STARTUPINFOEXW startup{};
    startup.StartupInfo.cb = sizeof startup;
    startup.StartupInfo.dwFlags = STARTF_USESTDHANDLES;
    startup.StartupInfo.hStdInput = section_.get();  // how the helper knows it is one
    startup.lpAttributeList = attributes.list();
    // Not suspended, so that a helper caught between its start and its job
    // still runs on to see its saver gone. It reads no picture before its
    // first request, which comes only once it is confined and ready.
    const DWORD flags = CREATE_NO_WINDOW | (attributes.list() ? EXTENDED_STARTUPINFO_PRESENT : 0) |
                        (job_ && entry == JobEntry::BreakawayThenAssign ? CREATE_BREAKAWAY_FROM_JOB : 0);
    const std::wstring exe = HelperPath();
    // Should the helper ever fail to recognise its channel, the preview
    // switch ends it at once.
    std::wstring commandLine = L"\"" + exe + L"\" /p";
    PROCESS_INFORMATION started{};
    const bool ok = token ? ::CreateProcessAsUserW(token.get(), exe.c_str(), commandLine.data(), nullptr, nullptr,
                                                   TRUE, flags, nullptr, nullptr, &startup.StartupInfo, &started)
                          : ::CreateProcessW(exe.c_str(), commandLine.data(), nullptr, nullptr, TRUE, flags, nullptr,
                                             nullptr, &startup.StartupInfo, &started);
    if (!ok) return Failed(token ? L"CreateProcessAsUserW" : L"CreateProcessW", rung);
    process_.reset(started.hProcess);
    const UniqueKernelHandle thread(started.hThread);
    // Windows 7 keeps a process in one job only: where the saver's job allows
    // no breakaway, the helper runs without its own, and its watch on the
    // saver is what ends it.
    if (job_ && entry != JobEntry::AtCreation && !::AssignProcessToJobObject(job_.get(), process_.get())) {
        Failed(L"AssignProcessToJobObject (the helper runs without its job)", rung);
        job_.reset();
    }
    return true;
}

std::optional<DWORD> PictureHelper::ExitCode() const {
    DWORD code = 0;
    if (!process_ || !::GetExitCodeProcess(process_.get(), &code) || code == STILL_ACTIVE) return std::nullopt;
    return code;
}

void PictureHelper::Send(std::uint32_t id, const std::wstring& path, ClientSize client,
                         const std::optional<FileStamp>& known) {
    ChannelHeader* h = header();
    if (!h) return;
    ChannelRequest& r = h->request;
    r.id = id;
    r.clientWidth = client.width;
    r.clientHeight = client.height;
    r.hasKnown = known.has_value();
    r.known = known.value_or(FileStamp{});
    r.pathLength = static_cast<std::uint32_t>(std::min(path.size(), kChannelPathChars - 1));
    std::memcpy(r.path, path.data(), r.pathLength * sizeof(char16_t));
    r.path[r.pathLength] = 0;
    ::SetEvent(requestEvent_.get());
}

void PictureHelper::Cancel(std::uint32_t id) {
    if (ChannelHeader* h = header()) h->cancel.store(id);
}

ChannelReply PictureHelper::Reply() const {
    ChannelReply copy;
    if (const ChannelHeader* h = header()) std::memcpy(&copy, &h->reply, sizeof copy);
    return copy;
}

std::optional<FileStamp> PictureHelper::OpenedStamp(std::uint32_t id) const {
    const ChannelHeader* h = header();
    if (!h || h->stampFor.load() != id) return std::nullopt;
    FileStamp copy;
    std::memcpy(&copy, &h->openedStamp, sizeof copy);
    return copy;
}

UniqueBitmap PictureHelper::Bitmap(const PixelRect& rect) const {
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(info.bmiHeader);
    info.bmiHeader.biWidth = rect.width();
    info.bmiHeader.biHeight = -rect.height();  // top row first, as the helper writes them
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    UniqueBitmap bitmap(::CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0));
    const std::uint64_t bytes = std::uint64_t(rect.width()) * std::uint64_t(rect.height()) * 4;
    if (!bitmap || !bits || !view_ || bytes > pixelBytes_) return {};
    std::memcpy(bits, static_cast<const std::uint8_t*>(view_.get()) + pixelOffset_, bytes);
    return bitmap;
}

std::uint64_t PictureHelper::MemoryBytes() const {
    PROCESS_MEMORY_COUNTERS_EX counters{};
    counters.cb = sizeof counters;
    if (!process_ ||
        !::GetProcessMemoryInfo(process_.get(), reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&counters), sizeof counters))
        return 0;
    // Windows counts the commit charge in both; Wine only in the second.
    return std::max<std::uint64_t>(counters.PrivateUsage, counters.PagefileUsage);
}

}  // namespace lumora
