#include "saver/Slideshow.h"

#include <gtest/gtest.h>

#include <vector>

namespace lumora {
namespace {

constexpr ClientSize kScreen{1024, 768};

TEST(Slideshow, LoadAsksForOneAndEveryTickForTheNextWrappingAfterFifty) {
    Slideshow show;
    const PictureRequest first = show.Load(kScreen);
    EXPECT_EQ(first.number, 1);
    EXPECT_EQ(first.size, kScreen);
    EXPECT_EQ(show.PicNo(), 2);
    EXPECT_EQ(show.PicMax(), 50);
    EXPECT_TRUE(show.pointer().FirstMove);

    // 2, 3, ... 50, then 1, 2 again: the counter moves on whether or not a picture ever shows.
    std::vector<int> asked;
    for (int tick = 0; tick < 51; ++tick) asked.push_back(show.NextPicture(kScreen).number);
    std::vector<int> expected;
    for (int n = 2; n <= 50; ++n) expected.push_back(n);
    expected.insert(expected.end(), {1, 2});
    EXPECT_EQ(asked, expected);
}

TEST(Slideshow, AheadPreparesWhatTheNextTickAsksFor) {
    Slideshow show;
    show.Load(kScreen);
    EXPECT_EQ(show.Ahead(kScreen).number, 2);
    EXPECT_EQ(show.NextPicture(kScreen).number, 2);
    for (int tick = 3; tick <= 50; ++tick) show.NextPicture(kScreen);
    EXPECT_EQ(show.Ahead(kScreen).number, 1) << "after 50 comes 1";
    // Asking ahead moves nothing on.
    EXPECT_EQ(show.NextPicture(kScreen).number, 1);
}

TEST(Slideshow, OnlyTheNewestAwaitedPictureMayShow) {
    Slideshow show;
    const PictureRequest first = show.Load(kScreen);
    const PictureRequest ahead = show.Ahead(kScreen);
    const PictureRequest second = show.NextPicture(kScreen);
    const PictureRequest third = show.NextPicture(kScreen);
    EXPECT_LT(first.id, ahead.id);
    EXPECT_LT(second.id, third.id);

    // Late results of superseded requests, in any order, are dropped.
    EXPECT_EQ(show.Arrived(second.id, true), Slideshow::Arrival::Drop);
    EXPECT_EQ(show.Arrived(first.id, true), Slideshow::Arrival::Drop);
    EXPECT_EQ(show.Arrived(ahead.id, true), Slideshow::Arrival::Drop) << "prepared ahead is not asked for";
    EXPECT_EQ(show.Arrived(third.id, true), Slideshow::Arrival::Show);
    EXPECT_EQ(show.Arrived(0, true), Slideshow::Arrival::Drop);
}

TEST(Slideshow, AShownPictureArmsTheReferenceAndAFailedOneLeavesItAlone) {
    Slideshow show;
    const PictureRequest first = show.Load(kScreen);
    EXPECT_FALSE(show.MovementEndsShow(100, 100)) << "the first movement only records";
    EXPECT_FALSE(show.pointer().FirstMove);

    EXPECT_EQ(show.Arrived(first.id, false), Slideshow::Arrival::Black);
    EXPECT_FALSE(show.pointer().FirstMove) << "a picture that failed changes nothing";
    EXPECT_TRUE(show.MovementEndsShow(200, 200)) << "still measured from (100, 100)";

    const PictureRequest second = show.NextPicture(kScreen);
    EXPECT_EQ(show.Arrived(second.id, true), Slideshow::Arrival::Show);
    EXPECT_TRUE(show.pointer().FirstMove);
    EXPECT_FALSE(show.MovementEndsShow(900, 700)) << "a new reference, however far away";
    EXPECT_FALSE(show.MovementEndsShow(905, 695));
    EXPECT_TRUE(show.MovementEndsShow(906, 694));
}

TEST(Slideshow, RefitAsksForTheSamePictureAtTheNewSizeAndRearmsTheReference) {
    constexpr ClientSize kSmaller{800, 600};
    Slideshow show;
    const PictureRequest first = show.Load(kScreen);
    ASSERT_EQ(show.Arrived(first.id, true), Slideshow::Arrival::Show);
    show.MovementEndsShow(10, 10);
    ASSERT_FALSE(show.pointer().FirstMove);

    const auto refit = show.Refit(kSmaller);
    ASSERT_TRUE(refit.has_value());
    EXPECT_EQ(refit->number, 1);
    EXPECT_EQ(refit->size, kSmaller);
    EXPECT_GT(refit->id, first.id);
    EXPECT_EQ(show.PicNo(), 2) << "a refit is not a tick";
    EXPECT_TRUE(show.pointer().FirstMove);
    EXPECT_EQ(show.Arrived(refit->id, true), Slideshow::Arrival::Show);

    // While a tick's picture is still awaited, that one is asked for again.
    const PictureRequest second = show.NextPicture(kScreen);
    const auto again = show.Refit(kSmaller);
    ASSERT_TRUE(again.has_value());
    EXPECT_EQ(again->number, 2);
    EXPECT_EQ(show.Arrived(second.id, true), Slideshow::Arrival::Drop) << "fitted to the old size";

    // A black screen stays black.
    const PictureRequest third = show.NextPicture(kSmaller);
    show.Arrived(third.id, false);
    EXPECT_FALSE(show.Refit(kScreen).has_value());
    EXPECT_TRUE(show.pointer().FirstMove);
}

TEST(StillValid, OnlyTheSameNumberSizeAndUnchangedFile) {
    const FileStamp stamp{true, 4096, 133000000000000000ull};
    const PreparedFrom prepared{7, {1024, 768}, stamp};
    const struct {
        const char* what;
        PictureRequest request;
        FileStamp now;
        bool valid;
    } cases[] = {
        {"unchanged", {9, 7, {1024, 768}}, stamp, true},
        {"another number", {9, 8, {1024, 768}}, stamp, false},
        {"another width", {9, 7, {800, 768}}, stamp, false},
        {"another height", {9, 7, {1024, 600}}, stamp, false},
        {"file rewritten, same size", {9, 7, {1024, 768}}, {true, 4096, 133000000000000001ull}, false},
        {"file grown", {9, 7, {1024, 768}}, {true, 4097, 133000000000000000ull}, false},
        {"file deleted", {9, 7, {1024, 768}}, {}, false},
    };
    for (const auto& c : cases) EXPECT_EQ(StillValid(prepared, c.request, c.now), c.valid) << c.what;
    // A file that was missing when prepared ahead is still missing: its black interval stands.
    EXPECT_TRUE(StillValid({7, {1024, 768}, {}}, {9, 7, {1024, 768}}, {}));
}

}  // namespace
}  // namespace lumora
