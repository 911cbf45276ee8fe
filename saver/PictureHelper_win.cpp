#include "saver/PictureHelper_win.h"

#include "common/AppProperties_win.h"
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

// A job that ends the helper with the saver (its handle closes with the
// saver's process), caps its memory, lets it start no process of its own and
// takes no crash dialog. A saver already in a job that allows no other (as
// on Windows 7) runs its helper without one.
UniqueKernelHandle HelperJob() {
    UniqueKernelHandle job(::CreateJobObjectW(nullptr, nullptr));
    if (!job) return {};
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
    limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE | JOB_OBJECT_LIMIT_PROCESS_MEMORY |
                                              JOB_OBJECT_LIMIT_DIE_ON_UNHANDLED_EXCEPTION |
                                              JOB_OBJECT_LIMIT_ACTIVE_PROCESS;
    limits.BasicLimitInformation.ActiveProcessLimit = 1;
    limits.ProcessMemoryLimit = static_cast<SIZE_T>(std::min<std::uint64_t>(kHelperMemoryBudget, SIZE_MAX));
    if (!::SetInformationJobObject(job.get(), JobObjectExtendedLimitInformation, &limits, sizeof limits)) return {};
    return job;
}

// The saver's own token with every privilege but change-notify gone, the
// administrators group for deny only, and low integrity: the helper can read
// the pictures and write to the section it was handed, and nothing the user
// owns. Null when any of it cannot be had; the helper then runs as the saver.
UniqueKernelHandle HelperToken() {
    UniqueKernelHandle own;
    if (!::OpenProcessToken(::GetCurrentProcess(),
                            TOKEN_DUPLICATE | TOKEN_QUERY | TOKEN_ASSIGN_PRIMARY | TOKEN_ADJUST_DEFAULT, own.put()))
        return {};
    BYTE admins[SECURITY_MAX_SID_SIZE];
    DWORD adminsSize = sizeof admins;
    if (!::CreateWellKnownSid(WinBuiltinAdministratorsSid, nullptr, admins, &adminsSize)) return {};
    SID_AND_ATTRIBUTES denied{admins, 0};
    UniqueKernelHandle restricted;
    if (!::CreateRestrictedToken(own.get(), DISABLE_MAX_PRIVILEGE, 1, &denied, 0, nullptr, 0, nullptr,
                                 restricted.put()))
        return {};
    BYTE low[SECURITY_MAX_SID_SIZE];
    DWORD lowSize = sizeof low;
    if (!::CreateWellKnownSid(WinLowLabelSid, nullptr, low, &lowSize)) return {};
    TOKEN_MANDATORY_LABEL label{};
    label.Label.Attributes = SE_GROUP_INTEGRITY;
    label.Label.Sid = low;
    if (!::SetTokenInformation(restricted.get(), TokenIntegrityLevel, &label, sizeof label + lowSize)) return {};
    return restricted;
}

// Exactly these handles go to the helper, whatever else may be inheritable.
class InheritOnly {
public:
    explicit InheritOnly(std::vector<HANDLE> handles) : handles_(std::move(handles)) {
        SIZE_T size = 0;
        ::InitializeProcThreadAttributeList(nullptr, 1, 0, &size);
        buffer_.resize(size);
        list_ = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(buffer_.data());
        ok_ = ::InitializeProcThreadAttributeList(list_, 1, 0, &size) &&
              ::UpdateProcThreadAttribute(list_, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST, handles_.data(),
                                          handles_.size() * sizeof(HANDLE), nullptr, nullptr);
    }
    ~InheritOnly() {
        if (ok_) ::DeleteProcThreadAttributeList(list_);
    }
    InheritOnly(const InheritOnly&) = delete;
    InheritOnly& operator=(const InheritOnly&) = delete;
    LPPROC_THREAD_ATTRIBUTE_LIST list() const { return ok_ ? list_ : nullptr; }

private:
    std::vector<HANDLE> handles_;
    std::vector<BYTE> buffer_;
    LPPROC_THREAD_ATTRIBUTE_LIST list_ = nullptr;
    bool ok_ = false;
};

}  // namespace

PictureHelper::~PictureHelper() { End(); }

void PictureHelper::End() {
    if (process_) ::TerminateProcess(process_.get(), 0);
    process_.reset();
    job_.reset();
}

bool PictureHelper::Start(std::uint64_t pixelBytes, std::span<const std::uint8_t> displayProfile) {
    End();
    view_.reset();
    const std::uint64_t profileOffset = ChannelAligned(sizeof(ChannelHeader));
    const std::uint64_t pixelOffset = ChannelAligned(profileOffset + displayProfile.size());
    const std::uint64_t sectionBytes = pixelOffset + pixelBytes;
    section_.reset(Inheritable(::CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE,
                                                    static_cast<DWORD>(sectionBytes >> 32),
                                                    static_cast<DWORD>(sectionBytes), nullptr)));
    if (!section_) return false;
    view_.reset(::MapViewOfFile(section_.get(), FILE_MAP_READ | FILE_MAP_WRITE, 0, 0, 0));
    requestEvent_.reset(Inheritable(::CreateEventW(nullptr, FALSE, FALSE, nullptr)));
    replyEvent_.reset(Inheritable(::CreateEventW(nullptr, FALSE, FALSE, nullptr)));
    if (!saverForHelper_)
        ::DuplicateHandle(::GetCurrentProcess(), ::GetCurrentProcess(), ::GetCurrentProcess(), saverForHelper_.put(),
                          SYNCHRONIZE, TRUE, 0);
    if (!view_ || !requestEvent_ || !replyEvent_ || !saverForHelper_) return false;
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

    const InheritOnly inherit({section_.get(), requestEvent_.get(), replyEvent_.get(), saverForHelper_.get()});
    STARTUPINFOEXW startup{};
    startup.StartupInfo.cb = sizeof startup;
    startup.StartupInfo.dwFlags = STARTF_USESTDHANDLES;
    startup.StartupInfo.hStdInput = section_.get();  // how the helper knows it is one
    startup.lpAttributeList = inherit.list();
    // Not suspended: a helper that the saver's end caught between its start
    // and its job would never run on to see that the saver has gone. It reads
    // no picture before its first request, which comes only once it is confined.
    const DWORD flags = CREATE_NO_WINDOW | (inherit.list() ? EXTENDED_STARTUPINFO_PRESENT : 0);
    const std::wstring exe = ModulePath(nullptr);
    // Should the helper ever fail to recognise its channel, the preview
    // switch ends it at once.
    std::wstring commandLine = L"\"" + exe + L"\" /p";
    PROCESS_INFORMATION started{};
    const UniqueKernelHandle token = HelperToken();
    bool ok = token && ::CreateProcessAsUserW(token.get(), exe.c_str(), commandLine.data(), nullptr, nullptr, TRUE,
                                              flags, nullptr, nullptr, &startup.StartupInfo, &started);
    if (!ok)
        ok = ::CreateProcessW(exe.c_str(), commandLine.data(), nullptr, nullptr, TRUE, flags, nullptr, nullptr,
                              &startup.StartupInfo, &started);
    if (!ok) return false;
    process_.reset(started.hProcess);
    const UniqueKernelHandle thread(started.hThread);
    job_ = HelperJob();
    if (job_ && !::AssignProcessToJobObject(job_.get(), process_.get())) job_.reset();
    return true;
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
