#pragma once
// The slideshow's state and decisions, apart from any window: which picture
// each step asks for, which prepared picture may be shown, and when a pointer
// movement ends the show. Form1 only translates messages into these calls.
#include "common/Geometry.h"
#include "saver/MovementEndsShow.h"
#include "saver/PictureCycle.h"

#include <cstdint>
#include <optional>

namespace lumora {

// Picture `number` fitted to `size`. Ids grow with every request, so a result
// always tells which request it answers.
struct PictureRequest {
    std::uint32_t id = 0;
    std::int16_t number = 0;
    ClientSize size;
};

class Slideshow {
public:
    enum class Arrival {
        Show,   // the awaited picture: on screen now, and the pointer reference is armed
        Black,  // the awaited picture cannot be shown: black until the next one
        Drop,   // superseded by a newer request: never shown
    };

    // The cycle starts at 1 with the first picture asked for; the next
    // movement records the pointer reference.
    PictureRequest Load(ClientSize size);
    // A tick's picture: the one the counter names. The counter moves on
    // whatever becomes of the picture.
    PictureRequest NextPicture(ClientSize size);
    // The picture the next tick will ask for, to prepare ahead of it.
    PictureRequest Ahead(ClientSize size);
    // The window has a new size: the picture on show, or the one awaited,
    // asked for again at that size; nothing while the screen is black. The
    // pointer reference is armed again, since the system moves the pointer
    // when the screen changes.
    std::optional<PictureRequest> Refit(ClientSize size);
    // The result of request `id` has come; `shown` tells whether it holds a picture.
    Arrival Arrived(std::uint32_t id, bool shown);
    // The movement test, every position in the window's client frame.
    bool MovementEndsShow(float x, float y);

    std::int16_t PicNo() const { return PicNo_; }
    std::int16_t PicMax() const { return PicMax_; }
    const PointerReference& pointer() const { return mouse_; }

private:
    enum class Screen { Empty, Awaiting, Showing, Black };

    PictureRequest Ask(std::int16_t number, ClientSize size);
    PictureRequest Await(std::int16_t number, ClientSize size);

    std::int16_t PicNo_ = 1;
    std::int16_t PicMax_ = kPicMax;
    PointerReference mouse_;  // FirstMove, MouseX0, MouseY0
    std::uint32_t lastId_ = 0;
    std::uint32_t awaited_ = 0;  // the request whose picture the screen shows or waits for
    std::int16_t awaitedNumber_ = 0;
    Screen screen_ = Screen::Empty;
};

}  // namespace lumora
