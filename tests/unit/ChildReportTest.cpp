// The child report lines: what a child writes its parent reads back, and nothing else is taken
// for a report.
#include "line/ChildReport.h"

#include <gtest/gtest.h>

TEST(ChildReport, LinesReadBackAsWrittenAndOtherTextIsNoReport) {
    const auto read = [](const std::string& line) {
        EXPECT_EQ(line.back(), '\n');
        return ChildReport::Parse(line.substr(0, line.size() - 1));
    };
    const auto message = read(ChildReport::MessageLine("Current Version is @progress 1 2"));
    ASSERT_TRUE(message);
    EXPECT_EQ(message->kind, ChildReport::Kind::Message);
    EXPECT_EQ(message->message, "Current Version is @progress 1 2");

    const auto run = read(ChildReport::RunLine("0123abcd"));
    ASSERT_TRUE(run);
    EXPECT_EQ(run->kind, ChildReport::Kind::Run);
    EXPECT_EQ(run->message, "0123abcd");
    const auto started = read(ChildReport::StartedLine(16, 36, " V2.0 beta"));
    ASSERT_TRUE(started);
    EXPECT_EQ(started->kind, ChildReport::Kind::Started);
    EXPECT_EQ(started->startBlock, 16u);
    EXPECT_EQ(started->endBlock, 36u);
    EXPECT_EQ(started->version, " V2.0 beta");
    const auto empty = read(ChildReport::StartedLine(0, 512, ""));
    ASSERT_TRUE(empty);
    EXPECT_EQ(empty->version, "");
    const auto result = read(ChildReport::ResultLine("empty-query-reply"));
    ASSERT_TRUE(result);
    EXPECT_EQ(result->kind, ChildReport::Kind::Result);
    EXPECT_EQ(result->message, "empty-query-reply");
    EXPECT_EQ(result->detail, "");
    const auto refused =
        read(ChildReport::ResultLine("block-refused", "block 17, status 01 00 00 00 00 00 00 00"));
    ASSERT_TRUE(refused);
    EXPECT_EQ(refused->message, "block-refused");
    EXPECT_EQ(refused->detail, "block 17, status 01 00 00 00 00 00 00 00");

    const auto progress = read(ChildReport::ProgressLine(17, 84));
    ASSERT_TRUE(progress);
    EXPECT_EQ(progress->kind, ChildReport::Kind::Progress);
    EXPECT_EQ(progress->done, 17);
    EXPECT_EQ(progress->total, 84);

    for (UpgradeOutcome outcome :
         {UpgradeOutcome::Finished, UpgradeOutcome::Failed, UpgradeOutcome::Declined,
          UpgradeOutcome::StoppedSilently, UpgradeOutcome::Cancelled}) {
        const auto ended = read(ChildReport::EndedLine(outcome, 84, 7.5124));
        ASSERT_TRUE(ended) << UpgradeOutcomeName(outcome);
        EXPECT_EQ(ended->kind, ChildReport::Kind::Ended);
        EXPECT_EQ(ended->outcome, outcome);
        EXPECT_EQ(ended->blocks, 84);
        EXPECT_DOUBLE_EQ(ended->seconds, 7.512);
    }

    for (StartVerdict verdict :
         {StartVerdict::Deferred, StartVerdict::Refused, StartVerdict::Failed}) {
        const auto withheld =
            read(ChildReport::EndedLine(UpgradeOutcome::Withheld, 0, 0.0, verdict));
        ASSERT_TRUE(withheld) << StartVerdictName(verdict);
        EXPECT_EQ(withheld->outcome, UpgradeOutcome::Withheld);
        EXPECT_EQ(withheld->startVerdict, verdict);
    }

    for (const char* text :
         {"84 of 84 blocks sent in 7.512 s (transfers 0.1 s)", "@progress 1", "@progress 1 2 3",
          "@ended won 1 2.0", "@ended failed 0 0 maybe", "@messages x", "@started 1 2",
          "@started x 2 V", "@run ", "@run a b", "@result ", "@result  a", ""})
        EXPECT_FALSE(ChildReport::Parse(text)) << text;
}
