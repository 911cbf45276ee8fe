#include "saver/MovementEndsShow.h"

#include <gtest/gtest.h>

#include <utility>
#include <vector>

namespace lumora {
namespace {

using Path = std::vector<std::pair<float, float>>;

// Feeds the positions in turn to a freshly armed reference and tells at which
// movement the show ended (-1: it did not).
int EndsAt(const Path& path) {
    PointerReference ref;
    for (size_t i = 0; i < path.size(); ++i)
        if (MovementEndsShow(ref, path[i].first, path[i].second)) return static_cast<int>(i);
    return -1;
}

TEST(MovementEndsShow, EndsOnlyBeyondFivePixelsOnBothAxes) {
    const struct {
        const char* what;
        Path path;
        int endsAt;
    } cases[] = {
        {"first movement only records", {{100, 100}}, -1},
        {"first movement far away still only records", {{0, 0}}, -1},
        {"repeated report without movement", {{100, 100}, {100, 100}, {100, 100}}, -1},
        {"bounds are inclusive, up", {{100, 100}, {105, 105}}, -1},
        {"bounds are inclusive, down", {{100, 100}, {95, 95}}, -1},
        {"beyond on both axes", {{100, 100}, {106, 106}}, 1},
        {"beyond on both axes, opposite directions", {{100, 100}, {94, 106}}, 1},
        {"beyond up-left", {{100, 100}, {94, 94}}, 1},
        {"far along one axis only", {{100, 100}, {400, 102}}, -1},
        {"far along the other axis only", {{100, 100}, {98, 1000}}, -1},
        {"x far, y exactly at the bound", {{100, 100}, {300, 105}}, -1},
        {"x far, y exactly at the lower bound", {{100, 100}, {300, 95}}, -1},
        {"y far, x exactly at the bound", {{100, 100}, {105, 300}}, -1},
        {"y far, x exactly at the lower bound", {{100, 100}, {95, 300}}, -1},
        {"y far, x one beyond the bound", {{100, 100}, {106, 300}}, 1},
        {"y far, x one beyond the lower bound", {{100, 100}, {94, 300}}, 1},
        {"small diagonal steps add up", {{100, 100}, {102, 102}, {104, 104}, {106, 106}, {108, 108}}, 3},
        {"back and forth never adds up", {{100, 100}, {104, 104}, {100, 100}, {96, 96}, {100, 100}}, -1},
        {"slow drift along x then y", {{100, 100}, {103, 100}, {110, 100}, {110, 104}, {110, 106}}, 4},
        {"half pixels just beyond", {{100.5f, 100.5f}, {106, 106}}, 1},
    };
    for (const auto& c : cases) EXPECT_EQ(EndsAt(c.path), c.endsAt) << c.what;
}

TEST(MovementEndsShow, ReferenceStaysUntilRearmed) {
    PointerReference ref;
    EXPECT_FALSE(MovementEndsShow(ref, 100, 100));
    EXPECT_FALSE(ref.FirstMove);
    EXPECT_FALSE(MovementEndsShow(ref, 104, 104));
    EXPECT_FLOAT_EQ(ref.MouseX0, 100);
    EXPECT_FLOAT_EQ(ref.MouseY0, 100);

    // A picture change arms it again: the next movement is a new reference.
    ref.FirstMove = true;
    EXPECT_FALSE(MovementEndsShow(ref, 300, 300));
    EXPECT_FLOAT_EQ(ref.MouseX0, 300);
    EXPECT_FALSE(MovementEndsShow(ref, 305, 295));
    EXPECT_TRUE(MovementEndsShow(ref, 306, 294));
}

// Positions over the picture and over the black margin share the window's
// frame, so stepping across the picture's edge is a one-pixel move, not a jump
// by the picture's offset.
TEST(MovementEndsShow, OnePixelAcrossThePictureEdgeIsASmallMove) {
    // Picture placed at (192, 144): the reference is taken in the margin just
    // left of and above it, then the pointer steps onto its corner.
    PointerReference ref;
    EXPECT_FALSE(MovementEndsShow(ref, 191, 143));
    EXPECT_FALSE(MovementEndsShow(ref, 192, 144));
    EXPECT_FALSE(MovementEndsShow(ref, 193, 145));

    // And the reverse: reference over the picture, then out into the margin.
    PointerReference back;
    EXPECT_FALSE(MovementEndsShow(back, 192, 144));
    EXPECT_FALSE(MovementEndsShow(back, 191, 143));
}

}  // namespace
}  // namespace lumora
