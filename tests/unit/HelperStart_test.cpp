#include "saver/HelperStart.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace lumora {
namespace {

// A start tried for the screen's picture `show`, and whether it worked.
struct Attempt {
    std::uint32_t show;
    bool works;
};

TEST(HelperLadder, StepsDownOnAFailedStartAndStartsOncePerPictureWhenSpent) {
    const struct {
        const char* what;
        std::vector<Attempt> attempts;
        Rung rung;
        bool spent;
        std::vector<std::uint32_t> mayStartFor;  // shows a further start may go ahead for
        std::vector<std::uint32_t> mayNotStartFor;
    } cases[] = {
        {"the first rung works", {{1, true}}, Rung::LowIntegrityInJob, false, {1, 2}, {}},
        {"one failure, one rung down at once", {{1, false}, {1, true}}, Rung::MediumIntegrityInJob, false, {1}, {}},
        {"three failures", {{1, false}, {1, false}, {1, false}}, Rung::OwnTokenNoJob, false, {1, 2}, {}},
        {"every rung fails: spent, nothing more for this picture",
         {{1, false}, {1, false}, {1, false}, {1, false}},
         Rung::OwnTokenNoJob,
         true,
         {2},
         {1}},
        {"spent, then one failed start for the next picture",
         {{1, false}, {1, false}, {1, false}, {1, false}, {2, false}},
         Rung::OwnTokenNoJob,
         true,
         {3},
         {2}},
        {"spent, then the last rung works again: restarts need no new picture",
         {{1, false}, {1, false}, {1, false}, {1, false}, {2, true}},
         Rung::OwnTokenNoJob,
         false,
         {2, 3},
         {}},
        {"a failure after the last rung worked spends it again",
         {{1, false}, {1, false}, {1, false}, {1, false}, {2, true}, {5, false}},
         Rung::OwnTokenNoJob,
         true,
         {6},
         {5}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        HelperLadder ladder;
        for (const Attempt& a : c.attempts) {
            ASSERT_TRUE(ladder.MayStart(a.show));
            ladder.Starting(a.show);
            if (a.works) {
                ladder.Started();
            } else {
                ladder.Failed();
            }
        }
        EXPECT_EQ(ladder.rung(), c.rung);
        EXPECT_EQ(ladder.spent(), c.spent);
        for (std::uint32_t show : c.mayStartFor) EXPECT_TRUE(ladder.MayStart(show)) << show;
        for (std::uint32_t show : c.mayNotStartFor) EXPECT_FALSE(ladder.MayStart(show)) << show;
    }
}

TEST(HelperExecutable, OnlyA32BitBuildInTheRealSystem32GoesThroughSysnative) {
    const std::wstring sys = L"C:\\Windows\\system32", win = L"C:\\Windows";
    const struct {
        const wchar_t* module;
        bool wow64;
        const wchar_t* expected;
    } cases[] = {
        // 32-bit under WOW64
        {L"C:\\Windows\\System32\\Lumora.scr", true, L"C:\\Windows\\Sysnative\\Lumora.scr"},
        {L"C:\\WINDOWS\\SYSTEM32\\LUMORA.SCR", true, L"C:\\Windows\\Sysnative\\LUMORA.SCR"},
        {L"\\\\?\\C:\\Windows\\System32\\Lumora.scr", true, L"C:\\Windows\\Sysnative\\Lumora.scr"},
        {L"C:\\Windows\\System32\\Savers\\Lumora.scr", true, L"C:\\Windows\\Sysnative\\Savers\\Lumora.scr"},
        {L"C:\\Windows\\SysWOW64\\Lumora.scr", true, L"C:\\Windows\\SysWOW64\\Lumora.scr"},
        {L"C:\\Windows\\System32\\spool\\Lumora.scr", true, L"C:\\Windows\\System32\\spool\\Lumora.scr"},
        {L"C:\\Windows\\System32\\drivers\\etc\\Lumora.scr", true, L"C:\\Windows\\System32\\drivers\\etc\\Lumora.scr"},
        {L"C:\\Windows\\System32x\\Lumora.scr", true, L"C:\\Windows\\System32x\\Lumora.scr"},
        {L"D:\\Savers\\Lumora.scr", true, L"D:\\Savers\\Lumora.scr"},
        {L"\\\\server\\share\\Lumora.scr", true, L"\\\\server\\share\\Lumora.scr"},
        // 64-bit, or 32-bit on 32-bit Windows: never redirected
        {L"C:\\Windows\\System32\\Lumora.scr", false, L"C:\\Windows\\System32\\Lumora.scr"},
        {L"C:\\Windows\\SysWOW64\\Lumora.scr", false, L"C:\\Windows\\SysWOW64\\Lumora.scr"},
        {L"D:\\Savers\\Lumora.scr", false, L"D:\\Savers\\Lumora.scr"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << std::string(c.module, c.module + std::wcslen(c.module)) << " wow64 "
                                        << c.wow64);
        EXPECT_EQ(HelperExecutable(c.module, sys, win, c.wow64), c.expected);
    }
    // A trailing backslash on either folder changes nothing.
    EXPECT_EQ(HelperExecutable(L"C:\\Windows\\System32\\Lumora.scr", L"C:\\Windows\\System32\\", L"C:\\Windows\\", true),
              L"C:\\Windows\\Sysnative\\Lumora.scr");
}

TEST(JobEntry, AtCreationWhereThePlatformTakesItElseBreakawayWhereAllowed) {
    const struct {
        bool jobList, saverInJob, breakaway;
        JobEntry expected;
    } cases[] = {
        {true, false, false, JobEntry::AtCreation},
        {true, true, false, JobEntry::AtCreation},
        {true, true, true, JobEntry::AtCreation},
        {false, false, false, JobEntry::AssignAfterCreation},
        {false, false, true, JobEntry::AssignAfterCreation},
        {false, true, true, JobEntry::BreakawayThenAssign},
        {false, true, false, JobEntry::AssignAfterCreation},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ChooseJobEntry(c.jobList, c.saverInJob, c.breakaway), c.expected)
            << c.jobList << c.saverInJob << c.breakaway;
}

TEST(HelperTrail, NamesTheStepTheCodeAndTheRung) {
    EXPECT_EQ(TrailFailed(L"CreateProcessAsUserW failed", 5, Rung::LowIntegrityInJob),
              L"Lumora picture helper: CreateProcessAsUserW failed, code 0x00000005, rung 1 (restricted token, low "
              L"integrity, in its job)");
    EXPECT_EQ(TrailFailed(L"ended before it was ready", 0xC0000142, Rung::OwnTokenNoJob),
              L"Lumora picture helper: ended before it was ready, code 0xC0000142, rung 4 (the user's own token, no "
              L"job)");
    EXPECT_EQ(TrailRung(Rung::MediumIntegrityInJob),
              L"Lumora picture helper: starting on rung 2 (restricted token, medium integrity, in its job)");
}

}  // namespace
}  // namespace lumora
