// Reading JSON Lines records from every kind of station and the yield report over them.

#include <gtest/gtest.h>

#include <string>

#include "ledger/RunHistory.h"
#include "ledger/YieldReport.h"

namespace {

std::string Started(const std::string& run, const std::string& time, const std::string& station,
                    const std::string& serial, const std::string& port) {
    return R"({"event":"started","run":")" + run + R"(","time":")" + time + R"(","station":")" +
           station + R"(","unit":")" + serial + "@" + port + R"(","serial":")" + serial +
           R"(","port":")" + port +
           R"(","drive":"sdb","file":"/img/fw.bin","sha256":"abc123","type":"bin","startBlock":16,)"
           R"("endBlock":100,"family":"ST","chipId":"41:42","bootType":1,"versionBefore":"V1"})";
}

std::string Finished(const std::string& run, const std::string& time, const std::string& station,
                     const std::string& serial, const std::string& port, const std::string& result,
                     const std::string& message) {
    return R"({"time":")" + time + R"(","drive":"sdb","serial":")" + serial +
           R"(","file":"/img/fw.bin","sha256":"abc123","type":"bin","startBlock":16,"endBlock":100,)"
           R"("blocksSent":84,"seconds":7.5,"result":")" +
           result + R"(","message":")" + message + R"(","event":"finished","run":")" + run +
           R"(","startedAt":null,"station":")" + station + R"(","unit":")" + serial + "@" + port +
           R"(","port":")" + port + R"(","duplicateSerial":false})";
}

// Runs of one shift as two stations recorded them, in the order a reader may meet them: a final
// line can come before its started line (another file), an older line has no event and no run,
// a line was cut short by a crash, and one run never ended.
RunHistory Shift() {
    RunHistory history;
    EXPECT_TRUE(history.AddJsonLine(
        Finished("r1", "2026-12-08T05:10:08Z", "A", "KV1", "1-1", "failed", "Send Error!"), "f:1"));
    EXPECT_TRUE(
        history.AddJsonLine(Started("r1", "2026-12-08T05:10:00Z", "A", "KV1", "1-1"), "f:2"));
    EXPECT_TRUE(
        history.AddJsonLine(Started("r2", "2026-12-08T07:00:00Z", "B", "KV1", "2-1"), "f:3"));
    EXPECT_TRUE(history.AddJsonLine(
        Finished("r2", "2026-12-08T07:00:08Z", "B", "KV1", "2-1", "failed", "Send Error!"), "f:4"));
    EXPECT_TRUE(history.AddJsonLine(
        R"({"time":"2026-12-08T04:59:00Z","serial":"OLD7","sha256":"abc123","file":"fw.bin",)"
        R"("result":"ok","message":"Finish OK!","blocksSent":84,"seconds":7.5})",
        "old.jsonl:1"));
    EXPECT_TRUE(
        history.AddJsonLine(Started("r3", "2026-12-08T07:20:00Z", "B", "KV2", "2-2"), "f:5"));
    EXPECT_TRUE(history.AddJsonLine(
        Finished("r4", "2026-12-08T07:30:00Z", "A", "KV3", "1-1", "declined", ""), "f:6"));
    EXPECT_FALSE(history.AddJsonLine(R"({"event":"finished","run":"r5","ti)", "f:7"));
    return history;
}

TEST(YieldReport, MergesStartedAndFinalLinesAndCountsEveryOutcome) {
    const RunHistory history = Shift();
    const auto rows = history.Rows();
    ASSERT_EQ(rows.size(), 5u);
    // The older line is the earliest run, a final line without run id of its own.
    EXPECT_EQ(rows[0].run, "old.jsonl:1");
    EXPECT_EQ(rows[0].unit, "OLD7@");
    EXPECT_FALSE(rows[0].Interrupted());
    // r1's started line, read after its final line, still gives it its start.
    EXPECT_EQ(rows[1].run, "r1");
    EXPECT_EQ(rows[1].startedAt.value_or(""), "2026-12-08T05:10:00Z");
    EXPECT_EQ(rows[1].result, "failed");

    const YieldReport report(rows, 1);
    const YieldCounts& totals = report.Totals();
    EXPECT_EQ(totals.runs, 5);
    EXPECT_EQ(totals.ok, 1);
    EXPECT_EQ(totals.failed, 2);
    EXPECT_EQ(totals.declined, 1);
    EXPECT_EQ(totals.interrupted, 1);
    // Declined runs never tried the unit.
    EXPECT_DOUBLE_EQ(totals.YieldPercent(), 25.0);

    const auto json = report.ToJson();
    EXPECT_EQ(json["skippedLines"], 1);
    // Every hour from the first run to the last, the idle one too.
    ASSERT_EQ(json["byHour"].size(), 4u);
    EXPECT_EQ(json["byHour"][0]["hour"], "2026-12-08T04:00Z");
    EXPECT_EQ(json["byHour"][2]["runs"], 0);
    EXPECT_EQ(json["failuresByMessage"][0]["message"], "Send Error!");
    EXPECT_EQ(json["failuresByMessage"][0]["runs"], 2);
    // KV1 failed at A and again, in another fixture, at B: one unit by its serial.
    ASSERT_EQ(json["repeatFailures"].size(), 1u);
    EXPECT_EQ(json["repeatFailures"][0]["unit"], "KV1");
    EXPECT_EQ(json["repeatFailures"][0]["stations"], (nlohmann::json{"A", "B"}));
    ASSERT_EQ(json["interrupted"].size(), 1u);
    EXPECT_EQ(json["interrupted"][0]["run"], "r3");
    int stationRuns = 0;
    for (const auto& station : json["byStation"]) stationRuns += station["runs"].get<int>();
    EXPECT_EQ(stationRuns, 5);

    const std::string text = report.ToText();
    EXPECT_NE(text.find("Runs: 5 (1 ok, 2 failed, 0 cancelled, 1 declined, 1 interrupted), "
                        "yield 25.0 %"),
              std::string::npos);
}

TEST(YieldReport, HtmlPageStandsAloneAndEscapesWhatRecordsSay) {
    RunHistory history;
    ASSERT_TRUE(history.AddJsonLine(Finished("r1", "2026-12-08T05:10:08Z", "<b>A&B</b>", "KV1",
                                             "1-1", "failed", "Send <Error>!"),
                                    "f:1"));
    ASSERT_TRUE(history.AddJsonLine(
        Finished("r2", "2026-12-08T05:20:08Z", "A", "KV2", "1-1", "ok", "Finish OK!"), "f:2"));
    const std::string page = YieldReport(history.Rows()).ToHtml();
    EXPECT_EQ(page.find("<script"), std::string::npos);
    // Nothing to fetch: no sources, links or style sheets from elsewhere.
    EXPECT_EQ(page.find("src="), std::string::npos);
    EXPECT_EQ(page.find("href="), std::string::npos);
    EXPECT_EQ(page.find("<b>A&B</b>"), std::string::npos);
    EXPECT_NE(page.find("&lt;b&gt;A&amp;B&lt;/b&gt;"), std::string::npos);
    EXPECT_NE(page.find("Send &lt;Error&gt;!"), std::string::npos);
    // One hour, one ok bar below one failed bar.
    EXPECT_NE(page.find("<rect class=\"ok\" x="), std::string::npos);
    EXPECT_NE(page.find("<rect class=\"failed\" x="), std::string::npos);
    EXPECT_NE(page.find("1 ok, 1 failed</title>"), std::string::npos);
}

TEST(YieldReport, TextFromTheRecordsReachesTheTerminalPrintableOnly) {
    // A station that named itself with escape sequences (clear the screen, retitle the
    // window), a message with a C1 control and a byte that is not UTF-8.
    RunHistory history;
    ASSERT_TRUE(history.AddJsonLine(
        Finished("r1", "2026-12-08T05:10:08Z", "\\u001b]0;owned\\u0007A\\u001b[2J", "KV1", "1-1",
                 "failed", "Send\\u009b31m Error \\u00e9\\u4e2d"),
        "f:1"));
    const YieldReport report(history.Rows());
    for (const std::string& out : {report.ToText(), report.ToHtml()}) {
        for (const char c : out)
            EXPECT_TRUE(c == '\n' || static_cast<unsigned char>(c) >= 0x20) << static_cast<int>(c);
        EXPECT_EQ(out.find("\xc2\x9b"), std::string::npos);
        EXPECT_NE(out.find("?]0;owned?A?[2J"), std::string::npos);
        EXPECT_NE(out.find("Error \xc3\xa9\xe4\xb8\xad"), std::string::npos);  // other scripts stay
    }
}

}  // namespace
