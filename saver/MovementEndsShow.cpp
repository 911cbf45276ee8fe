#include "saver/MovementEndsShow.h"

namespace lumora {

bool MovementEndsShow(PointerReference& ref, float X, float Y) {
    if (ref.FirstMove) {
        ref.FirstMove = false;
        ref.MouseX0 = X;
        ref.MouseY0 = Y;
        return false;
    }
    // The bounds are Single values and include their ends.
    const float xHigh = static_cast<float>(ref.MouseX0 + kMoveThreshold);
    const float xLow = static_cast<float>(ref.MouseX0 - kMoveThreshold);
    const float yHigh = static_cast<float>(ref.MouseY0 + kMoveThreshold);
    const float yLow = static_cast<float>(ref.MouseY0 - kMoveThreshold);
    const bool xNear = xLow <= X && X <= xHigh;
    const bool yNear = yLow <= Y && Y <= yHigh;
    return !(xNear || yNear);
}

}  // namespace lumora
