#include "saver/PictureWorker_win.h"

#include "picture/DisplayProfile_win.h"

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <new>
#include <thread>

namespace lumora {
namespace {

struct Job {
    PictureRequest request;
    std::wstring path;
};

// The picture prepared ahead, and what it was prepared from.
struct Held {
    PreparedFrom from;
    std::optional<PreparedPicture> picture;
};

}  // namespace

struct PictureWorker::Queue {
    HWND window = nullptr;
    UINT message = 0;
    std::mutex mutex;
    std::condition_variable wake;
    // Only the newest request of each kind waits; older ones are superseded.
    std::optional<Job> show;
    std::optional<Job> ahead;
    // Read by a preparation under way to tell whether it is still wanted.
    std::atomic<std::uint32_t> newestShow{0};
    std::atomic<std::int16_t> newestShowNumber{0};
    std::atomic<std::uint32_t> newestAhead{0};
};

bool PictureWorker::Start(HWND window, UINT message, std::wstring displayProfile) {
    auto queue = std::make_shared<Queue>();
    queue->window = window;
    queue->message = message;
    try {
        // Never joined: every way out of the slideshow ends the process at
        // once, even in the middle of a decode.
        std::thread(&PictureWorker::Run, queue, std::move(displayProfile)).detach();
    } catch (const std::system_error&) {
        return false;
    }
    queue_ = std::move(queue);
    return true;
}

void PictureWorker::Show(const PictureRequest& request, std::wstring path) {
    if (!queue_) return;
    {
        std::lock_guard lock(queue_->mutex);
        queue_->show = Job{request, std::move(path)};
        queue_->newestShow = request.id;
        queue_->newestShowNumber = request.number;
    }
    queue_->wake.notify_one();
}

void PictureWorker::Ahead(const PictureRequest& request, std::wstring path) {
    if (!queue_) return;
    {
        std::lock_guard lock(queue_->mutex);
        queue_->ahead = Job{request, std::move(path)};
        queue_->newestAhead = request.id;
    }
    queue_->wake.notify_one();
}

std::unique_ptr<PictureResult> PictureWorker::Receive(LPARAM lp) {
    return std::unique_ptr<PictureResult>(reinterpret_cast<PictureResult*>(lp));
}

void PictureWorker::Run(std::shared_ptr<Queue> queue, std::wstring displayProfile) {
    // Its own apartment and imaging factory: nothing of it is shared with the window thread.
    ComScope com(COINIT_MULTITHREADED);
    PictureLoader loader;
    if (!com.ok() || !loader.Init()) return;
    // Colour hook: the display's profile is read here, off the window thread.
    loader.SetDisplayProfile(ReadDisplayProfile(displayProfile));
    std::optional<Held> held;

    for (;;) {
        Job job;
        bool show = false;
        {
            std::unique_lock lock(queue->mutex);
            queue->wake.wait(lock, [&] { return queue->show || queue->ahead; });
            // What the screen waits for comes before what is only prepared ahead.
            show = queue->show.has_value();
            job = std::move(show ? *queue->show : *queue->ahead);
            (show ? queue->show : queue->ahead).reset();
        }
        const PictureRequest& r = job.request;
        try {
            if (show) {
                auto result = std::make_unique<PictureResult>();
                result->id = r.id;
                if (held && StillValid(held->from, r, StampOf(job.path))) {
                    result->picture = std::move(held->picture);
                } else {
                    // At most one picture in preparation, one prepared, one on show.
                    held.reset();
                    result->picture =
                        loader.Prepare(job.path, r.size, [&] { return queue->newestShow != r.id; }).picture;
                }
                held.reset();
                if (queue->newestShow != r.id) continue;
                if (::PostMessageW(queue->window, queue->message, 0, reinterpret_cast<LPARAM>(result.get())))
                    result.release();
            } else {
                if (held && StillValid(held->from, r, StampOf(job.path))) continue;
                held.reset();
                // Wasted once the screen asks for another picture or a newer one is wanted ahead.
                const auto superseded = [&] {
                    return queue->newestAhead != r.id ||
                           (queue->newestShow > r.id && queue->newestShowNumber != r.number);
                };
                PreparedFile prepared = loader.Prepare(job.path, r.size, superseded);
                if (!superseded()) held = Held{{r.number, r.size, prepared.stamp}, std::move(prepared.picture)};
            }
        } catch (const std::bad_alloc&) {
            // Out of memory for this picture: it is not shown, and the next one may fit.
            held.reset();
            if (show && queue->newestShow == r.id) {
                auto failed = std::make_unique<PictureResult>();
                failed->id = r.id;
                if (::PostMessageW(queue->window, queue->message, 0, reinterpret_cast<LPARAM>(failed.get())))
                    failed.release();
            }
        }
    }
}

}  // namespace lumora
