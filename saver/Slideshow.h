#pragma once
// The slideshow's state and decisions, apart from any window: which picture
// each step asks for, which prepared picture may be shown, when input ends
// the show, and what it does while the display is off. Form1 only translates
// messages into these calls.
#include "common/Geometry.h"
#include "saver/DisplayPower.h"
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
    // The picture the next tick will ask for, to prepare ahead of it;
    // nothing while the display is off.
    std::optional<PictureRequest> Ahead(ClientSize size);
    // The window has a new size: the picture on show, or the one awaited,
    // asked for again at that size; nothing while the screen is black. The
    // pointer reference is armed again, since the system moves the pointer
    // when the screen changes. While the display is off the picture is asked
    // for when it comes back on.
    std::optional<PictureRequest> Refit(ClientSize size);
    // The result of request `id` has come; `shown` tells whether it holds a picture.
    Arrival Arrived(std::uint32_t id, bool shown);
    // The movement test, every position in the window's client frame.
    bool MovementEndsShow(float x, float y);

    // What a tick does.
    struct TickWork {
        std::optional<PictureRequest> show;  // the picture it asks for
        bool rest = false;                   // the helper ends and what it prepared goes
    };
    // A tick. With the display lit and the keys reaching the show
    // (`focused`), the next picture, as NextPicture; otherwise nothing, and
    // the cycle stands still. Nobody sees a dark display: from the second
    // tick while it is off (off for one whole interval, tick to tick) the
    // helper is to rest, so that its memory goes back.
    TickWork Tick(ClientSize size, bool focused);

    // What the show does when the display comes back on.
    struct Wake {
        std::optional<PictureRequest> refit;  // the picture on show, at the size the screen took while dark
        std::optional<PictureRequest> ahead;  // the next picture, prepared at once for the next tick
    };
    // Off puts the show to sleep; on or dimmed wakes it, with the picture on
    // show still there. Anything else changes nothing.
    Wake DisplayChanged(DisplayPower power, ClientSize size);
    bool asleep() const { return asleep_; }

    enum class Input { Key, Button, Movement };
    // Whether `input` ends the show, the display lit or not: a key or a
    // button always (the press that wakes the display is the user back), a
    // movement to (x, y) by the movement test.
    bool EndsShow(Input input, float x = 0, float y = 0);

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
    bool asleep_ = false;
    int ticksAsleep_ = 0;
    bool refitOnWake_ = false;  // the screen changed size while the display was off
};

}  // namespace lumora
