// Derived files where only Linux can stage the case: a read-only or full file system (a tmpfs
// mounted for the test), another user's file, paths longer than Windows allows, and a HEX file
// made by objcopy.
#include <gtest/gtest.h>
#include <grp.h>
#include <pwd.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>

#include "image/HexLoader.h"
#include "tests/unit/DerivedFilesFixture.h"

namespace {

namespace fs = std::filesystem;

// A small file system mounted for one test, so a full disk or a read-only folder can be
// produced even for root, who ignores permission bits.
class ScratchMount {
public:
    ScratchMount(const fs::path& at, const char* options, unsigned long flags) : m_at(at) {
        fs::create_directories(at);
        if (::geteuid() != 0) {
            m_why = "needs root to mount a tmpfs";
        } else if (::mount("kestrel-test", at.c_str(), "tmpfs", flags, options) != 0) {
            m_why = std::string("cannot mount a tmpfs: ") + std::strerror(errno);
        } else {
            m_mounted = true;
        }
    }
    ~ScratchMount() {
        if (m_mounted) ::umount2(m_at.c_str(), MNT_DETACH);
    }
    ScratchMount(const ScratchMount&) = delete;
    ScratchMount& operator=(const ScratchMount&) = delete;
    bool Mounted() const { return m_mounted; }
    const std::string& Why() const { return m_why; }
    bool Remount(unsigned long flags, const char* options) {
        return ::mount("kestrel-test", m_at.c_str(), "tmpfs", MS_REMOUNT | flags, options) == 0;
    }

private:
    fs::path m_at;
    bool m_mounted = false;
    std::string m_why;
};

// Runs f as the unprivileged user nobody in a child process, because root, who runs the tests,
// ignores permission bits; true when f returned true. Without root, f runs here.
bool AsOrdinaryUser(const std::function<bool()>& f) {
    if (::geteuid() != 0) return f();
    constexpr id_t kNobody = 65534;
    const pid_t pid = ::fork();
    if (pid == 0) {
        const bool ok =
            ::setgroups(0, nullptr) == 0 && ::setgid(kNobody) == 0 && ::setuid(kNobody) == 0 && f();
        ::_exit(ok ? 0 : 1);
    }
    int status = 0;
    return pid > 0 && ::waitpid(pid, &status, 0) == pid && WIFEXITED(status) &&
           WEXITSTATUS(status) == 0;
}

TEST_F(DerivedFilesTest, ReadOnlyFolderGivesTheOpenMessage) {
    const fs::path folder = dir.Path() / "ro";
    ScratchMount mount(folder, "size=64k", MS_RDONLY);
    if (!mount.Mounted()) {
        // Without root the permission bits do the same job.
        if (::geteuid() == 0) GTEST_SKIP() << mount.Why();
        fs::permissions(folder, fs::perms::owner_read | fs::perms::owner_exec);
    }
    EXPECT_FALSE(GenerateBin((folder / "out.bin").string()));
    EXPECT_EQ(dlg.messages, std::vector<std::string>{"Open bin file error!"});
    EXPECT_TRUE(fs::is_empty(folder));
}

TEST_F(DerivedFilesTest, AFileTheUserMayNotWriteIsRefusedAndLeftAlone) {
    // Someone else's read-only file in a folder everyone may write.
    const fs::path folder = dir.Path() / "shared";
    fs::create_directory(folder);
    fs::permissions(folder, fs::perms::all);
    const std::string target = (folder / "out.bin").string();
    WriteBytes(target, {1, 2, 3});
    fs::permissions(target, fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
    struct stat before {};
    ASSERT_EQ(::stat(target.c_str(), &before), 0);

    EXPECT_TRUE(AsOrdinaryUser([&] {
        FakeDialog user;
        user.files.push_back(target);
        return !WriteBinFiles(user) &&
               user.messages == std::vector<std::string>{"Open bin file error!"};
    }));
    struct stat after {};
    ASSERT_EQ(::stat(target.c_str(), &after), 0);
    EXPECT_EQ(after.st_ino, before.st_ino);  // the same file, not a replacement
    EXPECT_EQ(after.st_uid, before.st_uid);
    EXPECT_EQ(after.st_mode, before.st_mode);
    EXPECT_EQ(ReadBytes(target), (std::vector<std::uint8_t>{1, 2, 3}));
    EXPECT_EQ(Names(folder), std::vector<std::string>{"out.bin"});
}

// The kernel's fs.protected_symlinks rule, kept by the file layer's own walk through links: in
// a sticky folder everyone may write, another user's link is not followed, so root's gen-bin,
// gen-body or report --html there never replaces a file of that user's choosing.
TEST_F(DerivedFilesTest, AnotherUsersLinkInAStickyFolderIsNotFollowed) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root to make another user and own links as them";
    const char* neighbour = "kestrel-neighbour";
    const std::string add =
        std::string("useradd --system --no-create-home ") + neighbour + " >/dev/null 2>&1";
    if (!::getpwnam(neighbour)) {
        ASSERT_EQ(std::system(add.c_str()), 0) << add;
    }
    const struct passwd* other = ::getpwnam(neighbour);
    ASSERT_NE(other, nullptr);
    const fs::path sticky = dir.Path() / "tmp";
    fs::create_directory(sticky);
    ASSERT_EQ(::chmod(sticky.c_str(), 01777), 0);
    const std::string victim = dir.File("root-only");
    WriteBytes(victim, {1, 2, 3});
    const auto plant = [&](const char* name, uid_t owner) {
        const std::string link = (sticky / name).string();
        fs::remove(link);
        fs::create_symlink(victim, link);
        EXPECT_EQ(::lchown(link.c_str(), owner, static_cast<gid_t>(-1)), 0);
        return link;
    };

    EXPECT_FALSE(GenerateBin(plant("out.bin", other->pw_uid)));
    EXPECT_FALSE(GenerateBody(plant("body.bin", other->pw_uid)));
    EXPECT_EQ(dlg.messages,
              (std::vector<std::string>{"Open bin file error!", "Open bin file error!"}));
    const std::string records = dir.File("records.jsonl");
    ASSERT_EQ(std::system(("python3 '" + std::string(KESTREL_SOURCE_DIR) +
                           "/tests/report/sample-records' '" + records + "'")
                              .c_str()),
              0);
    const std::string page = plant("page.html", other->pw_uid);
    const std::string err = dir.File("err");
    const int status = std::system(("'" + std::string(KESTREL_CLI) + "' report --html '" + page +
                                    "' '" + records + "' >/dev/null 2>'" + err + "'")
                                       .c_str());
    EXPECT_EQ(WEXITSTATUS(status), 1);
    std::ifstream in(err);
    const std::string said((std::istreambuf_iterator<char>(in)), {});
    EXPECT_NE(said.find("symbolic link of another user in a sticky folder"), std::string::npos)
        << said;
    EXPECT_EQ(ReadBytes(victim), (std::vector<std::uint8_t>{1, 2, 3}));

    // The folder owner's link (and this user's own) is followed, as the kernel would.
    EXPECT_TRUE(GenerateBin(plant("out.bin", ::geteuid())));
    EXPECT_NE(ReadBytes(victim), (std::vector<std::uint8_t>{1, 2, 3}));
}

TEST_F(DerivedFilesTest, FullDiskKeepsTheEarlierFileAndNamesTheCause) {
    const fs::path folder = dir.Path() / "small";
    ScratchMount mount(folder, "size=64k", 0);
    if (!mount.Mounted()) GTEST_SKIP() << "full-disk case skipped: " << mount.Why();
    const std::string target = (folder / "out.bin").string();
    WriteBytes(target, {1, 2, 3});

    EXPECT_FALSE(GenerateBody(target));  // 86,016 bytes do not fit in 64 KB
    ASSERT_EQ(dlg.messages.size(), 1u);
    EXPECT_NE(dlg.messages[0].find(target), std::string::npos) << dlg.messages[0];
    EXPECT_NE(dlg.messages[0].find("No space left on device"), std::string::npos)
        << dlg.messages[0];
    EXPECT_EQ(ReadBytes(target), (std::vector<std::uint8_t>{1, 2, 3}));
    EXPECT_EQ(Names(folder), std::vector<std::string>{"out.bin"});

    EXPECT_FALSE(GenerateBin(target));
    EXPECT_EQ(ReadBytes(target), (std::vector<std::uint8_t>{1, 2, 3}));
    EXPECT_EQ(Names(folder), std::vector<std::string>{"out.bin"});  // and no burn file
}

TEST_F(DerivedFilesTest, PathsOf1000CharactersAreRefused) {
    // Folders deep enough that a 995-character program path exists; its burn path is 1,000.
    fs::path folder = dir.Path();
    while (folder.string().size() < 900)
        folder /= std::string(std::min<std::size_t>(200, 900 - folder.string().size()), 'd');
    fs::create_directories(folder);
    const std::size_t nameLength = 995 - folder.string().size() - 1;
    const std::string program = (folder / (std::string(nameLength - 4, 'p') + ".bin")).string();
    ASSERT_EQ(program.size(), 995u);

    EXPECT_FALSE(GenerateBin(program));
    EXPECT_EQ(dlg.messages, std::vector<std::string>{"Open bin file error!"});
    EXPECT_EQ(ReadBytes(program).size(), 102400u);  // the program file stays written
    EXPECT_EQ(Names(folder).size(), 1u);

    const std::string tooLong = (folder / (std::string(nameLength + 2, 'q'))).string();
    ASSERT_EQ(tooLong.size(), 997u);
    dlg.messages.clear();
    EXPECT_FALSE(GenerateBody(tooLong + "xyz"));  // 1,000 characters
    EXPECT_EQ(dlg.messages, std::vector<std::string>{"Open bin file error!"});
    EXPECT_TRUE(GenerateBody(tooLong + "xy"));  // 999 fit
}

#ifdef KESTREL_OBJCOPY
// A HEX file made by objcopy from a good raw image loads to the same image, range and files.
TEST_F(DerivedFilesTest, ObjcopyHexOfARawImageGivesTheSameImageAndFiles) {
    ASSERT_TRUE(GenerateBin(dir.File("raw-out.bin")));
    ASSERT_TRUE(GenerateBody(dir.File("raw-body.bin")));
    const std::string space = dlg.m_strSpace;

    const std::string hex = dir.File("in.hex");
    const std::string command = std::string(KESTREL_OBJCOPY) +
                                " -I binary -O ihex --change-addresses 0x08000000 '" +
                                dir.File("in.bin") + "' '" + hex + "'";
    ASSERT_EQ(std::system(command.c_str()), 0) << command;
    const auto text = ReadBytes(hex);
    ASSERT_NE(std::string(text.begin(), text.end()).find(":04000005"), std::string::npos);

    std::memset(&g_image, 0, sizeof g_image);
    dlg.files.push_back(hex);
    HexLoadReport report;
    ASSERT_TRUE(LoadHexFile(dlg, &report));
    EXPECT_EQ(report.skippedBytes, 0u);
    EXPECT_EQ(g_image.startBlock, 16);
    EXPECT_EQ(g_image.endBlock, 100);
    EXPECT_EQ(dlg.m_strSpace, space);
    EXPECT_TRUE(std::equal(raw.begin(), raw.end(), g_image.data));
    ASSERT_TRUE(GenerateBin(dir.File("hex-out.bin")));
    ASSERT_TRUE(GenerateBody(dir.File("hex-body.bin")));
    EXPECT_EQ(ReadBytes(dir.File("hex-out.bin")), ReadBytes(dir.File("raw-out.bin")));
    EXPECT_EQ(ReadBytes(dir.File("hex-out_BURN.bin")), ReadBytes(dir.File("raw-out_BURN.bin")));
    EXPECT_EQ(ReadBytes(dir.File("hex-body.bin")), ReadBytes(dir.File("raw-body.bin")));
}
#endif
}  // namespace
