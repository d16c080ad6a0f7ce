// The event stream's file as a reader meets it: a FIFO whose reader stalls, a FIFO nobody
// reads, a link in a sticky folder, a new file's mode.
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "line/EventFile.h"

namespace fs = std::filesystem;

namespace {

std::string Event(const char* event, int seq) {
    std::string line = R"({"v":1,"event":")" + std::string(event) + R"(","seq":)" +
                       std::to_string(seq) +
                       R"(,"time":"2026-12-08T10:00:00.000Z","station":"s","lot":null,)"
                       R"("operator":null,"pad":")" +
                       std::string(150, 'x') + "\"}";
    return line;
}

fs::path Scratch(const char* name) {
    const fs::path dir = fs::path(::testing::TempDir()) / name;
    fs::remove_all(dir);
    fs::create_directories(dir);
    return dir;
}

// Reads lines from fd until one has `seq` (waits for it).
std::vector<nlohmann::json> ReadThrough(int fd, int seq) {
    std::vector<nlohmann::json> lines;
    std::string text;
    char buffer[65536];
    while (lines.empty() || lines.back()["seq"] != seq) {
        pollfd one{fd, POLLIN, 0};
        ::poll(&one, 1, 1000);
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n > 0) text.append(buffer, static_cast<std::size_t>(n));
        for (std::size_t end; (end = text.find('\n')) != std::string::npos;) {
            lines.push_back(nlohmann::json::parse(text.substr(0, end)));
            text.erase(0, end + 1);
        }
    }
    return lines;
}

}  // namespace

TEST(EventFile, AStalledReaderNeverHoldsTheStation) {
    const fs::path fifo = Scratch("events-stall") / "events";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    // Nobody reading: refused at once, not waited for.
    EventFile unread;
    std::string error;
    EXPECT_FALSE(unread.Open(fifo.string(), &error));
    EXPECT_NE(error.find("FIFO"), std::string::npos) << error;

    const int reader = ::open(fifo.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    ASSERT_GE(reader, 0);
    EventFile events;
    ASSERT_TRUE(events.Open(fifo.string(), &error)) << error;
    // Far more than the pipe holds while the reader takes nothing: every call returns.
    int seq = 0;
    int progress = 0;
    std::vector<int> others;
    for (int round = 0; round < 4; ++round) {
        for (int i = 0; i < 3000; ++i, ++progress) events.OnEvent(Event("progress", ++seq));
        events.OnEvent(Event("finished", ++seq));
        others.push_back(seq);
    }
    // The reader comes back: every other event is there, the progress it missed is counted.
    const std::vector<nlohmann::json> lines = ReadThrough(reader, seq);
    int previous = 0, progressSeen = 0, dropped = 0;
    std::vector<int> othersSeen;
    for (const nlohmann::json& line : lines) {
        EXPECT_GT(line["seq"].get<int>(), previous) << line;
        previous = line["seq"].get<int>();
        if (line["event"] == "progress") ++progressSeen;
        if (line["event"] == "finished") othersSeen.push_back(previous);
        if (line["event"] == "gap") {
            dropped += line["dropped"].get<int>();
            EXPECT_EQ(line["station"], "s");
        }
    }
    EXPECT_EQ(othersSeen, others);
    EXPECT_GT(dropped, 0);
    EXPECT_EQ(progressSeen + dropped, progress);

    // Stalled again at the end: the last line waits a moment, then the station goes on.
    for (int i = 0; i < 2000; ++i) events.OnEvent(Event("progress", ++seq));
    const auto closing = std::chrono::steady_clock::now();
    events.OnEvent(Event("closed", ++seq));
    EXPECT_LT(std::chrono::steady_clock::now() - closing, std::chrono::seconds(1));
    EXPECT_NE(events.Error().find("the reader took nothing"), std::string::npos) << events.Error();
    ::close(reader);
}

TEST(EventFile, NewFileIsPrivateToTheGroupAndNoLinkIsFollowedInAStickyFolder) {
    const fs::path dir = Scratch("events-mode");
    const mode_t old = ::umask(022);
    {
        EventFile events;
        std::string error;
        ASSERT_TRUE(events.Open((dir / "events.jsonl").string(), &error)) << error;
    }
    ::umask(old);
    struct stat info {};
    ASSERT_EQ(::stat((dir / "events.jsonl").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0640u);

    const fs::path sticky = dir / "tmp";
    fs::create_directory(sticky);
    ASSERT_EQ(::chmod(sticky.c_str(), 01777), 0);
    fs::create_symlink(dir / "elsewhere", sticky / "events.jsonl");
    EventFile events;
    std::string error;
    EXPECT_FALSE(events.Open((sticky / "events.jsonl").string(), &error));
    EXPECT_NE(error.find("symbolic link"), std::string::npos) << error;
    EXPECT_FALSE(fs::exists(dir / "elsewhere"));
}
