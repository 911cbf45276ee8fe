#include "picture/Fitting.h"

#include <gtest/gtest.h>

namespace lumora {
namespace {

struct FitCase {
    const char* what;
    float W, H, w, h;
    Placement expected;
};

TEST(FitPicture, PlacesEachShapeOfPictureAsTheRulesSay) {
    const FitCase cases[] = {
        {"small: natural size, centred", 1024, 768, 640, 480, {192, 144, 640, 480, false}},
        {"small with half-pixel margins", 1024, 768, 101, 51, {461.5f, 358.5f, 101, 51, false}},
        {"one pixel smaller both ways is still small", 1024, 768, 1023, 767, {0.5f, 0.5f, 1023, 767, false}},
        {"exactly as wide, less tall: fitted, same size", 1024, 768, 1024, 500, {0, 134, 1024, 500, true}},
        {"exactly as tall, narrower: fitted, same size", 1024, 768, 500, 768, {262, 0, 500, 768, true}},
        {"exactly the window's size", 1024, 768, 1024, 768, {0, 0, 1024, 768, true}},
        {"wider only", 1024, 768, 2000, 500, {0, 256, 1024, 256, true}},
        {"taller only", 1024, 768, 800, 1600, {320, 0, 384, 768, true}},
        {"wide landscape on 4:3 fills the width", 1024, 768, 1920, 1080, {0, 96, 1024, 576, true}},
        {"square on landscape fills the height", 1024, 768, 2000, 2000, {128, 0, 768, 768, true}},
        {"square on portrait fills the width", 768, 1024, 2000, 2000, {0, 128, 768, 768, true}},
        {"4:3 on 16:9 fills the height", 1920, 1080, 4000, 3000, {240, 0, 1440, 1080, true}},
        {"portrait on portrait, narrower aspect", 768, 1024, 1000, 4000, {256, 0, 256, 1024, true}},
        {"portrait on portrait, wider aspect", 768, 1024, 3000, 3200, {0, 102.4f, 768, 819.2f, true}},
        {"same aspect, landscape: covers the window", 1024, 768, 2048, 1536, {0, 0, 1024, 768, true}},
        {"same aspect, portrait: covers the window", 768, 1024, 1536, 2048, {0, 0, 768, 1024, true}},
        {"same aspect, square window and picture", 600, 600, 601, 601, {0, 0, 600, 600, true}},
        {"same aspect, inexact ratio", 1366, 768, 2732, 1536, {0, 0, 1366, 768, true}},
        {"sizes from the double ratio", 10, 10, 30, 70, {2.8571429f, 0, 4.2857141f, 10, true}},
    };
    for (const auto& c : cases) {
        const auto p = FitPicture(c.W, c.H, c.w, c.h);
        ASSERT_TRUE(p) << c.what;
        EXPECT_FLOAT_EQ(p->left, c.expected.left) << c.what;
        EXPECT_FLOAT_EQ(p->top, c.expected.top) << c.what;
        EXPECT_FLOAT_EQ(p->width, c.expected.width) << c.what;
        EXPECT_FLOAT_EQ(p->height, c.expected.height) << c.what;
        EXPECT_EQ(p->stretch, c.expected.stretch) << c.what;
    }
}

TEST(FitPicture, ScaledPicturesStayInsideTheWindowAndTouchTwoOppositeEdges) {
    const float windows[][2] = {{1024, 768}, {1920, 1080}, {1366, 768}, {768, 1024}, {1280, 1024}, {640, 480}};
    const float pictures[][2] = {{6000, 4000}, {4000, 6000}, {1921, 10}, {10, 1081}, {3001, 2999}, {1920, 1200},
                                 {12000, 1},   {1, 9000},   {2222, 1111}};
    for (const auto& win : windows) {
        for (const auto& pic : pictures) {
            const auto p = FitPicture(win[0], win[1], pic[0], pic[1]);
            ASSERT_TRUE(p);
            const ::testing::Message where = ::testing::Message() << win[0] << "x" << win[1] << " <- " << pic[0]
                                                                  << "x" << pic[1];
            EXPECT_TRUE(p->stretch) << where;
            EXPECT_GE(p->left, 0) << where;
            EXPECT_GE(p->top, 0) << where;
            EXPECT_LE(p->left + p->width, win[0] + 0.01f) << where;
            EXPECT_LE(p->top + p->height, win[1] + 0.01f) << where;
            const bool touchesSides = p->left == 0 && p->width == win[0];
            const bool touchesTopAndBottom = p->top == 0 && p->height == win[1];
            EXPECT_TRUE(touchesSides || touchesTopAndBottom) << where;
            // Aspect kept, and centred on the free axis.
            EXPECT_NEAR(p->width / p->height, pic[0] / pic[1], pic[0] / pic[1] * 1e-3 + 1.0 / p->height) << where;
            EXPECT_NEAR(p->left * 2 + p->width, win[0], 1e-3) << where;
            EXPECT_NEAR(p->top * 2 + p->height, win[1], 1e-3) << where;
        }
    }
}

TEST(FitPicture, FailsWhereTheRulesWouldDivideByZero) {
    EXPECT_FALSE(FitPicture(1024, 768, 640, 0)) << "picture without height";
    EXPECT_FALSE(FitPicture(1024, 768, 0, 0)) << "empty picture";
    EXPECT_FALSE(FitPicture(1024, 0, 640, 480)) << "window without height";
    EXPECT_FALSE(FitPicture(0, 0, 640, 480)) << "empty window";
    EXPECT_FALSE(FitPicture(0, 768, 0, 1000)) << "0/0 when filling the width";
}

TEST(FitPicture, ZeroWidthsStillPlaceThePicture) {
    // A window without width takes any picture to the fitting branch, which
    // shrinks it to nothing in the middle of the height.
    auto p = FitPicture(0, 768, 100, 100);
    ASSERT_TRUE(p);
    EXPECT_FLOAT_EQ(p->width, 0);
    EXPECT_FLOAT_EQ(p->height, 0);
    EXPECT_FLOAT_EQ(p->top, 384);
    // A picture without width is small on any real window.
    p = FitPicture(1024, 768, 0, 100);
    ASSERT_TRUE(p);
    EXPECT_FALSE(p->stretch);
    EXPECT_FLOAT_EQ(p->left, 512);
    EXPECT_FLOAT_EQ(p->top, 334);
}

TEST(ToPixelRect, RoundsEdgesSoNaturalSizesSurvive) {
    const struct {
        Placement in;
        PixelRect out;
    } cases[] = {
        {{192, 144, 640, 480, false}, {192, 144, 832, 624}},
        {{461.5f, 358.5f, 101, 51, false}, {462, 359, 563, 410}},
        {{0.5f, 0.5f, 1023, 767, false}, {1, 1, 1024, 768}},
        {{0, 95.5f, 1024, 577, true}, {0, 96, 1024, 673}},
        {{511.96f, 0, 0.08f, 768, true}, {512, 0, 513, 768}},  // rounds to nothing: one pixel kept
        {{0, 384, 0, 0, true}, {0, 384, 1, 385}},
    };
    for (const auto& c : cases) {
        const PixelRect r = ToPixelRect(c.in);
        EXPECT_EQ(r.left, c.out.left);
        EXPECT_EQ(r.top, c.out.top);
        EXPECT_EQ(r.right, c.out.right);
        EXPECT_EQ(r.bottom, c.out.bottom);
    }
    EXPECT_EQ(ToPixelRect({461.5f, 358.5f, 101, 51, false}).width(), 101);
    EXPECT_EQ(ToPixelRect({461.5f, 358.5f, 101, 51, false}).height(), 51);
}

}  // namespace
}  // namespace lumora
