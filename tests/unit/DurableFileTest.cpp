// The durable append both platforms' records and unsent rows go through: a partial line left by
// a writer that died is ended before the next line, and a lock another process keeps is a
// refusal naming the file after a bounded wait, not a silent stall. Runs under Wine too.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "ledger/DurableFile.h"

namespace {

std::string ReadText(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

TEST(DurableFile, EndsAPartialLineAndRefusesALockHeldTooLong) {
    const auto dir = std::filesystem::temp_directory_path() /
                     ("kestrel-durable-" +
                      std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()));
    std::filesystem::create_directories(dir);
    const std::string path = (dir / "record.jsonl").string();
    std::ofstream(path, std::ios::binary) << "{\"cut";

    std::string error;
    const auto shared = DurableFile::Access::Shared;
    ASSERT_TRUE(DurableFile::AppendTo(path, "{\"a\":1}\n", shared, &error)) << error;
    EXPECT_EQ(ReadText(path), "{\"cut\n{\"a\":1}\n");

    {
        const auto holder = DurableFile::Open(path, shared, &error);
        ASSERT_TRUE(holder) << error;
        EXPECT_FALSE(DurableFile::Open(path, shared, &error, std::chrono::milliseconds(300)));
        EXPECT_NE(error.find(path + ": another process has held its lock"), std::string::npos)
            << error;
        // Readers still read every line while the lock is held.
        EXPECT_EQ(ReadText(path), "{\"cut\n{\"a\":1}\n");
    }
    ASSERT_TRUE(DurableFile::AppendTo(path, "{\"b\":2}\n", shared, &error)) << error;
    EXPECT_EQ(ReadText(path), "{\"cut\n{\"a\":1}\n{\"b\":2}\n");
    std::filesystem::remove_all(dir);
}

}  // namespace
