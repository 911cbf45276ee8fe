#include "picture/PictureHelperMain_win.h"

#include "common/NoCrashDialog_win.h"
#include "common/PictureChannel.h"
#include "common/UniqueHandle_win.h"
#include "picture/PictureLoader_win.h"

#include <cstdlib>
#include <cstring>
#include <exception>
#include <string>
#include <vector>

namespace lumora {
namespace {

// A fault in a codec ends this process at once: no crash dialog, no debugger,
// and the saver sees the helper gone.
LONG WINAPI EndOnFault(EXCEPTION_POINTERS* fault) {
    ::TerminateProcess(::GetCurrentProcess(), fault ? fault->ExceptionRecord->ExceptionCode : 3);
    return EXCEPTION_EXECUTE_HANDLER;
}

[[noreturn]] void EndOnTerminate() {
    ::TerminateProcess(::GetCurrentProcess(), 3);
    std::abort();
}

// Ends the helper the moment the saver's process ends, even in the middle of a decode.
DWORD WINAPI WatchSaver(void* saver) {
    ::WaitForSingleObject(static_cast<HANDLE>(saver), INFINITE);
    ::TerminateProcess(::GetCurrentProcess(), 0);
    return 0;
}

}  // namespace

HANDLE PictureHelperChannel() {
    const HANDLE input = ::GetStdHandle(STD_INPUT_HANDLE);
    if (!input || input == INVALID_HANDLE_VALUE) return nullptr;
    // Only a section maps: a file, pipe or console given as input does not.
    const UniqueView view(::MapViewOfFile(input, FILE_MAP_READ, 0, 0, sizeof(ChannelHeader)));
    if (!view) return nullptr;
    const auto* header = static_cast<const ChannelHeader*>(view.get());
    if (std::memcmp(header->magic, kChannelMagic, sizeof kChannelMagic) != 0 || header->version != kChannelVersion)
        return nullptr;
    return input;
}

int RunPictureHelper(HANDLE channel) {
    // Before anything can fault.
    NoCrashDialog();
    const UniqueView view(::MapViewOfFile(channel, FILE_MAP_READ | FILE_MAP_WRITE, 0, 0, 0));
    MEMORY_BASIC_INFORMATION region{};
    if (!view || !::VirtualQuery(view.get(), &region, sizeof region)) return 1;
    auto* header = static_cast<ChannelHeader*>(view.get());
    const HANDLE requests = reinterpret_cast<HANDLE>(static_cast<std::uintptr_t>(header->requestEvent));
    const HANDLE replies = reinterpret_cast<HANDLE>(static_cast<std::uintptr_t>(header->replyEvent));
    const HANDLE saver = reinterpret_cast<HANDLE>(static_cast<std::uintptr_t>(header->saverProcess));
    // First of all, so that no helper outlives a saver that ended while it started.
    const UniqueKernelHandle watcher(::CreateThread(nullptr, 0, WatchSaver, saver, 0, nullptr));
    if (!watcher) return 1;
    ::SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX | SEM_NOOPENFILEERRORBOX);
    ::SetUnhandledExceptionFilter(EndOnFault);
    std::set_terminate(EndOnTerminate);
    // The profile and the pixels must lie inside the view the saver made.
    const auto inside = [&](std::uint64_t offset, std::uint64_t bytes) {
        return offset <= region.RegionSize && bytes <= region.RegionSize - offset;
    };
    if (!inside(header->profileOffset, header->profileBytes) || !inside(header->pixelOffset, header->pixelBytes))
        return 1;

    const PixelBuffer out{static_cast<std::uint8_t*>(view.get()) + header->pixelOffset,
                          static_cast<std::size_t>(header->pixelBytes)};
    // Ready means able: the imaging factory made and the test picture
    // prepared, as any picture is, under whatever confinement this helper
    // runs in. Otherwise the saver hears what failed and steps down.
    ComScope com(COINIT_MULTITHREADED);
    PictureLoader loader;
    const auto* profile = static_cast<const std::uint8_t*>(view.get()) + header->profileOffset;
    loader.SetDisplayProfile(std::vector<std::uint8_t>(profile, profile + header->profileBytes));
    ChannelReply greeting;
    HelperReadiness readiness;
    if (!com.ok()) {
        readiness = {0, HelperStep::Com, static_cast<std::uint32_t>(com.result())};
    } else if (const HRESULT hr = loader.Init(); FAILED(hr)) {
        readiness = {0, HelperStep::ImagingFactory, static_cast<std::uint32_t>(hr)};
    } else {
        readiness = loader.TestItself(out);
    }
    greeting.kind = readiness.abilities & kAbleToDecode ? ReplyKind::Ready : ReplyKind::Unable;
    greeting.abilities = readiness.abilities;
    greeting.failedStep = static_cast<std::uint32_t>(readiness.failedStep);
    greeting.failureCode = readiness.failureCode;
    header->reply = greeting;
    ::SetEvent(replies);
    if (greeting.kind == ReplyKind::Unable) return 2;
    for (;;) {
        if (::WaitForSingleObject(requests, INFINITE) != WAIT_OBJECT_0) return 1;
        const ChannelRequest& r = header->request;
        const std::uint32_t id = r.id;
        const std::wstring path(reinterpret_cast<const wchar_t*>(r.path),
                                std::min<std::size_t>(r.pathLength, kChannelPathChars - 1));
        const ClientSize client{r.clientWidth, r.clientHeight};
        const std::optional<FileStamp> known = r.hasKnown ? std::optional(r.known) : std::nullopt;
        const PreparedPicture prepared = loader.Prepare(
            path, client, known, out, [&] { return header->cancel.load() == id; },
            [&](const FileStamp& stamp) {
                header->openedStamp = stamp;
                header->stampFor.store(id);
            });
        ChannelReply reply;
        reply.id = id;
        reply.kind = prepared.kind;
        reply.left = static_cast<std::int32_t>(prepared.rect.left);
        reply.top = static_cast<std::int32_t>(prepared.rect.top);
        reply.width = static_cast<std::int32_t>(prepared.rect.width());
        reply.height = static_cast<std::int32_t>(prepared.rect.height());
        reply.stamp = prepared.stamp;
        header->reply = reply;
        ::SetEvent(replies);
    }
}

}  // namespace lumora
