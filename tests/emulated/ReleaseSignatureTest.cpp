// Signed releases end to end: keys made here by OpenSSH's own ssh-keygen, images signed with
// `ssh-keygen -Y sign`, and kestrel-cli upgrade under kestrel-vdev refusing each kind of bad
// signature before the start frame, with its own words, and flashing the good one.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/ImageBuilder.h"

namespace {

const std::string kBuild = KESTREL_BUILD_DIR;
const std::string kCli = kBuild + "/cli/kestrel-cli";
const std::string kVdev = kBuild + "/vdev/kestrel-vdev";
constexpr char kSshKeygen[] = "/usr/bin/ssh-keygen";

std::string ReadText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

void WriteText(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}

struct Outcome {
    int status = -1;
    std::string out, err;
};

// Runs args[0] with stdin from /dev/null (or stdinPath), stdout and stderr into files of dir,
// and env added to the test's environment.
Outcome Spawn(const TempDir& dir, const std::vector<std::string>& args,
              const std::vector<std::string>& env = {},
              const std::string& stdinPath = "/dev/null") {
    std::vector<std::string> argsCopy = args;
    std::vector<char*> argv;
    for (std::string& a : argsCopy) argv.push_back(a.data());
    argv.push_back(nullptr);
    std::vector<std::string> envCopy = env;
    std::vector<char*> envp;
    for (std::string& e : envCopy) envp.push_back(e.data());
    for (char** e = environ; *e != nullptr; ++e) envp.push_back(*e);
    envp.push_back(nullptr);
    posix_spawn_file_actions_t files;
    posix_spawn_file_actions_init(&files);
    posix_spawn_file_actions_addopen(&files, STDIN_FILENO, stdinPath.c_str(), O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&files, STDOUT_FILENO, dir.File("out").c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&files, STDERR_FILENO, dir.File("err").c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0644);
    pid_t pid = -1;
    const int error = posix_spawn(&pid, argv[0], &files, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&files);
    EXPECT_EQ(error, 0) << "cannot start " << args[0];
    Outcome outcome;
    if (error != 0) return outcome;
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    if (WIFEXITED(status)) outcome.status = WEXITSTATUS(status);
    outcome.out = ReadText(dir.File("out"));
    outcome.err = ReadText(dir.File("err"));
    return outcome;
}

class ReleaseSignatureCli : public ::testing::Test {
protected:
    void SetUp() override {
        m_image = BuildRawImage({.startBlock = 16, .endBlock = 24});
        for (const char* key : {"release", "stranger"})
            ASSERT_EQ(Spawn(m_dir, {kSshKeygen, "-q", "-t", "ed25519", "-N", "", "-C", key, "-f",
                                    m_dir.File(key)})
                          .status,
                      0);
        const std::string key = PublicKey("release");
        WriteText(Signers(), "# release engineering\nrelease@example.com " + key + "\n");
        WriteText(m_dir.File("expired_signers"),
                  "release@example.com valid-before=\"20200101\" " + key + "\n");
    }

    std::string PublicKey(const std::string& name) {
        const std::string line = ReadText(m_dir.File(name + ".pub"));
        return line.substr(0, line.find(' ', line.find(' ') + 1));  // type and key, no comment
    }
    std::string Signers() const { return m_dir.File("allowed_signers"); }

    // Writes NAME.bin and signs it with KEY for NAMESPACE with the real tool.
    std::string Signed(const std::string& name, const std::string& key = "release",
                       const std::string& space = "kestrel-firmware") {
        const std::string image = m_dir.File(name + ".bin");
        WriteBytes(image, m_image);
        const Outcome signing =
            Spawn(m_dir, {kSshKeygen, "-Y", "sign", "-n", space, "-f", m_dir.File(key), image});
        EXPECT_EQ(signing.status, 0) << signing.err;
        return image;
    }

    Outcome Upgrade(const std::vector<std::string>& args,
                    const std::vector<std::string>& env = {}) {
        std::vector<std::string> all{kVdev,
                                     "--log",
                                     m_dir.File("device.log"),
                                     "--flash-out",
                                     m_dir.File("flash.bin"),
                                     "--",
                                     kCli,
                                     "upgrade",
                                     "--yes",
                                     "--record",
                                     m_dir.File("record.jsonl")};
        all.insert(all.end(), args.begin(), args.end());
        std::remove(m_dir.File("device.log").c_str());
        return Spawn(m_dir, all, env);
    }
    bool StartFrameSent() const {
        return ReadText(m_dir.File("device.log")).find("[F6 00 FF") != std::string::npos;
    }

    TempDir m_dir;
    std::vector<std::uint8_t> m_image;
};

}  // namespace

TEST_F(ReleaseSignatureCli, RefusesEveryBadSignatureBeforeTheStartFrameAndFlashesTheGoodOne) {
    // The good one, as ssh-keygen itself verifies it.
    const std::string good = Signed("good");
    const Outcome checked =
        Spawn(m_dir,
              {kSshKeygen, "-Y", "verify", "-f", Signers(), "-I", "release@example.com", "-n",
               "kestrel-firmware", "-s", good + ".sig"},
              {}, good);
    ASSERT_EQ(checked.status, 0) << checked.err;

    const std::string changed = Signed("changed");
    std::vector<std::uint8_t> bytes = m_image;
    bytes[20 * 1024 + 5] ^= 1;
    WriteBytes(changed, bytes);
    const std::string truncated = Signed("truncated");
    const std::string sig = ReadText(truncated + ".sig");
    WriteText(truncated + ".sig", sig.substr(0, sig.size() / 2));
    const std::string garbage = Signed("garbage");
    WriteText(garbage + ".sig",
              "-----BEGIN SSH SIGNATURE-----\nnot base64 at all!\n"
              "-----END SSH SIGNATURE-----\n");
    const std::string unsigned_ = m_dir.File("unsigned.bin");
    WriteBytes(unsigned_, m_image);

    struct Case {
        std::string image;
        std::string signers;
        std::string message;
    };
    const Case cases[] = {
        {unsigned_, Signers(), "no release signature (" + unsigned_ + ".sig not found)"},
        {Signed("stranger", "stranger"), Signers(), "which is not in the allowed signers"},
        {Signed("namespace", "release", "file"), Signers(),
         "signed for the namespace \"file\", not \"kestrel-firmware\""},
        {changed, Signers(), "the signature does not match the bytes of " + changed},
        {truncated, Signers(), "not an SSH signature (cut short"},
        {garbage, Signers(), "not an SSH signature (its body is not base64)"},
        {good, m_dir.File("expired_signers"), "expired (valid-before 20200101)"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.message);
        const Outcome run = Upgrade({"--allowed-signers", c.signers, c.image});
        EXPECT_EQ(run.status, 1) << run.err;
        EXPECT_NE(run.err.find(c.message), std::string::npos) << run.err;
        EXPECT_NE(run.err.find("; nothing was flashed"), std::string::npos) << run.err;
        EXPECT_FALSE(StartFrameSent());
    }
    EXPECT_EQ(ReadText(m_dir.File("record.jsonl")), "");

    // The site-wide file turns verification on without an option.
    const std::vector<std::string> site{"KESTREL_TEST_SITE_SIGNERS=" + Signers()};
    Outcome run = Upgrade({unsigned_}, site);
    EXPECT_EQ(run.status, 1) << run.err;
    EXPECT_NE(run.err.find("no release signature"), std::string::npos) << run.err;
    EXPECT_FALSE(StartFrameSent());

    run = Upgrade({good}, site);
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_NE(run.err.find("Finish OK!"), std::string::npos) << run.err;
    EXPECT_TRUE(StartFrameSent());

    // A run its parent approved whose signature no longer verifies is recorded as a changed
    // image and flashes nothing.
    const std::string sha = nlohmann::json::parse(
        ReadText(m_dir.File("record.jsonl"))
            .substr(0, ReadText(m_dir.File("record.jsonl")).find('\n')))["sha256"];
    WriteText(good + ".sig", ReadText(m_dir.File("stranger.bin.sig")));
    run = Upgrade({"--approved-sha256", sha, "--allowed-signers", Signers(), good});
    EXPECT_EQ(run.status, 1) << run.err;
    EXPECT_NE(run.err.find("the file changed after it was approved, the unit was not flashed"),
              std::string::npos)
        << run.err;
    EXPECT_FALSE(StartFrameSent());
}
