#include "saver/Slideshow.h"

#include "saver/DisplayPower.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <optional>
#include <string>
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
    EXPECT_EQ(show.Ahead(kScreen)->number, 2);
    EXPECT_EQ(show.NextPicture(kScreen).number, 2);
    for (int tick = 3; tick <= 50; ++tick) show.NextPicture(kScreen);
    EXPECT_EQ(show.Ahead(kScreen)->number, 1) << "after 50 comes 1";
    // Asking ahead moves nothing on.
    EXPECT_EQ(show.NextPicture(kScreen).number, 1);
}

TEST(Slideshow, OnlyTheNewestAwaitedPictureMayShow) {
    Slideshow show;
    const PictureRequest first = show.Load(kScreen);
    const PictureRequest ahead = *show.Ahead(kScreen);
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
             const PictureRequest ahead = *show.Ahead(kScreen);
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

// A show with picture 1 on screen and 2 prepared ahead, as it runs when the display goes off.
Slideshow Running() {
    Slideshow show;
    const PictureRequest first = show.Load(kScreen);
    EXPECT_EQ(show.Arrived(first.id, true), Slideshow::Arrival::Show);
    EXPECT_EQ(show.Ahead(kScreen)->number, 2);
    return show;
}

bool Sleeps(const Slideshow::TickWork& work) { return !work.show; }

// While the display is off nothing is prepared or shown and the cycle stands
// still; the picture on screen stays, and the next one follows it on waking.
TEST(Slideshow, SleepsWhileTheDisplayIsOff) {
    using enum DisplayPower;
    static constexpr ClientSize kSmaller{800, 600};
    const struct {
        const char* what;
        void (*run)(Slideshow& show);
    } cases[] = {
        {"asleep: ticks ask for nothing; from the second on (off a whole interval) the helper rests",
         [](Slideshow& show) {
             const Slideshow::Wake wake = show.DisplayChanged(Off, kScreen);
             EXPECT_FALSE(wake.refit || wake.ahead);
             EXPECT_TRUE(show.asleep());
             EXPECT_FALSE(show.Ahead(kScreen)) << "nothing prepared ahead for a dark screen";
             const auto first = show.Tick(kScreen, true);
             EXPECT_TRUE(Sleeps(first));
             EXPECT_FALSE(first.rest) << "off for less than an interval";
             for (int tick = 2; tick <= 4; ++tick) {
                 const auto work = show.Tick(kScreen, true);
                 EXPECT_TRUE(Sleeps(work) && work.rest) << "tick " << tick;
             }
             EXPECT_EQ(show.PicNo(), 2) << "the cycle moved on in the dark";
         }},
        {"awake: on after off prepares picture 2 at once, the next tick shows it and the cycle goes on",
         [](Slideshow& show) {
             EXPECT_FALSE(show.DisplayChanged(On, kScreen).ahead) << "on while lit (as Windows answers at once)";
             show.DisplayChanged(Off, kScreen);
             show.Tick(kScreen, true);
             show.Tick(kScreen, true);
             const Slideshow::Wake wake = show.DisplayChanged(On, kScreen);
             EXPECT_FALSE(show.asleep());
             EXPECT_FALSE(wake.refit);
             ASSERT_TRUE(wake.ahead);
             EXPECT_EQ(wake.ahead->number, 2);
             const auto tick = show.Tick(kScreen, true);
             ASSERT_TRUE(tick.show);
             EXPECT_EQ(tick.show->number, 2);
             EXPECT_FALSE(tick.rest);
             EXPECT_EQ(show.Arrived(wake.ahead->id, true), Slideshow::Arrival::Drop) << "prepared, not asked for";
             EXPECT_EQ(show.Arrived(tick.show->id, true), Slideshow::Arrival::Show);
             EXPECT_EQ(show.Tick(kScreen, true).show->number, 3);
         }},
        {"dimmed: lit as far as the show goes; after off it wakes the show as on does",
         [](Slideshow& show) {
             EXPECT_FALSE(show.DisplayChanged(Dimmed, kScreen).ahead);
             EXPECT_FALSE(show.asleep());
             EXPECT_EQ(show.Tick(kScreen, true).show->number, 2) << "a dimmed display still shows pictures";
             show.DisplayChanged(Off, kScreen);
             const Slideshow::Wake wake = show.DisplayChanged(Dimmed, kScreen);
             EXPECT_FALSE(show.asleep());
             ASSERT_TRUE(wake.ahead);
             EXPECT_EQ(wake.ahead->number, 3);
         }},
        {"a tick's picture that comes after the display went off still shows; waking asks for the one after it",
         [](Slideshow& show) {
             const auto tick = show.Tick(kScreen, true);
             show.DisplayChanged(Off, kScreen);
             EXPECT_TRUE(Sleeps(show.Tick(kScreen, true)));
             EXPECT_EQ(show.Arrived(tick.show->id, true), Slideshow::Arrival::Show);
             EXPECT_EQ(show.DisplayChanged(On, kScreen).ahead->number, 3);
         }},
        {"waking right before a tick: the tick asks for the picture prepared on waking",
         [](Slideshow& show) {
             show.DisplayChanged(Off, kScreen);
             const Slideshow::Wake wake = show.DisplayChanged(On, kScreen);
             const auto tick = show.Tick(kScreen, true);
             ASSERT_TRUE(wake.ahead && tick.show);
             EXPECT_EQ(wake.ahead->number, 2);
             EXPECT_EQ(tick.show->number, 2);
             EXPECT_EQ(tick.show->size, wake.ahead->size);
             EXPECT_GT(tick.show->id, wake.ahead->id);
         }},
        {"a repeated off does not start the interval again; a tick without the foreground asks for nothing",
         [](Slideshow& show) {
             EXPECT_TRUE(Sleeps(show.Tick(kScreen, false)));
             EXPECT_EQ(show.PicNo(), 2);
             show.DisplayChanged(Off, kScreen);
             EXPECT_FALSE(show.Tick(kScreen, true).rest);
             show.DisplayChanged(Off, kScreen);
             EXPECT_TRUE(show.Tick(kScreen, true).rest);
         }},
        {"a resize while asleep asks for nothing; on waking the picture on show at the new size, then the next",
         [](Slideshow& show) {
             show.DisplayChanged(Off, kScreen);
             show.MovementEndsShow(10, 10);
             EXPECT_FALSE(show.Refit(kSmaller));
             EXPECT_TRUE(show.pointer().FirstMove) << "the system moved the pointer with the screen";
             const Slideshow::Wake wake = show.DisplayChanged(On, kSmaller);
             ASSERT_TRUE(wake.refit && wake.ahead);
             EXPECT_EQ(wake.refit->number, 1);
             EXPECT_EQ(wake.refit->size, kSmaller);
             EXPECT_EQ(wake.ahead->number, 2);
             EXPECT_EQ(wake.ahead->size, kSmaller);
             EXPECT_EQ(show.Arrived(wake.refit->id, true), Slideshow::Arrival::Show);
             EXPECT_FALSE(show.DisplayChanged(Off, kSmaller).refit);
             EXPECT_FALSE(show.DisplayChanged(On, kSmaller).refit) << "no resize this time";
         }},
        {"a resize while asleep over a black screen: nothing to fit again on waking",
         [](Slideshow& show) {
             const auto tick = show.Tick(kScreen, true);
             show.DisplayChanged(Off, kScreen);
             EXPECT_EQ(show.Arrived(tick.show->id, false), Slideshow::Arrival::Black);
             EXPECT_FALSE(show.Refit(kSmaller));
             const Slideshow::Wake wake = show.DisplayChanged(On, kSmaller);
             EXPECT_FALSE(wake.refit);
             EXPECT_EQ(wake.ahead->number, 3);
         }},
        {"a key while asleep ends the show at once, and so does a button; a movement is measured as always",
         [](Slideshow& show) {
             show.DisplayChanged(Off, kScreen);
             show.Tick(kScreen, true);
             show.Tick(kScreen, true);
             EXPECT_TRUE(show.EndsShow(Slideshow::Input::Key));
             EXPECT_TRUE(show.EndsShow(Slideshow::Input::Button));
             EXPECT_TRUE(show.asleep()) << "nothing is woken on the way out";
             EXPECT_FALSE(show.EndsShow(Slideshow::Input::Movement, 100, 100)) << "the first movement records";
             EXPECT_FALSE(show.EndsShow(Slideshow::Input::Movement, 105, 95));
             EXPECT_TRUE(show.EndsShow(Slideshow::Input::Movement, 106, 94));
         }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Slideshow show = Running();
        c.run(show);
    }
}

// A power setting as Windows lays it out: the GUID written from its text
// (the first three fields little-endian, the rest in order), the data's
// length little-endian, then the data.
std::vector<std::uint8_t> Setting(const std::string& guid, std::uint32_t length, std::uint32_t value) {
    std::vector<std::uint8_t> bytes;
    const auto field = [&](std::size_t at, int count, bool reversed) {
        std::vector<std::uint8_t> part;
        for (int i = 0; i < count; ++i)
            part.push_back(static_cast<std::uint8_t>(std::stoul(guid.substr(at + 2 * i, 2), nullptr, 16)));
        if (reversed) std::reverse(part.begin(), part.end());
        bytes.insert(bytes.end(), part.begin(), part.end());
    };
    field(0, 4, true);
    field(9, 2, true);
    field(14, 2, true);
    field(19, 2, false);
    field(24, 6, false);
    for (const std::uint32_t word : {length, value})
        for (int i = 0; i < 4; ++i) bytes.push_back(static_cast<std::uint8_t>(word >> (8 * i)));
    return bytes;
}

TEST(DisplayPower, ReadsTheDisplayStateAndIgnoresEverythingElse) {
    using enum DisplayPower;
    const std::string console = "6FE69556-704A-47A0-8F24-C28D936FDA47";  // GUID_CONSOLE_DISPLAY_STATE
    const std::string monitor = "02731015-4510-4526-99E6-E5A17EBD1AEA";  // GUID_MONITOR_POWER_ON
    const struct {
        const char* what;
        std::vector<std::uint8_t> setting;
        std::optional<DisplayPower> want;
    } cases[] = {
        {"console off", Setting(console, 4, 0), Off},
        {"console on", Setting(console, 4, 1), On},
        {"console dimmed", Setting(console, 4, 2), Dimmed},
        {"console, a state it does not define", Setting(console, 4, 3), std::nullopt},
        {"console, all ones", Setting(console, 4, 0xFFFFFFFF), std::nullopt},
        {"monitor off", Setting(monitor, 4, 0), Off},
        {"monitor on", Setting(monitor, 4, 1), On},
        {"monitor, 2 is not one of its states", Setting(monitor, 4, 2), std::nullopt},
        {"length 0", Setting(console, 0, 0), std::nullopt},
        {"length 1", Setting(console, 1, 0), std::nullopt},
        {"length 3", Setting(monitor, 3, 1), std::nullopt},
        {"length 5", Setting(console, 5, 0), std::nullopt},
        {"length 8", Setting(console, 8, 0), std::nullopt},
        {"length all ones", Setting(console, 0xFFFFFFFF, 0), std::nullopt},
        {"another setting (the session's display)", Setting("2B84C20E-AD23-4DDF-93DB-05FFBD7EFCA5", 4, 0),
         std::nullopt},
        {"console's GUID with its last byte changed", Setting("6FE69556-704A-47A0-8F24-C28D936FDA48", 4, 0),
         std::nullopt},
        {"console's GUID in text order, not as Windows lays it out", [&] {
             auto s = Setting(console, 4, 0);
             std::reverse(s.begin(), s.begin() + 4);
             return s;
         }(), std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_EQ(c.setting.size(), 24u);
        EXPECT_EQ(DisplayPowerFromSetting(c.setting.data()), c.want);
    }
    EXPECT_EQ(DisplayPowerFromSetting(nullptr), std::nullopt);
    // Only the header is read before the length is known: a setting that ends there is enough.
    const std::vector<std::uint8_t> whole = Setting(console, 0, 0);
    const std::vector<std::uint8_t> header(whole.begin(), whole.begin() + 20);
    EXPECT_EQ(DisplayPowerFromSetting(header.data()), std::nullopt);
}

}  // namespace
}  // namespace lumora
