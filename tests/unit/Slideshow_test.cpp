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

// Three rules about which result may show, each with the fault it guards against.
TEST(Slideshow, OnlyTheAwaitedRequestShowsAcrossRefitsAndRequestsAhead) {
    static constexpr ClientSize kSmaller{800, 600};
    const struct {
        const char* what;
        void (*run)(Slideshow& show);
    } cases[] = {
        {"a resize before the first picture has come asks for it again and drops the old result",
         [](Slideshow& show) {
             const PictureRequest first = show.Load(kScreen);
             const auto again = show.Refit(kSmaller);
             ASSERT_TRUE(again.has_value());
             EXPECT_EQ(again->number, 1);
             EXPECT_EQ(again->size, kSmaller);
             EXPECT_EQ(show.Arrived(first.id, true), Slideshow::Arrival::Drop);
             EXPECT_EQ(show.Arrived(again->id, true), Slideshow::Arrival::Show);
         }},
        {"after a black interval, a resize asks for the picture the next tick awaits",
         [](Slideshow& show) {
             const PictureRequest first = show.Load(kScreen);
             ASSERT_EQ(show.Arrived(first.id, false), Slideshow::Arrival::Black);
             const PictureRequest second = show.NextPicture(kScreen);
             const auto again = show.Refit(kSmaller);
             ASSERT_TRUE(again.has_value());
             EXPECT_EQ(again->number, 2);
             EXPECT_EQ(again->size, kSmaller);
             EXPECT_EQ(show.Arrived(second.id, true), Slideshow::Arrival::Drop);
             EXPECT_EQ(show.Arrived(again->id, false), Slideshow::Arrival::Black);
         }},
        {"a result asked for ahead after the awaited one never shows in its place",
         [](Slideshow& show) {
             const PictureRequest first = show.Load(kScreen);
             const PictureRequest ahead = show.Ahead(kScreen);
             ASSERT_GT(ahead.id, first.id);
             EXPECT_EQ(show.Arrived(ahead.id, true), Slideshow::Arrival::Drop);
             EXPECT_EQ(show.Arrived(first.id, true), Slideshow::Arrival::Show);
         }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Slideshow show;
        c.run(show);
    }
}

}  // namespace
}  // namespace lumora
