#include "saver/Slideshow.h"

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

PictureRequest Slideshow::Ahead(ClientSize size) { return Ask(PicNo_, size); }

std::optional<PictureRequest> Slideshow::Refit(ClientSize size) {
    mouse_.FirstMove = true;
    if (screen_ == Screen::Empty || screen_ == Screen::Black) return std::nullopt;
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

}  // namespace lumora
