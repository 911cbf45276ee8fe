#include "saver/PictureSchedule.h"

#include <gtest/gtest.h>

#include <vector>

namespace lumora {
namespace {

constexpr ClientSize kScreen{1024, 768};
constexpr ClientSize kSmaller{800, 600};
constexpr FileStamp kStamp{true, 4096, 133000000000000000ull};
using Use = PictureSchedule::Use;

// One step of a scenario. The preparation under way is the one the last Next gave.
struct Step {
    enum Kind { Show, Ahead, Next, Wanted, Finish } kind;
    int number = 0;             // Show, Ahead: the picture; Next: the one expected (0: none)
    ClientSize size = kScreen;  // Show, Ahead
    bool flag = false;          // Next: for the screen; Wanted: expected
    bool known = false;         // Next: with a stamp to compare
    Outcome outcome = Outcome::Picture;  // Finish
    Use use = Use::Drop;                 // Finish: expected
};
Step ShowOf(int n, ClientSize size = kScreen) { return {Step::Show, n, size}; }
Step AheadOf(int n, ClientSize size = kScreen) { return {Step::Ahead, n, size}; }
Step NextIs(int n, bool forShow = false, bool known = false) { return {Step::Next, n, kScreen, forShow, known}; }
Step Idle() { return {Step::Next}; }
Step StillWanted(bool wanted) { return {Step::Wanted, 0, kScreen, wanted}; }
Step Finish(Outcome outcome, Use use) { return {Step::Finish, 0, kScreen, false, false, outcome, use}; }

struct Scenario {
    const char* what;
    std::vector<Step> steps;
};

const Scenario kScenarios[] = {
    {"what the screen waits for comes before what is prepared ahead",
     {AheadOf(2), ShowOf(1), NextIs(1, true), Finish(Outcome::Picture, Use::Deliver), NextIs(2),
      Finish(Outcome::Picture, Use::Hold), Idle()}},
    {"a picture held from ahead stands for its tick while its file is unchanged",
     {AheadOf(2), NextIs(2), Finish(Outcome::Picture, Use::Hold), ShowOf(2), NextIs(2, true, true),
      Finish(Outcome::Unchanged, Use::DeliverHeld), Idle()}},
    {"a failure held from ahead is remembered, not decoded again",
     {AheadOf(2), NextIs(2), Finish(Outcome::NotAPicture, Use::Hold), ShowOf(2), NextIs(2, true, true),
      Finish(Outcome::Unchanged, Use::DeliverHeld)}},
    {"a file changed since it was prepared ahead is prepared afresh",
     {AheadOf(2), NextIs(2), Finish(Outcome::Picture, Use::Hold), ShowOf(2), NextIs(2, true, true),
      Finish(Outcome::Picture, Use::Deliver), ShowOf(2), NextIs(2, true, false)}},
    {"a picture held for another size is not used",
     {AheadOf(2), NextIs(2), Finish(Outcome::Picture, Use::Hold), ShowOf(2, kSmaller), NextIs(2, true, false)}},
    {"a newer Show supersedes the one under way",
     {ShowOf(1), NextIs(1, true), StillWanted(true), ShowOf(2), StillWanted(false),
      Finish(Outcome::Picture, Use::Drop), NextIs(2, true)}},
    {"what is prepared ahead stops when the screen asks for another picture",
     {AheadOf(3), NextIs(3), ShowOf(2), StillWanted(false), Finish(Outcome::Cancelled, Use::Drop),
      NextIs(2, true)}},
    {"what is prepared ahead goes on when the screen asks for that very picture",
     {AheadOf(3), NextIs(3), ShowOf(3), StillWanted(true), Finish(Outcome::Picture, Use::Hold),
      NextIs(3, true, true), Finish(Outcome::Unchanged, Use::DeliverHeld)}},
    {"what is prepared ahead stops when another picture is wanted ahead",
     {AheadOf(3), NextIs(3), AheadOf(4), StillWanted(false), Finish(Outcome::Picture, Use::Drop), NextIs(4)}},
    {"a picture held already is not prepared again",
     {AheadOf(3), NextIs(3), Finish(Outcome::Picture, Use::Hold), AheadOf(3), Idle()}},
    {"a held result the next Show cannot use goes, so that another can be prepared ahead",
     {AheadOf(2), NextIs(2), Finish(Outcome::Picture, Use::Hold), ShowOf(5), NextIs(5, true, false),
      Finish(Outcome::Picture, Use::Deliver), AheadOf(2), NextIs(2)}},
    // Once told to stop, the helper may answer late or be ended: what comes
    // back then says nothing of the file, even when the picture is wanted again.
    {"what is prepared ahead and given up for another size is prepared afresh when that size comes back",
     {AheadOf(3), NextIs(3), AheadOf(3, kSmaller), StillWanted(false), AheadOf(3), StillWanted(false),
      Finish(Outcome::NotAPicture, Use::Drop), NextIs(3)}},
    {"what is prepared ahead and given up is prepared afresh when the screen asks for it",
     {AheadOf(3), NextIs(3), ShowOf(3, kSmaller), StillWanted(false), ShowOf(3), StillWanted(false),
      Finish(Outcome::NotAPicture, Use::Drop), NextIs(3, true, false)}},
    {"a result asked for ahead is never delivered in place of a Show",
     {AheadOf(1), NextIs(1), Finish(Outcome::Picture, Use::Hold), AheadOf(2), NextIs(2),
      Finish(Outcome::NotAPicture, Use::Hold), Idle()}},
};

TEST(PictureSchedule, Scenarios) {
    for (const Scenario& s : kScenarios) {
        SCOPED_TRACE(s.what);
        PictureSchedule schedule;
        std::optional<Preparation> underWay;
        std::uint32_t id = 0;
        for (size_t i = 0; i < s.steps.size(); ++i) {
            const Step& step = s.steps[i];
            SCOPED_TRACE(::testing::Message() << "step " << i);
            switch (step.kind) {
            case Step::Show:
                schedule.Show({++id, static_cast<std::int16_t>(step.number), step.size});
                break;
            case Step::Ahead:
                schedule.Ahead({++id, static_cast<std::int16_t>(step.number), step.size});
                break;
            case Step::Next:
                underWay = schedule.Next();
                ASSERT_EQ(underWay.has_value(), step.number != 0);
                if (!underWay) break;
                EXPECT_EQ(underWay->request.number, step.number);
                EXPECT_EQ(underWay->forShow, step.flag);
                EXPECT_EQ(underWay->known.has_value(), step.known);
                if (step.known) {
                    EXPECT_EQ(*underWay->known, kStamp);
                }
                break;
            case Step::Wanted:
                ASSERT_TRUE(underWay.has_value());
                EXPECT_EQ(schedule.Wanted(*underWay), step.flag);
                break;
            case Step::Finish:
                ASSERT_TRUE(underWay.has_value());
                EXPECT_EQ(schedule.Finished(*underWay, step.outcome, kStamp), step.use);
                break;
            }
        }
    }
}

TEST(PictureSchedule, HeldResultIsKnownToBeAPictureOrNot) {
    PictureSchedule schedule;
    schedule.Ahead({1, 2, kScreen});
    const auto first = schedule.Next();
    ASSERT_TRUE(first.has_value());
    EXPECT_FALSE(schedule.holds());
    schedule.Finished(*first, Outcome::NotAPicture, {});
    EXPECT_TRUE(schedule.holds());
    EXPECT_FALSE(schedule.heldIsPicture());
    schedule.Ahead({2, 3, kScreen});
    const auto second = schedule.Next();
    EXPECT_FALSE(schedule.holds()) << "held until another is prepared in its place";
    schedule.Finished(*second, Outcome::Picture, kStamp);
    EXPECT_TRUE(schedule.heldIsPicture());
    schedule.Show({3, 4, kScreen});
    ASSERT_TRUE(schedule.Next().has_value());
    EXPECT_FALSE(schedule.holds()) << "dropped by a Show that cannot use it, before that Show is prepared";
}

TEST(GiveUp, TimeMemoryAndCancellationBudgets) {
    const struct {
        PreparationWatch watch;
        bool giveUp;
    } cases[] = {
        // 7 s, so a fresh helper has 3 s of the interval for the next picture
        {{7000, std::nullopt, 0}, false},
        {{7001, std::nullopt, 0}, true},
        {{50, 200, 0}, false},
        {{50, 201, 0}, true},
        // 1 GiB, a quarter under the job's 1.25 GiB
        {{50, std::nullopt, 1024ull << 20}, false},
        {{50, std::nullopt, (1024ull << 20) + 1}, true},
    };
    for (const auto& c : cases)
        EXPECT_EQ(GiveUp(c.watch), c.giveUp) << c.watch.elapsedMs << " ms, " << c.watch.helperBytes << " bytes";
    EXPECT_LT(kHelperMemoryBudget, kHelperMemoryLimit) << "the watch must fire before the job's limit";
    EXPECT_EQ(kHelperMemoryLimit, 1280ull << 20);
    EXPECT_FALSE(StartTooSlow(5000));
    EXPECT_TRUE(StartTooSlow(5001));
}

}  // namespace
}  // namespace lumora
