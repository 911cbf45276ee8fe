#pragma once
// The picture worker's decisions, apart from threads and processes: which
// preparation the helper gets next (what the screen waits for before what is
// only prepared ahead), when a result held from ahead may stand for a tick,
// what supersedes what, and when a preparation is given up.
#include "common/PictureChannel.h"
#include "saver/Slideshow.h"

#include <cstdint>
#include <optional>

namespace lumora {

// A preparation given to the helper. With `known`, the helper first compares
// the file with that stamp and, when it is unchanged, answers so without decoding.
struct Preparation {
    PictureRequest request;
    bool forShow = false;  // the screen waits for it; otherwise it is prepared ahead
    std::optional<FileStamp> known;
};

enum class Outcome {
    Picture,      // fitted pixels came back
    NotAPicture,  // missing, unreadable, refused, over a budget, or its helper died
    Unchanged,    // the file is as `known` says: the held result stands
    Cancelled,    // stopped because it was no longer wanted
};

class PictureSchedule {
public:
    // The newest request of each kind supersedes the one before it.
    void Show(const PictureRequest& request);
    void Ahead(const PictureRequest& request);

    // The next preparation for an idle helper. A held result that the next
    // Show cannot use is dropped here: at most one picture is in
    // preparation, one prepared ahead and one on show.
    std::optional<Preparation> Next();

    // Whether the preparation under way is still of use. Once a newer request
    // has made it of no use, it stays so even when a later one wants that very
    // picture again: its helper is told to stop, and what comes back after
    // that (cancelled, or given up as not a picture) says nothing of the file.
    bool Wanted(const Preparation& preparation) const;

    enum class Use {
        Drop,         // nobody wants it any more
        Deliver,      // to the window, as the answer to its Show request
        DeliverHeld,  // the held result, picture or not, goes to the window instead; nothing is held after
        Hold,         // kept for the tick that will ask for it
    };
    // What becomes of a finished preparation; `stamp` is its file as read.
    Use Finished(const Preparation& preparation, Outcome outcome, const FileStamp& stamp);

    // A result prepared ahead is held; `picture` tells whether it is one.
    bool holds() const { return held_.has_value(); }
    bool heldIsPicture() const { return held_ && held_->picture; }

private:
    struct Held {
        std::int16_t number = 0;
        ClientSize size;
        FileStamp stamp;
        bool picture = false;
    };
    static bool Same(const PictureRequest& a, const PictureRequest& b) {
        return a.number == b.number && a.size == b.size;
    }
    bool HeldFor(const PictureRequest& request) const {
        return held_ && held_->number == request.number && held_->size == request.size;
    }
    void NoteGivenUp() {
        if (underWay_ && !Wanted(*underWay_)) givenUp_ = underWay_->request.id;
    }

    std::optional<PictureRequest> show_;
    std::optional<PictureRequest> ahead_;
    std::optional<Held> held_;
    std::optional<Preparation> underWay_;
    std::optional<std::uint32_t> givenUp_;  // the request id of a preparation of no use
};

// The helper's budgets, enforced by the saver. A preparation gets 7 s of
// the 10 s interval, so that a fresh helper (a fifth of a second) still has
// time to prepare the next picture for its own tick; one no longer wanted
// gets a moment to stop. The memory watch ends the helper at 1 GiB, a quarter
// below the job's hard limit, which only Windows enforces: under the limit
// the codec's allocations fail, and a helper left with a fragmented heap would
// live on.
inline constexpr std::uint32_t kPreparationBudgetMs = 7000;
inline constexpr std::uint32_t kCancelGraceMs = 200;
inline constexpr std::uint64_t kHelperMemoryBudget = 1024ull << 20;  // 1 GiB
inline constexpr std::uint64_t kHelperMemoryLimit = 1280ull << 20;   // 1.25 GiB, the job's
// A helper that has not said it is ready within this has failed to start.
inline constexpr std::uint32_t kReadyBudgetMs = 5000;

struct PreparationWatch {
    std::uint32_t elapsedMs = 0;                 // since the preparation was handed over
    std::optional<std::uint32_t> cancelledMs;    // since it was asked to stop
    std::uint64_t helperBytes = 0;               // the helper's memory now
};
// True when the preparation must be given up and its helper ended.
bool GiveUp(const PreparationWatch& watch);
// True when a helper that has been starting for `startingMs` has failed to start.
constexpr bool StartTooSlow(std::uint32_t startingMs) { return startingMs > kReadyBudgetMs; }

}  // namespace lumora
