#include "saver/Slideshow.h"

#include <gtest/gtest.h>

#include <cstring>
#include <sstream>
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

// Scenarios from a show with picture 1 on screen. Steps, each =what it gives:
// off, on, dim (=the picture asked for again, the one prepared ahead); tick,
// away (a tick without the foreground; =the picture asked for, ! the helper
// rests); small (a resize to 800 x 600; =the picture asked for again; an
// "s" marks requests at that size); arrive, fail (the last tick's picture;
// =Show, Black, Drop); ahead; key (=E when it ends the show).
TEST(Slideshow, SleepsWhileTheDisplayIsOff) {
    const struct {
        const char* what;
        const char* steps;
    } cases[] = {
        {"asleep: ticks ask for nothing, the cycle stands, the second tick (a whole interval) rests the helper",
         "off=-,- ahead=- tick=- tick=-! tick=-! on=-,2"},
        {"awake: on while lit (Windows' first answer) changes nothing; back on, 2 at once, then the cycle",
         "on=-,- off=-,- tick=- tick=-! on=-,2 tick=2 arrive=S tick=3"},
        {"dimmed: lit as far as the show goes, and it wakes the show as on does", "dim=-,- tick=2 off=-,- dim=-,3"},
        {"a tick's picture that comes in the dark shows; waking asks for the one after",
         "tick=2 off=-,- tick=- arrive=S on=-,3"},
        {"waking right before a tick: the tick asks for the picture prepared on waking", "off=-,- on=-,2 tick=2"},
        {"a repeated off does not start the interval again; without the foreground, no picture",
         "away=- off=-,- tick=- off=-,- tick=-!"},
        {"a resize in the dark asks for nothing; waking, the picture on show at the new size, then the next",
         "off=-,- small=- on=1s,2s off=-,- on=-,2s"},
        {"a resize in the dark over a black screen: nothing to fit again", "tick=2 off=-,- fail=B small=- on=-,3s"},
        {"a key in the dark ends the show", "off=-,- tick=- tick=-! key=E"},
    };
    static constexpr ClientSize kSmaller{800, 600};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Slideshow show;
        const PictureRequest first = show.Load(kScreen);
        ASSERT_EQ(show.Arrived(first.id, true), Slideshow::Arrival::Show);
        ClientSize size = kScreen;
        std::optional<PictureRequest> ticked;
        const auto name = [](const std::optional<PictureRequest>& r) {
            return r ? std::to_string(r->number) + (r->size == kSmaller ? "s" : "") : "-";
        };
        std::istringstream steps(c.steps);
        for (std::string step; steps >> step;) {
            const std::string verb = step.substr(0, step.find('='));
            std::string got;
            if (verb == "off" || verb == "on" || verb == "dim") {
                using enum DisplayPower;
                const auto wake = show.DisplayChanged(verb == "off" ? Off : verb == "on" ? On : Dimmed, size);
                got = name(wake.refit) + "," + name(wake.ahead);
            } else if (verb == "tick" || verb == "away") {
                const auto work = show.Tick(size, verb == "tick");
                if (work.show) ticked = work.show;
                got = name(work.show) + (work.rest ? "!" : "");
            } else if (verb == "small") {
                got = name(show.Refit(size = kSmaller));
            } else if (verb == "arrive" || verb == "fail") {
                got = "SBD"[static_cast<int>(show.Arrived(ticked->id, verb == "arrive"))];
            } else if (verb == "ahead") {
                got = name(show.Ahead(size));
            } else if (verb == "key") {
                got = show.EndsShow(Slideshow::Input::Key) ? "E" : "";
            }
            EXPECT_EQ(verb + "=" + got, step);
        }
    }
}

TEST(DisplayPower, ReadsTheDisplayStateAndIgnoresEverythingElse) {
    using enum DisplayPower;
    // From their documented text, laid out as Windows does (the first three fields little-endian):
    // GUID_CONSOLE_DISPLAY_STATE 6FE69556-704A-47A0-8F24-C28D936FDA47, GUID_MONITOR_POWER_ON
    // 02731015-4510-4526-99E6-E5A17EBD1AEA, GUID_ACDC_POWER_SOURCE 5D3E9A59-E9D5-4B00-A6BD-FF34FF516548
    // (0: on mains power), and the first as its text reads.
    const std::uint8_t guids[][16] = {
        {0x56, 0x95, 0xE6, 0x6F, 0x4A, 0x70, 0xA0, 0x47, 0x8F, 0x24, 0xC2, 0x8D, 0x93, 0x6F, 0xDA, 0x47},
        {0x15, 0x10, 0x73, 0x02, 0x10, 0x45, 0x26, 0x45, 0x99, 0xE6, 0xE5, 0xA1, 0x7E, 0xBD, 0x1A, 0xEA},
        {0x59, 0x9A, 0x3E, 0x5D, 0xD5, 0xE9, 0x00, 0x4B, 0xA6, 0xBD, 0xFF, 0x34, 0xFF, 0x51, 0x65, 0x48},
        {0x6F, 0xE6, 0x95, 0x56, 0x70, 0x4A, 0x47, 0xA0, 0x8F, 0x24, 0xC2, 0x8D, 0x93, 0x6F, 0xDA, 0x47},
    };
    enum { kConsole, kMonitor, kMains, kTextOrder };
    const struct {
        int guid;
        std::uint32_t length, value;
        std::optional<DisplayPower> want;
    } cases[] = {
        {kConsole, 4, 0, Off}, {kConsole, 4, 1, On}, {kConsole, 4, 2, Dimmed}, {kConsole, 4, 3, {}},
        {kMonitor, 4, 0, Off}, {kMonitor, 4, 1, On}, {kMonitor, 4, 2, {}},  // no dimmed on Windows 7
        {kConsole, 0, 0, {}},  {kConsole, 1, 0, {}}, {kMonitor, 3, 1, {}},    {kConsole, 8, 0, {}},
        {kConsole, 0xFFFFFFFF, 0, {}}, {kMains, 4, 0, {}}, {kTextOrder, 4, 0, {}},
    };
    for (const auto& c : cases) {
        std::uint8_t setting[24];
        std::memcpy(setting, guids[c.guid], 16);
        for (int i = 0; i < 4; ++i) {
            setting[16 + i] = static_cast<std::uint8_t>(c.length >> 8 * i);
            setting[20 + i] = static_cast<std::uint8_t>(c.value >> 8 * i);
        }
        EXPECT_EQ(DisplayPowerFromSetting(setting), c.want) << "row " << (&c - cases);
    }
    EXPECT_EQ(DisplayPowerFromSetting(nullptr), std::nullopt);
}

}  // namespace
}  // namespace lumora
