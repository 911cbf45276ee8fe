#include "saver/PictureWorker_win.h"

#include "saver/DisplayProfile_win.h"
#include "saver/PictureCycle.h"
#include "saver/PictureHelper_win.h"
#include "saver/PictureSchedule.h"

#include <cstring>
#include <mutex>
#include <system_error>
#include <thread>
#include <utility>

namespace lumora {
namespace {

// How often a preparation's time and the helper's memory are looked at.
constexpr DWORD kWatchMs = 20;

std::uint64_t PixelBytes(ClientSize size) {
    return std::uint64_t(std::max(size.width, 1)) * std::uint64_t(std::max(size.height, 1)) * 4;
}

std::optional<ShownPicture> CopyPicture(const PictureHelper& helper, const PixelRect& rect) {
    UniqueBitmap bitmap = helper.Bitmap(rect);
    if (!bitmap) return std::nullopt;
    return ShownPicture{std::move(bitmap), rect};
}

}  // namespace

struct PictureWorker::Shared {
    HWND window = nullptr;
    UINT message = 0;
    std::wstring folder;
    std::wstring displayProfile;
    std::uint64_t pixelBytes = 0;
    UniqueKernelHandle wake;  // set whenever the window asks for something
    std::mutex mutex;
    // Only the newest request of each kind waits; older ones are superseded.
    std::optional<PictureRequest> show;
    std::optional<PictureRequest> ahead;
    // The newest result for the window, until it takes it.
    std::optional<PictureResult> result;
    bool rest = false;  // Rest was called; taken by the thread
};

bool PictureWorker::Start(HWND window, UINT message, std::wstring folder, ClientSize size,
                          std::wstring displayProfile) {
    auto shared = std::make_shared<Shared>();
    shared->window = window;
    shared->message = message;
    shared->folder = std::move(folder);
    shared->displayProfile = std::move(displayProfile);
    shared->pixelBytes = PixelBytes(size);
    shared->wake.reset(::CreateEventW(nullptr, FALSE, FALSE, nullptr));
    if (!shared->wake) return false;
    try {
        // Never joined: every way out of the slideshow ends the process at
        // once, even in the middle of a preparation.
        std::thread(&PictureWorker::Run, shared).detach();
    } catch (const std::system_error&) {
        return false;
    }
    shared_ = std::move(shared);
    return true;
}

void PictureWorker::Show(const PictureRequest& request) {
    if (!shared_) return;
    {
        std::lock_guard lock(shared_->mutex);
        shared_->show = request;
    }
    ::SetEvent(shared_->wake.get());
}

void PictureWorker::Ahead(const PictureRequest& request) {
    if (!shared_) return;
    {
        std::lock_guard lock(shared_->mutex);
        shared_->ahead = request;
    }
    ::SetEvent(shared_->wake.get());
}

void PictureWorker::Rest() {
    if (!shared_) return;
    {
        std::lock_guard lock(shared_->mutex);
        shared_->rest = true;
    }
    ::SetEvent(shared_->wake.get());
}

std::optional<PictureResult> PictureWorker::Take(std::uint32_t id) {
    if (!shared_) return std::nullopt;
    std::lock_guard lock(shared_->mutex);
    if (!shared_->result || shared_->result->id != id) return std::nullopt;
    std::optional<PictureResult> taken = std::move(shared_->result);
    shared_->result.reset();
    return taken;
}

void PictureWorker::Run(std::shared_ptr<Shared> shared) {
    PictureSchedule schedule;
    PictureHelper helper;
    std::uint64_t capacity = shared->pixelBytes;
    // Read here, off the window thread, and handed to every helper.
    const std::vector<std::uint8_t> displayProfile = ReadDisplayProfile(shared->displayProfile);
    std::optional<Preparation> underWay;
    ULONGLONG startedAt = 0;
    ULONGLONG cancelledAt = 0;  // when it was asked to stop; 0 while it is wanted
    // A helper that has not answered yet may still be starting: its start
    // does not count against the moment a cancelled preparation gets to stop.
    bool answered = false;
    std::optional<ShownPicture> held;  // the picture prepared ahead, if it is one

    const auto deliver = [&](std::uint32_t id, std::optional<ShownPicture> picture) {
        {
            std::lock_guard lock(shared->mutex);
            shared->result = PictureResult{id, std::move(picture)};
        }
        // Only the id travels: the window takes the result with it.
        ::PostMessageW(shared->window, shared->message, id, 0);
    };
    const auto finish = [&](Outcome outcome, const FileStamp& stamp, const std::optional<PixelRect>& rect) {
        const Preparation p = *underWay;
        underWay.reset();
        switch (schedule.Finished(p, outcome, stamp)) {
        case PictureSchedule::Use::Drop:
            break;
        case PictureSchedule::Use::Deliver:
            deliver(p.request.id, rect ? CopyPicture(helper, *rect) : std::nullopt);
            break;
        case PictureSchedule::Use::DeliverHeld:
            deliver(p.request.id, std::move(held));
            held.reset();
            break;
        case PictureSchedule::Use::Hold:
            held = rect ? CopyPicture(helper, *rect) : std::nullopt;
            break;
        }
    };
    const auto start = [&] {
        helper.Start(capacity, displayProfile);
        answered = false;
    };
    // At once, so that the first picture does not wait for the helper to start.
    start();
    // The preparation under way counts as not a picture, and a fresh helper
    // waits for the next request.
    const auto abandon = [&] {
        const FileStamp stamp = helper.OpenedStamp(underWay->request.id).value_or(FileStamp{});
        start();
        finish(Outcome::NotAPicture, stamp, std::nullopt);
    };

    bool resting = false;
    for (;;) {
        {
            std::lock_guard lock(shared->mutex);
            resting = (std::exchange(shared->rest, false) || resting) && !shared->show && !shared->ahead;
            if (shared->show) schedule.Show(*shared->show);
            if (shared->ahead) schedule.Ahead(*shared->ahead);
            shared->show.reset();
            shared->ahead.reset();
        }
        if (underWay && !cancelledAt && !schedule.Wanted(*underWay)) {
            helper.Cancel(underWay->request.id);
            cancelledAt = ::GetTickCount64();
        }
        if (!underWay && (underWay = schedule.Next())) {
            if (!schedule.holds()) held.reset();
            const PictureRequest& r = underWay->request;
            if (!helper.started() || PixelBytes(r.size) > capacity) {
                capacity = std::max(capacity, PixelBytes(r.size));
                start();
            }
            if (!helper.started()) {
                finish(Outcome::NotAPicture, FileStamp{}, std::nullopt);
                continue;
            }
            helper.Send(r.id, PictureFileName(shared->folder, r.number), r.size, underWay->known);
            startedAt = ::GetTickCount64();
            cancelledAt = 0;
        }
        if (!underWay && std::exchange(resting, false)) {
            helper.End();
            held.reset();
            schedule = PictureSchedule{};  // nothing waits in it now: only what it held goes
        }

        const HANDLE waits[] = {shared->wake.get(), helper.replyEvent(), helper.process()};
        const DWORD count = helper.started() ? 3 : 1;
        const DWORD woke = ::WaitForMultipleObjects(count, waits, FALSE, underWay ? kWatchMs : INFINITE);
        if (woke == WAIT_OBJECT_0 + 1) answered = true;
        if (!underWay) {
            // A helper that ended while idle is started again at the next request.
            if (woke == WAIT_OBJECT_0 + 2) helper.End();
            continue;
        }
        if (woke == WAIT_OBJECT_0 + 1) {
            const ChannelReply reply = helper.Reply();
            if (reply.id != underWay->request.id) continue;  // the helper's greeting, or stale
            const PictureRequest& r = underWay->request;
            switch (reply.kind) {
            case ReplyKind::Picture: {
                const auto rect = PictureInReply(reply, r.id, r.size.width, r.size.height, capacity);
                finish(rect ? Outcome::Picture : Outcome::NotAPicture, reply.stamp, rect);
                break;
            }
            case ReplyKind::Unchanged: finish(Outcome::Unchanged, reply.stamp, std::nullopt); break;
            case ReplyKind::Cancelled: finish(Outcome::Cancelled, reply.stamp, std::nullopt); break;
            default: finish(Outcome::NotAPicture, reply.stamp, std::nullopt); break;
            }
            continue;
        }
        if (woke == WAIT_OBJECT_0 + 2) {  // a fault, or the end of its memory
            abandon();
            continue;
        }
        const ULONGLONG now = ::GetTickCount64();
        if (cancelledAt && !answered) cancelledAt = now;
        const PreparationWatch watch{static_cast<std::uint32_t>(std::min<ULONGLONG>(now - startedAt, UINT32_MAX)),
                                     cancelledAt ? std::optional(static_cast<std::uint32_t>(now - cancelledAt))
                                                 : std::nullopt,
                                     helper.MemoryBytes()};
        if (GiveUp(watch)) abandon();
    }
}

}  // namespace lumora
