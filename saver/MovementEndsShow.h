#pragma once

namespace lumora {

// How far the pointer may wander from its reference, per axis, before a
// movement ends the slideshow (both axes must exceed it).
inline constexpr double kMoveThreshold = 5.0;

// The pointer reference of the slideshow window. All positions are in one
// frame: the window's client area, in pixels.
struct PointerReference {
    bool FirstMove = true;  // the next movement only records the reference
    float MouseX0 = 0;
    float MouseY0 = 0;
};

// Runs the movement test for a pointer now at (X, Y). The first movement after
// arming records the reference and never ends the show; later ones end it when
// the pointer is beyond the threshold on both axes at once, measured from the
// reference, so slow movement adds up. Returns true when the show must end.
bool MovementEndsShow(PointerReference& ref, float X, float Y);

}  // namespace lumora
