#include "saver/PictureSchedule.h"

namespace lumora {

void PictureSchedule::Show(const PictureRequest& request) {
    show_ = request;
    NoteGivenUp();
}

void PictureSchedule::Ahead(const PictureRequest& request) {
    ahead_ = request;
    NoteGivenUp();
}

std::optional<Preparation> PictureSchedule::Next() {
    if (show_) {
        const PictureRequest request = *show_;
        show_.reset();
        if (HeldFor(request)) return underWay_ = Preparation{request, true, held_->stamp};
        held_.reset();
        return underWay_ = Preparation{request, true, std::nullopt};
    }
    while (ahead_) {
        const PictureRequest request = *ahead_;
        ahead_.reset();
        if (HeldFor(request)) continue;  // prepared already
        held_.reset();
        return underWay_ = Preparation{request, false, std::nullopt};
    }
    return std::nullopt;
}

bool PictureSchedule::Wanted(const Preparation& p) const {
    if (givenUp_ == p.request.id) return false;
    if (p.forShow) return !show_;
    // Prepared ahead: of use while the screen asks for nothing else and no
    // other picture is wanted ahead.
    return (!show_ || Same(*show_, p.request)) && (!ahead_ || Same(*ahead_, p.request));
}

PictureSchedule::Use PictureSchedule::Finished(const Preparation& p, Outcome outcome, const FileStamp& stamp) {
    underWay_.reset();
    if (outcome == Outcome::Cancelled || !Wanted(p)) return Use::Drop;
    if (p.forShow) {
        if (outcome == Outcome::Unchanged && p.known && HeldFor(p.request)) {
            held_.reset();
            return Use::DeliverHeld;
        }
        // The file changed since it was prepared ahead: what was held is stale.
        held_.reset();
        return Use::Deliver;
    }
    if (outcome == Outcome::Unchanged) return Use::Drop;  // never asked for
    held_ = Held{p.request.number, p.request.size, stamp, outcome == Outcome::Picture};
    return Use::Hold;
}

bool GiveUp(const PreparationWatch& watch) {
    return watch.elapsedMs > kPreparationBudgetMs || (watch.cancelledMs && *watch.cancelledMs > kCancelGraceMs) ||
           watch.helperBytes > kHelperMemoryBudget;
}

}  // namespace lumora
