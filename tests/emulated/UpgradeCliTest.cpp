// kestrel-cli upgrade end to end: the real binary runs under kestrel-vdev, which attaches the
// virtual device through the umockdev door, and the tests read its exit status, its output and
// the device's request log and flash.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "image/FirmwareImage.h"
#include "tests/support/HexReference.h"
#include "tests/support/ImageBuilder.h"

namespace {

// Offset of a block in image and flash copies.
constexpr std::ptrdiff_t Block(std::ptrdiff_t block) {
    return block * std::ptrdiff_t{kBlockSize};
}

const std::string kBuild = KESTREL_BUILD_DIR;
const std::string kCli = kBuild + "/cli/kestrel-cli";
const std::string kVdev = kBuild + "/vdev/kestrel-vdev";

std::string ReadText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// A pseudo-terminal: the side the child sees and the side the test reads and types into.
struct Pty {
    int master = -1;
    int slave = -1;
    Pty() {
        master = ::posix_openpt(O_RDWR | O_NOCTTY);
        if (master < 0 || ::grantpt(master) != 0 || ::unlockpt(master) != 0) return;
        slave = ::open(::ptsname(master), O_RDWR | O_NOCTTY);
    }
    ~Pty() {
        if (slave >= 0) ::close(slave);
        if (master >= 0) ::close(master);
    }
    Pty(const Pty&) = delete;
    Pty& operator=(const Pty&) = delete;
};

class UpgradeCli : public ::testing::Test {
protected:
    struct Outcome {
        int status = -1;
        std::string out, err;
    };

    void SetUp() override {
        m_image = BuildRawImage({.startBlock = 16, .endBlock = 100});
        WriteBytes(Image(), m_image);
    }

    std::string Image() const { return m_dir.File("image.bin"); }
    std::string LogFile() const { return m_dir.File("device.log"); }
    std::string FlashFile() const { return m_dir.File("flash.bin"); }

    // Starts kestrel-vdev [vdevArgs] -- kestrel-cli upgrade [cliArgs] in its own process group,
    // as a shell starts a foreground job. stdin and stderr may be a terminal.
    pid_t Spawn(const std::vector<std::string>& vdevArgs, const std::vector<std::string>& cliArgs,
                int stdinFd = -1, int stderrFd = -1) {
        std::vector<std::string> args{kVdev, "--log", LogFile(), "--flash-out", FlashFile()};
        args.insert(args.end(), vdevArgs.begin(), vdevArgs.end());
        args.insert(args.end(), {"--", kCli, "upgrade"});
        args.insert(args.end(), cliArgs.begin(), cliArgs.end());
        std::vector<char*> argv;
        argv.reserve(args.size() + 1);
        for (auto& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);

        posix_spawn_file_actions_t files;
        posix_spawn_file_actions_init(&files);
        if (stdinFd >= 0)
            posix_spawn_file_actions_adddup2(&files, stdinFd, STDIN_FILENO);
        else
            posix_spawn_file_actions_addopen(&files, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
        posix_spawn_file_actions_addopen(&files, STDOUT_FILENO, m_dir.File("out").c_str(),
                                         O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (stderrFd >= 0)
            posix_spawn_file_actions_adddup2(&files, stderrFd, STDERR_FILENO);
        else
            posix_spawn_file_actions_addopen(&files, STDERR_FILENO, m_dir.File("err").c_str(),
                                             O_WRONLY | O_CREAT | O_TRUNC, 0644);
        posix_spawnattr_t attr;
        posix_spawnattr_init(&attr);
        posix_spawnattr_setpgroup(&attr, 0);
        posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETPGROUP);
        pid_t pid = -1;
        const int error = posix_spawn(&pid, kVdev.c_str(), &files, &attr, argv.data(), environ);
        posix_spawnattr_destroy(&attr);
        posix_spawn_file_actions_destroy(&files);
        EXPECT_EQ(error, 0) << "cannot start " << kVdev;
        return error == 0 ? pid : -1;
    }

    Outcome Finish(pid_t pid) {
        Outcome outcome;
        int status = 0;
        pid_t waited;
        do {
            waited = ::waitpid(pid, &status, 0);
        } while (waited < 0 && errno == EINTR);
        if (waited == pid && WIFEXITED(status)) outcome.status = WEXITSTATUS(status);
        outcome.out = ReadText(m_dir.File("out"));
        outcome.err = ReadText(m_dir.File("err"));
        return outcome;
    }

    Outcome Run(const std::vector<std::string>& vdevArgs, const std::vector<std::string>& cliArgs) {
        const pid_t pid = Spawn(vdevArgs, cliArgs);
        if (pid < 0) return {};
        return Finish(pid);
    }

    // Data bytes of every write the device accepted, and whether a start frame was among them.
    bool StartFrameSent() { return ReadText(LogFile()).find("[F6 00 FF") != std::string::npos; }

    TempDir m_dir;
    std::vector<std::uint8_t> m_image;
};

}  // namespace

TEST_F(UpgradeCli, FlashesTheImage) {
    const Outcome run = Run({}, {"--yes", Image()});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_NE(run.err.find("Current Version is V1.0.0, Continue?"), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("Finish OK!\n"), std::string::npos) << run.err;
    EXPECT_NE(run.out.find("84 of 84 blocks sent in "), std::string::npos) << run.out;

    const std::vector<std::uint8_t> flash = ReadBytes(FlashFile());
    ASSERT_EQ(flash.size(), kImageSize);
    EXPECT_TRUE(std::equal(m_image.begin() + Block(16), m_image.end(), flash.begin() + Block(16)));
}

TEST_F(UpgradeCli, FlashesAHexImage) {
    const std::string hex = m_dir.File("image.hex");
    const std::string text = HexTextOf(m_image);
    WriteBytes(hex, std::vector<std::uint8_t>(text.begin(), text.end()));
    const Outcome run = Run({}, {"--yes", hex});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_NE(run.err.find("Finish OK!\n"), std::string::npos) << run.err;
    const std::vector<std::uint8_t> flash = ReadBytes(FlashFile());
    ASSERT_EQ(flash.size(), kImageSize);
    EXPECT_TRUE(std::equal(m_image.begin() + Block(16), m_image.end(), flash.begin() + Block(16)));
}

TEST_F(UpgradeCli, DeclinedPromptsSendNoStartFrame) {
    // Typed at a terminal.
    Pty pty;
    ASSERT_GE(pty.slave, 0);
    const std::string answer = "cancel\n";
    ASSERT_EQ(::write(pty.master, answer.data(), answer.size()),
              static_cast<ssize_t>(answer.size()));
    const pid_t pid = Spawn({}, {Image()}, pty.slave);
    Outcome run = Finish(pid);
    EXPECT_EQ(run.status, 3) << run.err;
    EXPECT_NE(run.err.find("Current Version is V1.0.0, Continue? [ok/cancel]"), std::string::npos)
        << run.err;
    EXPECT_FALSE(StartFrameSent());

    // No terminal to ask and no --yes: the prompt is answered Cancel.
    run = Run({"--empty-version"}, {Image()});
    EXPECT_EQ(run.status, 3) << run.err;
    EXPECT_NE(run.err.find("Code Empty, Continue?"), std::string::npos) << run.err;
    EXPECT_FALSE(StartFrameSent());

    // An all-zero query header ends the run without a message.
    run = Run({"--zero-header"}, {"--yes", Image()});
    EXPECT_EQ(run.status, 3) << run.err;
    EXPECT_EQ(run.err, "");
}

TEST_F(UpgradeCli, FailuresShowTheDialogsMessages) {
    struct Case {
        std::vector<std::string> vdevArgs;
        std::vector<std::string> cliArgs;
        int status;
        const char* message;
    };
    const Case cases[] = {
        {{"--nonzero-byte5", "20"}, {"--yes"}, 1, "Send Error!\n"},
        {{"--unplug-after", "30"}, {"--yes"}, 1, "Send Error!\n"},
        {{"--fail-read", "1"}, {"--yes"}, 1, "Read Error!\n"},
        {{"--family", "XX"}, {"--yes"}, 1, "Chip Type Mismatch!\n"},
        {{"--boot", "9"}, {"--yes"}, 1, "Boot Type Mismatch!\n"},
        {{"--not-device"}, {"--yes"}, 1, "Device Open Fail!\n"},
        {{}, {"--yes", "--channel", "abc"}, 2, "“请填入一个正整数。”\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.message);
        std::vector<std::string> cliArgs = c.cliArgs;
        cliArgs.push_back(Image());
        const Outcome run = Run(c.vdevArgs, cliArgs);
        EXPECT_EQ(run.status, c.status) << run.err;
        EXPECT_NE(run.err.find(c.message), std::string::npos) << run.err;
    }
    // The summary counts the blocks the device accepted before the fault.
    const Outcome run = Run({"--nonzero-byte5", "20"}, {"--yes", Image()});
    EXPECT_NE(run.out.find("4 of 84 blocks sent in "), std::string::npos) << run.out;
}

TEST_F(UpgradeCli, CtrlCCancelsTheRunLikeTheCancelButton) {
    Pty pty;
    ASSERT_GE(pty.slave, 0);
    const pid_t pid = Spawn({}, {"--yes", Image()}, -1, pty.slave);
    ASSERT_GT(pid, 0);
    ::close(pty.slave);
    pty.slave = -1;

    // Watch the progress bar on the terminal until a few blocks are through, then press Ctrl-C
    // (the terminal signals the whole foreground job).
    std::string screen;
    const std::regex progress(R"(([0-9]+)/84 blocks)");
    bool interrupted = false;
    char buffer[512];
    for (;;) {
        const ssize_t n = ::read(pty.master, buffer, sizeof buffer);
        if (n <= 0) break;  // EIO once every writer is gone
        screen.append(buffer, static_cast<std::size_t>(n));
        std::smatch match;
        const std::string tail = screen.substr(screen.size() > 200 ? screen.size() - 200 : 0);
        if (!interrupted && std::regex_search(tail, match, progress) &&
            std::stoi(match[1].str()) >= 5) {
            ASSERT_EQ(::kill(-pid, SIGINT), 0);
            interrupted = true;
        }
    }
    const Outcome run = Finish(pid);
    ASSERT_TRUE(interrupted) << screen;
    EXPECT_EQ(run.status, 130) << screen;
    EXPECT_NE(screen.find("Interrupted: cancelling the upgrade"), std::string::npos) << screen;
    EXPECT_EQ(screen.find("Finish OK!"), std::string::npos) << screen;

    // The run stopped part-way: fewer blocks sent than the image holds, and said so.
    const std::regex summary(R"(([0-9]+) of 84 blocks sent in )");
    std::smatch match;
    ASSERT_TRUE(std::regex_search(run.out, match, summary)) << run.out;
    const int sent = std::stoi(match[1].str());
    EXPECT_GE(sent, 5);
    EXPECT_LT(sent, 84);
    const std::vector<std::uint8_t> flash = ReadBytes(FlashFile());
    ASSERT_EQ(flash.size(), kImageSize);
    EXPECT_TRUE(std::all_of(flash.begin() + Block(99), flash.begin() + Block(100),
                            [](std::uint8_t b) { return b == kErasedByte; }));
}

TEST_F(UpgradeCli, VerboseTracesEveryRequestAndLeavesTheMessagesAlone) {
    // No system bus here: the run goes on without a sleep inhibitor and the trace says so.
    ::setenv("DBUS_SYSTEM_BUS_ADDRESS", "unix:path=/nonexistent/system_bus_socket", 1);
    const Outcome quiet = Run({"--unplug-after", "20"}, {"--yes", Image()});
    const Outcome traced = Run({"--unplug-after", "20"}, {"--verbose", "--yes", Image()});
    ::unsetenv("DBUS_SYSTEM_BUS_ADDRESS");
    const std::string log = ReadText(LogFile());

    EXPECT_EQ(traced.status, quiet.status);
    std::string untraced;
    unsigned requestLines = 0;
    std::istringstream lines(traced.err);
    for (std::string line; std::getline(lines, line);) {
        if (line.rfind("trace: ", 0) != 0)
            untraced += line + "\n";
        else if (line.rfind("trace: #", 0) == 0)
            ++requestLines;
    }
    EXPECT_EQ(untraced, quiet.err);
    EXPECT_EQ(requestLines, std::count(log.begin(), log.end(), '\n'));  // one line per request
    EXPECT_TRUE(std::regex_search(
        traced.err,
        std::regex(R"(trace: #1 +0x87 identify +in +2 bytes  ok, SCSI status 0x00  [0-9.]+ ms)")))
        << traced.err;
    // The request the unplug broke, with what the OS said.
    EXPECT_TRUE(std::regex_search(
        traced.err,
        std::regex(
            R"(0x86 write +out +321 bytes  failed: No such device \(OS error 19\)  [0-9.]+ ms\nSend Error!)")))
        << traced.err;
    EXPECT_NE(traced.err.find("trace: sleep not inhibited (no system bus"), std::string::npos);
}
