#include "saver/Slideshow.h"

#include <algorithm>
#include <utility>

namespace lumora {

PictureRequest Slideshow::Ask(std::int16_t number, ClientSize size) { return PictureRequest{++lastId_, number, size}; }

PictureRequest Slideshow::Await(std::int16_t number, ClientSize size) {
    const PictureRequest request = Ask(number, size);
    awaited_ = request.id;
    awaitedNumber_ = number;
    // The picture before stays on screen until this one is ready.
    if (screen_ != Screen::Showing) screen_ = Screen::Awaiting;
    return request;
}

PictureRequest Slideshow::Load(ClientSize size) {
    PicNo_ = 1;
    PicMax_ = kPicMax;
    const PictureRequest first = NextPicture(size);
    mouse_.FirstMove = true;
    return first;
}

PictureRequest Slideshow::NextPicture(ClientSize size) {
    const std::int16_t number = PicNo_;
    PicNo_ = NextPicNo(PicNo_, PicMax_);
    return Await(number, size);
}

std::optional<PictureRequest> Slideshow::Ahead(ClientSize size) {
    if (asleep_) return std::nullopt;
    return Ask(PicNo_, size);
}

std::optional<PictureRequest> Slideshow::Refit(ClientSize size) {
    mouse_.FirstMove = true;
    if (screen_ == Screen::Empty || screen_ == Screen::Black) return std::nullopt;
    if (asleep_) {
        refitOnWake_ = true;
        return std::nullopt;
    }
    return Await(awaitedNumber_, size);
}

Slideshow::Arrival Slideshow::Arrived(std::uint32_t id, bool shown) {
    if (id != awaited_) return Arrival::Drop;
    if (!shown) {
        screen_ = Screen::Black;
        return Arrival::Black;
    }
    screen_ = Screen::Showing;
    mouse_.FirstMove = true;
    return Arrival::Show;
}

bool Slideshow::MovementEndsShow(float x, float y) { return lumora::MovementEndsShow(mouse_, x, y); }

Slideshow::TickWork Slideshow::Tick(ClientSize size, bool focused) {
    if (asleep_) {
        ticksAsleep_ = std::min(ticksAsleep_ + 1, 2);
        return {std::nullopt, ticksAsleep_ == 2};
    }
    if (!focused) return {};
    return {NextPicture(size), false};
}

Slideshow::Wake Slideshow::DisplayChanged(DisplayPower power, ClientSize size) {
    if (power == DisplayPower::Off) {
        // A repeated "off" does not start the interval again.
        if (!asleep_) ticksAsleep_ = 0;
        asleep_ = true;
        return {};
    }
    if (!asleep_) return {};  // lit already, or merely dimmed
    asleep_ = false;
    Wake wake;
    // A picture that failed while the display was off stays black until the next tick.
    if (std::exchange(refitOnWake_, false) && (screen_ == Screen::Showing || screen_ == Screen::Awaiting))
        wake.refit = Await(awaitedNumber_, size);
    wake.ahead = Ahead(size);
    return wake;
}

bool Slideshow::EndsShow(Input input, float x, float y) {
    return input != Input::Movement || MovementEndsShow(x, y);
}

}  // namespace lumora
