// kestrel-cli gen-bin, gen-body and info on HEX files: what they write and how they exit.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "cli/ConsoleDialog.h"
#include "tests/support/HexReference.h"
#include "tests/support/ImageBuilder.h"

namespace {

struct CliRun {
    int status = -1;
    std::string out;
    std::string err;
};

std::string Slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

CliRun Cli(const TempDir& dir, const std::string& arguments) {
    const std::string out = dir.File("stdout.txt"), err = dir.File("stderr.txt");
    const std::string command =
        "'" + std::string(KESTREL_CLI) + "' " + arguments + " >'" + out + "' 2>'" + err + "'";
    const int raw = std::system(command.c_str());
    CliRun run;
    run.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    run.out = Slurp(out);
    run.err = Slurp(err);
    std::filesystem::remove(out);
    std::filesystem::remove(err);
    return run;
}

TEST(GenerateCommands, WriteTheFilesOfAHexImageAndExitZero) {
    TempDir dir;
    const auto raw = BuildRawImage({});
    const std::string text = HexTextOf(raw);
    WriteBytes(dir.File("fw.hex"), {text.begin(), text.end()});

    CliRun run = Cli(dir, "gen-bin '" + dir.File("fw.hex") + "' '" + dir.File("out") + "'");
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(ReadBytes(dir.File("out_BURN.bin")), raw);
    EXPECT_EQ(ReadBytes(dir.File("out.bin")).size(), raw.size());

    run = Cli(dir, "gen-body --type hex '" + dir.File("fw.hex") + "' '" + dir.File("body") + "'");
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(ReadBytes(dir.File("body.bin")),
              std::vector<std::uint8_t>(raw.begin() + 16384, raw.end()));
}

TEST(GenerateCommands, FailuresExitOneAndUsageErrorsTwo) {
    TempDir dir;
    ImageLayout layout;
    layout.bootArea = false;
    WriteBytes(dir.File("noboot.bin"), BuildRawImage(layout));

    CliRun run = Cli(dir, "gen-bin '" + dir.File("noboot.bin") + "' '" + dir.File("out") + "'");
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, "Bin Incomplete!\n");

    run =
        Cli(dir, "gen-body --type hex '" + dir.File("noboot.bin") + "' '" + dir.File("out") + "'");
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, "File read error!\n");

    run = Cli(dir, "gen-body '" + dir.File("missing.hex") + "' '" + dir.File("out") + "'");
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, "File open error!\n");

    EXPECT_EQ(Cli(dir, "gen-bin '" + dir.File("noboot.bin") + "'").status, 2);
    EXPECT_EQ(Cli(dir, "gen-body --type elf a b").status, 2);
    EXPECT_FALSE(std::filesystem::exists(dir.File("out.bin")));
}

TEST(InfoCommand, ReportsTheBytesAHexFileHadOutsideTheImage) {
    TempDir dir;
    std::string text = HexTextOf(BuildRawImage({}));
    text.insert(0, HexRecord(0, 0x04, {0x08, 0x08}) + HexRecord(0, 0x00, {1, 2, 3, 4, 5}));
    WriteBytes(dir.File("fw.hex"), {text.begin(), text.end()});
    const CliRun run = Cli(dir, "info --json '" + dir.File("fw.hex") + "'");
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_NE(run.out.find("\"skippedBytes\": 5"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("\"type\": \"hex\""), std::string::npos) << run.out;
}

}  // namespace
