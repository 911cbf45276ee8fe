#include "saver/MonitorLayout.h"

#include <gtest/gtest.h>

namespace lumora {
namespace {

const PixelRect kMain{0, 0, 1920, 1080};

TEST(MonitorsToCover, Layouts) {
    const struct {
        const char* name;
        std::vector<PixelRect> monitors;
        std::vector<PixelRect> expected;
    } cases[] = {
        {"one monitor", {kMain}, {}},
        {"right of main", {kMain, {1920, 0, 3840, 1080}}, {{1920, 0, 3840, 1080}}},
        {"left, at negative coordinates", {{-1280, 200, 0, 1224}, kMain}, {{-1280, 200, 0, 1224}}},
        {"above and below", {{0, -900, 1600, 0}, kMain, {200, 1080, 1480, 2104}},
         {{0, -900, 1600, 0}, {200, 1080, 1480, 2104}}},
        {"mirrored display at the same place", {kMain, {0, 0, 1280, 1024}}, {}},
        {"repeated entry", {kMain, {1920, 0, 3840, 1080}, {1920, 0, 3840, 1080}}, {{1920, 0, 3840, 1080}}},
        {"empty rectangles", {kMain, {2000, 0, 2000, 500}, {0, 0, -5, -5}}, {}},
        {"touching corners only", {kMain, {1920, 1080, 2560, 1800}}, {{1920, 1080, 2560, 1800}}},
        {"main not in the list", {{1920, 0, 3840, 1080}}, {{1920, 0, 3840, 1080}}},
    };
    for (const auto& c : cases) EXPECT_EQ(MonitorsToCover(c.monitors, kMain), c.expected) << c.name;
}

}  // namespace
}  // namespace lumora
