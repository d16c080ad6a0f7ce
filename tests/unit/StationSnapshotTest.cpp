// The station's snapshot and ring as the pages read them, fed with event lines as the stream
// writes them.
#include <gtest/gtest.h>

#include <fstream>
#include <set>

#include <nlohmann/json.hpp>

#include "web/LineView.h"
#include "web/StationSnapshot.h"

using Json = nlohmann::json;

namespace {

class Feed {
public:
    explicit Feed(StationSnapshot& view) : m_view(view) {}
    void operator()(Json event) {
        event["v"] = 1;
        event["seq"] = ++m_seq;
        event["time"] = "2026-12-08T10:00:00.000Z";
        event["station"] = "bench-1";
        m_view.OnEvent(event.dump());
    }
    void Restart() { m_seq = 0; }

private:
    StationSnapshot& m_view;
    std::uint64_t m_seq = 0;
};

Json Unit(const Json& state, const std::string& unit) {
    for (const Json& u : state["units"])
        if (u["unit"] == unit) return u;
    return nullptr;
}

void OneRun(Feed& feed, const std::string& unit, const std::string& port,
            const std::string& result) {
    feed({{"event", "attached"},
          {"unit", unit},
          {"serial", unit},
          {"port", port},
          {"drive", "sdb"},
          {"duplicateSerial", false}});
    feed({{"event", "started"}, {"run", "r-" + unit}, {"unit", unit}, {"blocksTotal", 496}});
    feed({{"event", "finished"},
          {"run", "r-" + unit},
          {"unit", unit},
          {"result", result},
          {"message", result == "ok" ? "" : "Send Error!"},
          {"blocksSent", 12},
          {"seconds", 1.5}});
}

}  // namespace

TEST(StationSnapshot, SnapshotFollowsUnitsCountsAndAlarms) {
    StationSnapshot view(std::vector<WebSlot>{{"1-1.4", "Slot 3"}});
    Feed feed(view);
    feed({{"event", "opened"},
          {"file", "fw.bin"},
          {"sha256", std::string(64, 'a')},
          {"lot", "WO-7"},
          {"operator", nullptr}});
    feed({{"event", "attached"},
          {"unit", "A@1-1.4"},
          {"serial", "A"},
          {"port", "1-1.4"},
          {"drive", "sdb"},
          {"duplicateSerial", false}});
    Json state = Json::parse(view.StateJson());
    EXPECT_EQ(state["v"], 1);
    EXPECT_EQ(state["file"], "fw.bin");
    EXPECT_EQ(state["lot"], "WO-7");  // the shift's, for the page's header
    EXPECT_TRUE(state["operator"].is_null());
    EXPECT_EQ(Unit(state, "A@1-1.4")["slot"], "Slot 3");
    EXPECT_EQ(Unit(state, "A@1-1.4")["state"], "waiting");

    feed({{"event", "started"}, {"run", "r1"}, {"unit", "A@1-1.4"}, {"blocksTotal", 496}});
    feed({{"event", "progress"},
          {"run", "r1"},
          {"unit", "A@1-1.4"},
          {"blocksSent", 100},
          {"blocksTotal", 496},
          {"seconds", 0.8}});
    state = Json::parse(view.StateJson());
    EXPECT_EQ(Unit(state, "A@1-1.4")["state"], "flashing");
    EXPECT_EQ(Unit(state, "A@1-1.4")["blocksSent"], 100);
    EXPECT_EQ(state["counts"]["flashing"], 1);

    feed({{"event", "finished"},
          {"run", "r1"},
          {"unit", "A@1-1.4"},
          {"result", "failed"},
          {"message", "Send Error!"},
          {"blocksSent", 100},
          {"seconds", 0.9}});
    OneRun(feed, "B@1-1.4", "1-1.4", "failed");
    OneRun(feed, "C@2-1", "2-1", "ok");
    OneRun(feed, "D@2-2", "2-2", "declined");
    feed({{"event", "skipped"},
          {"unit", "C@2-1"},
          {"reason", "done"},
          {"message", "already upgraded"}});
    feed({{"event", "attached"},
          {"unit", "E@2-3"},
          {"serial", "E"},
          {"port", "2-3"},
          {"drive", "sde"},
          {"duplicateSerial", true}});
    feed({{"event", "warning"}, {"code", "database-away"}, {"message", "no answer"}});
    feed({{"event", "warning"}, {"code", "image-changed"}, {"message", "fw.bin changed"}});
    state = Json::parse(view.StateJson());
    EXPECT_EQ(Unit(state, "A@1-1.4")["message"], "Send Error!");
    EXPECT_EQ(Unit(state, "C@2-1")["state"], "left alone");
    EXPECT_EQ(state["counts"]["ok"], 1);
    EXPECT_EQ(state["counts"]["failed"], 2);  // a declined unit is no attempt
    EXPECT_DOUBLE_EQ(state["counts"]["yieldPercent"].get<double>(), 100.0 / 3);
    std::set<std::string> codes;
    for (const Json& alarm : state["alarms"]) codes.insert(alarm["code"]);
    EXPECT_EQ(codes, (std::set<std::string>{"slot-failing", "duplicate-serial", "database-away",
                                            "image-changed"}));

    // The database back, and an ok run in the failing slot, end their alarms.
    feed({{"event", "warning"}, {"code", "database-back"}, {"message", "answers again"}});
    OneRun(feed, "F@1-1.4", "1-1.4", "ok");
    state = Json::parse(view.StateJson());
    codes.clear();
    for (const Json& alarm : state["alarms"]) codes.insert(alarm["code"]);
    EXPECT_EQ(codes, (std::set<std::string>{"duplicate-serial", "image-changed"}));

    // The station started again: a new stream, a new snapshot.
    feed.Restart();
    feed({{"event", "opened"}, {"file", "fw2.bin"}, {"sha256", std::string(64, 'b')}});
    state = Json::parse(view.StateJson());
    EXPECT_EQ(state["units"].size(), 0u);
    EXPECT_EQ(state["counts"]["ok"], 0);
    EXPECT_EQ(state["seq"], 1);
}

TEST(StationSnapshot, RingReplaysAfterAGivenSeqAndRestartsWithANewStream) {
    StationSnapshot view({}, 4);
    Feed feed(view);
    for (int i = 0; i < 6; ++i) feed({{"event", "warning"}, {"code", "x"}, {"message", ""}});
    auto seqs = [&](std::uint64_t after) {
        std::vector<std::uint64_t> out;
        for (const auto& entry : view.EventsAfter(after, std::chrono::milliseconds(0)))
            out.push_back(entry.seq);
        return out;
    };
    EXPECT_EQ(seqs(4), (std::vector<std::uint64_t>{5, 6}));
    EXPECT_EQ(seqs(0), (std::vector<std::uint64_t>{3, 4, 5, 6}));  // the ring holds four
    EXPECT_TRUE(seqs(6).empty());
    // A client of the station before it started again names a seq beyond the new stream.
    feed.Restart();
    feed({{"event", "opened"}, {"file", "fw.bin"}, {"sha256", ""}});
    EXPECT_EQ(seqs(6), (std::vector<std::uint64_t>{1}));
}

TEST(StationSnapshot, SlotsFileNamesPortsAndRefusesMalformedLines) {
    const std::string path = ::testing::TempDir() + "/slots.txt";
    {
        std::ofstream out(path);
        out << "# bench 1\n1-1.4   Slot 3\r\n\n2-1 Left front\n";
    }
    std::vector<WebSlot> slots;
    std::string error;
    ASSERT_TRUE(ReadSlotsFile(path, &slots, &error)) << error;
    ASSERT_EQ(slots.size(), 2u);
    EXPECT_EQ(slots[0].label, "Slot 3");
    EXPECT_EQ(slots[1].port, "2-1");
    EXPECT_EQ(slots[1].label, "Left front");
    {
        std::ofstream out(path);
        out << "1-1 Slot 1\n1-2\n";
    }
    slots.clear();
    EXPECT_FALSE(ReadSlotsFile(path, &slots, &error));
    EXPECT_NE(error.find("line 2"), std::string::npos) << error;
}

TEST(LineView, StationsYieldPerImageAndAlarmsFromTheDaysRuns) {
    auto row = [](std::string station, std::string port, std::string result, std::string sha,
                  std::string when) {
        RunRow r;
        r.run = station + port + when;
        r.station = station;
        r.unit = "u" + when + "@" + port;
        r.serial = "u" + when;
        r.port = port;
        r.file = sha + ".bin";
        r.sha256 = sha + std::string(60, '0');
        r.startedAt = when;
        if (!result.empty()) r.finishedAt = when;
        r.result = result;
        r.endBlock = 496;
        return r;
    };
    const std::vector<RunRow> rows = {
        row("A", "1-1", "failed", "aaaa", "2026-12-08T08:00:01"),
        row("A", "1-1", "failed", "aaaa", "2026-12-08T08:00:02"),
        row("A", "1-2", "ok", "aaaa", "2026-12-08T08:00:03"),
        row("B", "1-1", "ok", "aaaa", "2026-12-08T08:00:04"),
        row("B", "1-1", "ok", "bbbb", "2026-12-08T08:00:05"),
        row("B", "1-2", "", "bbbb", "2026-12-08T08:00:06"),
    };
    const Json line = Json::parse(LineView::Build(rows, "2026-12-08T08:01:00Z", ""));
    ASSERT_EQ(line["stations"].size(), 2u);
    const Json& a = line["stations"][0];
    EXPECT_EQ(a["counts"]["ok"], 1);
    EXPECT_EQ(a["counts"]["failed"], 2);
    const Json& b = line["stations"][1];
    EXPECT_EQ(b["images"].size(), 2u);
    EXPECT_EQ(b["units"][0]["state"], "flashing");  // newest first
    std::multiset<std::string> codes;
    for (const Json& alarm : line["alarms"]) codes.insert(alarm["code"]);
    EXPECT_EQ(codes, (std::multiset<std::string>{"slot-failing", "image-changed"}));
    const Json away = Json::parse(LineView::Build(rows, "2026-12-08T08:01:00Z", "timeout"));
    EXPECT_EQ(away["database"], "away");
    EXPECT_EQ(away["alarms"][0]["code"], "database-away");
}
