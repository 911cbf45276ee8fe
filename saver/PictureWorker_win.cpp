#include "saver/PictureWorker_win.h"

#include "common/Trail_win.h"
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

// How often a preparation's time and the helper's memory are looked at: a
// decoder that grows by a quarter of a gigabyte between two looks would pass
// the job's limit before the watch's.
constexpr DWORD kWatchMs = 10;


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

// The worker thread's state and steps: the schedule, the helper and the
// ladder it is started on, the preparation under way and the picture held
// from ahead. One preparation at a time; the helper gets a request only once
// it has said it is ready.
class PictureWorker::Loop {
public:
    explicit Loop(std::shared_ptr<Shared> shared)
        : shared_(std::move(shared)),
          capacity_(shared_->pixelBytes),
          // Read here, off the window thread, and handed to every helper.
          displayProfile_(ReadDisplayProfile(shared_->displayProfile)) {}

    void Run() {
        // At once, so that the first picture does not wait for the helper to start.
        StartHelper();
        for (;;) {
            TakeRequests();
            StopIfUnwanted();
            HandOverNext();
            if (!underWay_ && std::exchange(resting_, false)) Rest();
            Wait();
        }
    }

private:
    enum class HelperState { None, Starting, Ready };

    void TakeRequests() {
        std::lock_guard lock(shared_->mutex);
        // A request made since the window asked for rest calls it off.
        resting_ = (std::exchange(shared_->rest, false) || resting_) && !shared_->show && !shared_->ahead;
        if (shared_->show) {
            schedule_.Show(*shared_->show);
            ++shows_;
        }
        if (shared_->ahead) schedule_.Ahead(*shared_->ahead);
        shared_->show.reset();
        shared_->ahead.reset();
    }

    void StopIfUnwanted() {
        if (!underWay_ || cancelledAt_ || schedule_.Wanted(*underWay_)) return;
        // Not handed over yet: nothing to stop.
        if (!handedAt_) return Finish(Outcome::Cancelled, {}, std::nullopt);
        helper_.Cancel(underWay_->request.id);
        cancelledAt_ = ::GetTickCount64();
    }

    void HandOverNext() {
        if (!underWay_) {
            underWay_ = schedule_.Next();
            handedAt_ = cancelledAt_ = 0;
            if (!schedule_.holds()) held_.reset();
        }
        if (!underWay_ || handedAt_) return;
        const PictureRequest& r = underWay_->request;
        if (state_ != HelperState::None && PixelBytes(r.size) > capacity_) EndHelper();
        capacity_ = std::max(capacity_, PixelBytes(r.size));
        // No helper to be had for this picture: it is not a picture.
        if (state_ == HelperState::None && !StartHelper()) return Finish(Outcome::NotAPicture, {}, std::nullopt);
        if (state_ != HelperState::Ready) return;  // handed over once it is ready
        helper_.Send(r.id, PictureFileName(shared_->folder, r.number), r.size, underWay_->known);
        handedAt_ = ::GetTickCount64();
    }

    void Wait() {
        const HANDLE waits[] = {shared_->wake.get(), helper_.replyEvent(), helper_.process()};
        const bool watching = underWay_ || state_ == HelperState::Starting;
        const DWORD woke = ::WaitForMultipleObjects(state_ == HelperState::None ? 1 : 3, waits, FALSE,
                                                    watching ? kWatchMs : INFINITE);
        if (woke == WAIT_OBJECT_0 + 1) return Replied();
        if (woke == WAIT_OBJECT_0 + 2) return HelperEnded();
        if (woke == WAIT_TIMEOUT) Watch();
    }

    // One start on the rung the ladder stands on, as often as the ladder
    // allows: a failure to create the helper steps down at once.
    bool StartHelper() {
        while (ladder_.MayStart(shows_)) {
            ladder_.Starting(shows_);
            if (announced_ != ladder_.rung()) Trail(TrailRung(*(announced_ = ladder_.rung())));
            if (helper_.Start(ladder_.rung(), capacity_, displayProfile_)) {
                state_ = HelperState::Starting;
                startingSince_ = ::GetTickCount64();
                return true;
            }
            StepDown();
        }
        return false;
    }

    void StepDown() {
        EndHelper();
        const bool wasSpent = ladder_.spent();
        ladder_.Failed();
        if (ladder_.spent() && !wasSpent) Trail(TrailSpent());
    }

    void StartFailed(const std::wstring& what, std::uint32_t code) {
        Trail(TrailFailed(what, code, ladder_.rung()));
        StepDown();
    }

    void EndHelper() {
        helper_.End();
        state_ = HelperState::None;
    }

    // Nothing under way or asked for: the helper and the picture held from
    // ahead go, so that their memory goes back; the next request starts a
    // helper again. Nothing waits in the schedule now, so only what it held goes.
    void Rest() {
        EndHelper();
        helper_.Close();
        held_.reset();
        schedule_ = PictureSchedule{};
    }

    void Replied() {
        const ChannelReply reply = helper_.Reply();
        if (state_ == HelperState::Starting) {
            if (reply.kind == ReplyKind::Ready && (reply.abilities & kAbleToDecode)) {
                state_ = HelperState::Ready;
                ladder_.Started();
                if (!(reply.abilities & kAbleToConvertColours))
                    Trail(TrailFailed(L"colour conversion (pictures show as stored)", 0, ladder_.rung()));
            } else if (reply.kind == ReplyKind::Unable) {
                StartFailed(std::wstring(L"unable: ") + HelperStepName(reply.failedStep), reply.failureCode);
            }
            return;
        }
        if (!underWay_ || !handedAt_ || reply.id != underWay_->request.id) return;  // stale
        const PictureRequest& r = underWay_->request;
        switch (reply.kind) {
        case ReplyKind::Picture: {
            const auto rect = PictureInReply(reply, r.id, r.size.width, r.size.height, capacity_);
            return Finish(rect ? Outcome::Picture : Outcome::NotAPicture, reply.stamp, rect);
        }
        case ReplyKind::Unchanged: return Finish(Outcome::Unchanged, reply.stamp, std::nullopt);
        case ReplyKind::Cancelled: return Finish(Outcome::Cancelled, reply.stamp, std::nullopt);
        default: return Finish(Outcome::NotAPicture, reply.stamp, std::nullopt);
        }
    }

    void HelperEnded() {
        if (state_ == HelperState::Starting)
            return StartFailed(L"ended before it was ready", helper_.ExitCode().value_or(0));
        // While idle it is started again at the next request; during a
        // preparation, a fault or the end of its memory: that picture's.
        if (underWay_ && handedAt_) return Abandon();
        EndHelper();
    }

    void Watch() {
        const ULONGLONG now = ::GetTickCount64();
        if (state_ == HelperState::Starting) {
            if (StartTooSlow(static_cast<std::uint32_t>(std::min<ULONGLONG>(now - startingSince_, UINT32_MAX))))
                StartFailed(L"no answer in time", WAIT_TIMEOUT);
            return;
        }
        if (!underWay_ || !handedAt_) return;
        const PreparationWatch watch{static_cast<std::uint32_t>(std::min<ULONGLONG>(now - handedAt_, UINT32_MAX)),
                                     cancelledAt_ ? std::optional(static_cast<std::uint32_t>(now - cancelledAt_))
                                                  : std::nullopt,
                                     helper_.MemoryBytes()};
        if (GiveUp(watch)) Abandon();
    }

    // The preparation under way counts as not a picture (or as stopped, when
    // it was no longer wanted), and a fresh helper is started at once for the next one.
    void Abandon() {
        const FileStamp stamp = helper_.OpenedStamp(underWay_->request.id).value_or(FileStamp{});
        const Outcome outcome = cancelledAt_ ? Outcome::Cancelled : Outcome::NotAPicture;
        EndHelper();
        Finish(outcome, stamp, std::nullopt);
        StartHelper();
    }

    void Finish(Outcome outcome, const FileStamp& stamp, const std::optional<PixelRect>& rect) {
        const Preparation p = *underWay_;
        underWay_.reset();
        handedAt_ = cancelledAt_ = 0;
        switch (schedule_.Finished(p, outcome, stamp)) {
        case PictureSchedule::Use::Drop:
            break;
        case PictureSchedule::Use::Deliver:
            Deliver(p.request.id, rect ? CopyPicture(helper_, *rect) : std::nullopt);
            break;
        case PictureSchedule::Use::DeliverHeld:
            Deliver(p.request.id, std::move(held_));
            held_.reset();
            break;
        case PictureSchedule::Use::Hold:
            held_ = rect ? CopyPicture(helper_, *rect) : std::nullopt;
            break;
        }
    }

    void Deliver(std::uint32_t id, std::optional<ShownPicture> picture) {
        {
            std::lock_guard lock(shared_->mutex);
            shared_->result = PictureResult{id, std::move(picture)};
        }
        // Only the id travels: the window takes the result with it.
        ::PostMessageW(shared_->window, shared_->message, id, 0);
    }

    const std::shared_ptr<Shared> shared_;
    PictureSchedule schedule_;
    std::uint32_t shows_ = 0;  // pictures the screen has asked for: at most one start each once the ladder is spent
    HelperLadder ladder_;
    std::optional<Rung> announced_;
    PictureHelper helper_;
    HelperState state_ = HelperState::None;
    ULONGLONG startingSince_ = 0;
    std::uint64_t capacity_;
    const std::vector<std::uint8_t> displayProfile_;
    std::optional<Preparation> underWay_;
    ULONGLONG handedAt_ = 0;     // when it went to the helper; 0 until then
    ULONGLONG cancelledAt_ = 0;  // when it was asked to stop; 0 while it is wanted
    std::optional<ShownPicture> held_;  // the picture prepared ahead, if it is one
    bool resting_ = false;              // asked to rest once nothing is under way
};

void PictureWorker::Run(std::shared_ptr<Shared> shared) { Loop(std::move(shared)).Run(); }

}  // namespace lumora
