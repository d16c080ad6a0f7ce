// Production line end to end: kestrel-cli upgrade --device, --all and station under kestrel-vdev
// serving several devices, with their record files, request logs and flashes.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <signal.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "ledger/UnitDatabase.h"
#include "ledger/UtcTime.h"
#include "line/Sha256.h"
#include "image/FirmwareImage.h"
#include "tests/support/ImageBuilder.h"
#include "web/LineView.h"
#include "web/StationSnapshot.h"

namespace {

const std::string kBuild = KESTREL_BUILD_DIR;
const std::string kCli = kBuild + "/cli/kestrel-cli";
const std::string kVdev = kBuild + "/vdev/kestrel-vdev";
const std::string kSource = KESTREL_SOURCE_DIR;

std::string ReadText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

bool Contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

class ProductionLine : public ::testing::Test {
protected:
    struct Outcome {
        int status = -1;
        std::string out, err;
    };

    void SetUp() override {
        // A short range keeps the station's schedule well clear of the runs.
        m_image = BuildRawImage({.startBlock = 16, .endBlock = 36});
        WriteBytes(Image(), m_image);
    }

    std::string Image() const { return m_dir.File("image.bin"); }
    std::string Record() const { return m_dir.File("record.jsonl"); }
    // kestrel-vdev names the files of a single device without the drive's name.
    std::string Log(const std::string& drive) const {
        return m_dir.File(m_devices == 1 ? "log" : "log." + drive);
    }
    std::string Flash(const std::string& drive) const {
        return m_dir.File(m_devices == 1 ? "flash" : "flash." + drive);
    }

    std::string Events() const { return m_dir.File("events.jsonl"); }
    // The test's own steps, which kestrel-vdev watches beside the command's event stream and
    // record: "--at replaced:+2" plugs device 2 in once the test said Step("replaced").
    std::string Steps() const { return m_dir.File("steps.jsonl"); }
    void Step(const std::string& name) const {
        std::ofstream(Steps(), std::ios::app) << "{\"event\":\"" << name << "\"}\n";
    }

    // Waits until `path` holds `count` lines of the event (of `drive`, when given), as
    // kestrel-vdev's --at does; false after two minutes.
    static bool WaitForEvent(const std::string& path, const std::string& event,
                             const std::string& drive = "", unsigned count = 1) {
        const auto limit = std::chrono::steady_clock::now() + std::chrono::minutes(2);
        while (std::chrono::steady_clock::now() < limit) {
            unsigned seen = 0;
            std::istringstream text(ReadText(path));
            for (std::string line; std::getline(text, line);) {
                if (Contains(line, "\"event\":\"" + event + "\"") &&
                    (drive.empty() || Contains(line, "\"drive\":\"" + drive + "\"")))
                    ++seen;
            }
            if (seen >= count) return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return false;
    }

    // Every line of the event stream checked against its schema (and opened first, closed
    // last, one finished per started); the stream is then started afresh.
    void CheckEvents() {
        if (!std::filesystem::exists(Events())) return;
        const std::string check = kSource + "/tests/support/validate-events " + kSource +
                                  "/doc/kestrel-events-v1.schema.json " + Events();
        EXPECT_EQ(std::system(check.c_str()), 0) << ReadText(Events());
        std::filesystem::rename(Events(), m_dir.File("events.checked"));
    }

    // kestrel-vdev --devices N [vdevArgs] -- CLI [cliArgs], started; see Finish. An upgrade or
    // a station writes its event stream too, which Finish checks and kestrel-vdev watches.
    pid_t Start(unsigned devices, const std::vector<std::string>& vdevArgs,
                std::vector<std::string> cliArgs, const std::string& cli = kCli) {
        m_devices = devices;
        const bool line = !cliArgs.empty() && (cliArgs[0] == "upgrade" || cliArgs[0] == "station");
        if (line && std::find(cliArgs.begin(), cliArgs.end(), "--events") == cliArgs.end())
            cliArgs.insert(cliArgs.begin() + 1, {"--events", Events()});
        std::vector<std::string> args{kVdev,
                                      "--devices",
                                      std::to_string(devices),
                                      "--log",
                                      m_dir.File("log"),
                                      "--flash-out",
                                      m_dir.File("flash"),
                                      "--watch",
                                      Steps()};
        // The event stream, whose lines the conditions of --at count (the record has the same
        // started and finished lines).
        if (line) args.insert(args.end(), {"--watch", Events()});
        args.insert(args.end(), vdevArgs.begin(), vdevArgs.end());
        args.insert(args.end(), {"--", cli});
        args.insert(args.end(), cliArgs.begin(), cliArgs.end());
        std::vector<char*> argv;
        for (auto& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        posix_spawn_file_actions_t files;
        posix_spawn_file_actions_init(&files);
        posix_spawn_file_actions_addopen(&files, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
        posix_spawn_file_actions_addopen(&files, STDOUT_FILENO, m_dir.File("out").c_str(),
                                         O_WRONLY | O_CREAT | O_TRUNC, 0644);
        posix_spawn_file_actions_addopen(&files, STDERR_FILENO, m_dir.File("err").c_str(),
                                         O_WRONLY | O_CREAT | O_TRUNC, 0644);
        pid_t pid = -1;
        const int error = posix_spawn(&pid, kVdev.c_str(), &files, nullptr, argv.data(), environ);
        posix_spawn_file_actions_destroy(&files);
        EXPECT_EQ(error, 0) << "cannot start " << kVdev;
        return error == 0 ? pid : -1;
    }

    Outcome Finish(pid_t pid) {
        Outcome outcome;
        if (pid <= 0) return outcome;
        int status = 0;
        while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
        }
        if (WIFEXITED(status)) outcome.status = WEXITSTATUS(status);
        outcome.out = ReadText(m_dir.File("out"));
        outcome.err = ReadText(m_dir.File("err"));
        CheckEvents();
        return outcome;
    }

    Outcome Run(unsigned devices, const std::vector<std::string>& vdevArgs,
                const std::vector<std::string>& cliArgs) {
        return Finish(Start(devices, vdevArgs, cliArgs));
    }

    // A shell command line run the way a shell starts it: SIGPIPE at its default (the test
    // runner leaves it ignored, and a shell cannot take back an ignore it inherited).
    Outcome Shell(const std::string& script) {
        const std::string sh = "/bin/sh";
        std::vector<std::string> args{sh, "-c", script};
        std::vector<char*> argv;
        for (auto& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        posix_spawn_file_actions_t files;
        posix_spawn_file_actions_init(&files);
        posix_spawn_file_actions_addopen(&files, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
        posix_spawn_file_actions_addopen(&files, STDOUT_FILENO, m_dir.File("out").c_str(),
                                         O_WRONLY | O_CREAT | O_TRUNC, 0644);
        posix_spawn_file_actions_addopen(&files, STDERR_FILENO, m_dir.File("err").c_str(),
                                         O_WRONLY | O_CREAT | O_TRUNC, 0644);
        posix_spawnattr_t attr;
        posix_spawnattr_init(&attr);
        sigset_t defaults;
        sigemptyset(&defaults);
        sigaddset(&defaults, SIGPIPE);
        posix_spawnattr_setsigdefault(&attr, &defaults);
        posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGDEF);
        pid_t pid = -1;
        const int error = posix_spawn(&pid, sh.c_str(), &files, &attr, argv.data(), environ);
        posix_spawnattr_destroy(&attr);
        posix_spawn_file_actions_destroy(&files);
        EXPECT_EQ(error, 0);
        return Finish(error == 0 ? pid : -1);
    }

    // "kestrel-vdev --devices N ARGS -- " for a shell line (arguments without quotes inside).
    std::string VdevLine(unsigned devices, const std::string& args) {
        m_devices = devices;
        return kVdev + " --devices " + std::to_string(devices) + " --log " + m_dir.File("log") +
               " --flash-out " + m_dir.File("flash") + " --watch " + Steps() + " --watch " +
               Record() + " " + args + " -- ";
    }

    // Every record line, parsed (a line that is no JSON object fails the test).
    std::vector<nlohmann::json> Lines() {
        std::vector<nlohmann::json> lines;
        std::istringstream text(ReadText(Record()));
        for (std::string line; std::getline(text, line);) {
            lines.push_back(nlohmann::json::parse(line, nullptr, false));
            EXPECT_TRUE(lines.back().is_object()) << line;
        }
        return lines;
    }

    // The final lines; every one that has a started line has exactly one, the same run's,
    // written before it.
    std::vector<nlohmann::json> Records() {
        std::vector<nlohmann::json> finals;
        std::map<std::string, int> started;
        for (const nlohmann::json& line : Lines()) {
            if (!line.is_object()) continue;
            const std::string run = line.value("run", "");
            EXPECT_EQ(run.size(), 32u) << line;
            if (line.value("event", "") == "started") {
                EXPECT_EQ(started[run]++, 0) << "two started lines for " << run;
                continue;
            }
            EXPECT_EQ(line.value("event", ""), "finished") << line;
            EXPECT_EQ(line["startedAt"].is_string(), started.count(run) == 1) << line;
            started.erase(run);
            finals.push_back(line);
        }
        EXPECT_TRUE(started.empty()) << started.size() << " started lines without a final line";
        return finals;
    }

    bool Flashed(const std::string& drive) {
        const std::vector<std::uint8_t> flash = ReadBytes(Flash(drive));
        const auto begin = std::ptrdiff_t{16} * kBlockSize;
        return flash.size() == kImageSize &&
               std::equal(m_image.begin() + begin, m_image.end(), flash.begin() + begin);
    }

    // Vendor writes (0x86) the drive received.
    std::size_t Writes(const std::string& drive) {
        std::istringstream lines(ReadText(Log(drive)));
        std::size_t writes = 0;
        for (std::string line; std::getline(lines, line);) writes += Contains(line, "write(86)");
        return writes;
    }

    TempDir m_dir;
    std::vector<std::uint8_t> m_image;
    unsigned m_devices = 0;
};

}  // namespace

TEST_F(ProductionLine, DeviceOptionOpensOnlyThatDriveAndRecordsTheUnit) {
    Outcome run =
        Run(2, {}, {"upgrade", "--yes", "--device", "/dev/sdc", "--record", Record(), Image()});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_TRUE(ReadText(Log("sdb")).empty()) << "sdb was touched";
    EXPECT_TRUE(Flashed("sdc"));

    // The drive must answer identify itself; the search does not go on to another.
    run = Run(2, {"--on", "1:--not-device"},
              {"upgrade", "--yes", "--device", "sdb", "--record", Record(), Image()});
    EXPECT_EQ(run.status, 1);
    EXPECT_TRUE(Contains(run.err, "Device Open Fail!\n")) << run.err;
    EXPECT_TRUE(ReadText(Log("sdc")).empty()) << "sdc was touched";

    const std::vector<nlohmann::json> records = Records();
    ASSERT_EQ(records.size(), 2u);
    const nlohmann::json& ok = records[0];
    EXPECT_EQ(ok["drive"], "sdc");
    EXPECT_EQ(ok["serial"], "KV0002");
    EXPECT_EQ(ok["usb"], "1d6b:0104");
    EXPECT_EQ(ok["vendor"], "KESTREL");
    EXPECT_EQ(ok["versionBefore"], "V1.0.0");
    EXPECT_EQ(ok["family"], "ST");
    EXPECT_EQ(ok["chipId"], "41:42:43:44:45");
    EXPECT_EQ(ok["startBlock"], 16);
    EXPECT_EQ(ok["endBlock"], 36);
    EXPECT_EQ(ok["blocksSent"], 20);
    EXPECT_EQ(ok["result"], "ok");
    EXPECT_EQ(ok["message"], "Finish OK!");
    EXPECT_TRUE(ok["time"].get<std::string>().ends_with("Z"));
    std::string error;
    EXPECT_EQ(ok["sha256"], Sha256OfFile(Image(), &error).value_or("?"));
    EXPECT_EQ(records[1]["drive"], "sdb");
    EXPECT_EQ(records[1]["result"], "failed");
    EXPECT_EQ(records[1]["message"], "Device Open Fail!");
    EXPECT_EQ(records[1]["versionBefore"], nullptr);
}

TEST(Sha256, MatchesTheStandardsTestVector) {
    TempDir dir;
    WriteBytes(dir.File("abc"), {'a', 'b', 'c'});
    std::string error;
    EXPECT_EQ(Sha256OfFile(dir.File("abc"), &error),
              "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    EXPECT_EQ(Sha256OfFile(dir.File("missing"), &error), std::nullopt);
    EXPECT_TRUE(Contains(error, "missing")) << error;
}

TEST_F(ProductionLine, AllUpgradesEveryDeviceAtOnceAndNamesTheOneThatFailed) {
    const Outcome run = Run(3, {"--on", "2:--fail-write 11"},
                            {"upgrade", "--all", "--yes", "--record", Record(), Image()});
    EXPECT_EQ(run.status, 1) << run.err;
    EXPECT_TRUE(Contains(run.out, "sdb  KV0001  Finish OK!  20 blocks")) << run.out;
    EXPECT_TRUE(Contains(run.out, "sdc  KV0002  Send Error!  2 blocks")) << run.out;
    EXPECT_TRUE(Contains(run.out, "sdd  KV0003  Finish OK!  20 blocks")) << run.out;
    EXPECT_TRUE(Contains(run.out, "3 devices: 2 succeeded, 1 failed\n")) << run.out;
    EXPECT_TRUE(Flashed("sdb"));
    EXPECT_TRUE(Flashed("sdd"));

    std::map<std::string, std::string> results;
    for (const nlohmann::json& record : Records())
        results[record["drive"].get<std::string>()] =
            record["result"].get<std::string>() + " " + record["message"].get<std::string>();
    EXPECT_EQ(results, (std::map<std::string, std::string>{{"sdb", "ok Finish OK!"},
                                                           {"sdc", "failed Send Error!"},
                                                           {"sdd", "ok Finish OK!"}}));

    // Ctrl-C to the parent cancels every run the way Cancel does, and each is recorded so.
    std::remove(Record().c_str());
    const Outcome cancelled = Run(2, {"--delay-ms", "20", "--at", "1/2&2/2:int"},
                                  {"upgrade", "--all", "--yes", "--record", Record(), Image()});
    EXPECT_EQ(cancelled.status, 130) << cancelled.out << cancelled.err;
    EXPECT_TRUE(Contains(cancelled.out, "sdb  KV0001  cancelled  ")) << cancelled.out;
    const std::vector<nlohmann::json> records = Records();
    EXPECT_EQ(records.size(), 2u);
    for (const nlohmann::json& record : records) EXPECT_EQ(record["result"], "cancelled");

    // Several prompts cannot be answered at once; no device found is a failure.
    EXPECT_EQ(Run(1, {}, {"upgrade", "--all", Image()}).status, 2);
    const Outcome none = Run(1, {"--not-device"}, {"upgrade", "--all", "--yes", Image()});
    EXPECT_EQ(none.status, 1);
    EXPECT_TRUE(Contains(none.err, "Device Open Fail!")) << none.err;
}

TEST_F(ProductionLine, StationFlashesEachUnitOnceAndRetriesAFailedOneAfterReplug) {
    // sdb is there from the start; sdc comes at 0.2 s, fails, is pulled out and plugged in
    // again once the station saw it go; sdb is re-plugged after its success alike; sdd is not
    // the device. Ctrl-C once sdc's second run has ended and sdb was left alone. sdc's port
    // has a slot name.
    const std::string slots = m_dir.File("slots.txt");
    WriteBytes(slots, std::vector<std::uint8_t>{'2', '-', '3', ' ', 'S', 'l', 'o', 't', ' ', 'B'});
    const Outcome run =
        Run(3,
            {"--on", "2:--fail-write 11", "--on", "3:--not-device", "--at", "200:+2", "--at",
             "2.finished:-2", "--at", "2.removed:+2", "--at", "1.finished:-1", "--at",
             "1.removed:+1", "--at", "2.finished*2&1.skipped:int"},
            {"station", "--record", Record(), "--slots", slots, Image()});
    EXPECT_EQ(run.status, 0) << run.out << run.err;
    // In the words list uses for the same drive.
    EXPECT_TRUE(Contains(run.out, "sdd  KV0003  attached: opened, identify answered ")) << run.out;
    EXPECT_TRUE(Contains(run.out, ": not the device")) << run.out;
    EXPECT_TRUE(Contains(run.out, "sdb  KV0001  attached: already upgraded, left alone"))
        << run.out;
    EXPECT_TRUE(Contains(run.out, "station: 2 succeeded, 0 failed\n")) << run.out;
    // The console's words: the slot by its name (or its port), the failure's remedy, the
    // running counts.
    EXPECT_TRUE(Contains(run.out, "  Slot B  sdc  KV0002  Send Error!")) << run.out;
    EXPECT_TRUE(Contains(run.out, "  2-2  sdb  KV0001  attached: upgrading")) << run.out;
    EXPECT_TRUE(Contains(run.out, "what to do: the device stopped taking blocks at block "))
        << run.out;
    EXPECT_TRUE(Contains(run.out, "  station: 1 ok, 1 failed, ")) << run.out;
    EXPECT_EQ(Writes("sdd"), 0u);
    EXPECT_TRUE(Flashed("sdb"));
    EXPECT_TRUE(Flashed("sdc"));

    std::vector<std::string> runs;
    for (const nlohmann::json& record : Records())
        runs.push_back(record["serial"].get<std::string>() + " " +
                       record["result"].get<std::string>());
    std::sort(runs.begin(), runs.end());
    EXPECT_EQ(runs, (std::vector<std::string>{"KV0001 ok", "KV0002 failed", "KV0002 ok"}));
}

TEST_F(ProductionLine, ARecordThatCannotBeWrittenStopsTheRunBeforeTheDevice) {
    const std::string unwritable = m_dir.File("no-such-folder/record.jsonl");
    Outcome run = Run(1, {}, {"upgrade", "--yes", "--record", unwritable, Image()});
    EXPECT_EQ(run.status, 1);
    EXPECT_TRUE(Contains(run.err, "cannot record the run: " + unwritable)) << run.err;
    EXPECT_TRUE(ReadText(Log("sdb")).empty());

    // The parent of --all and station checks once, before any device is touched, and says it
    // once on stderr.
    for (const char* command : {"upgrade --all --yes", "station"}) {
        std::vector<std::string> args;
        std::istringstream words(command);
        for (std::string word; words >> word;) args.push_back(word);
        args.insert(args.end(), {"--record", unwritable, Image()});
        run = Run(2, {}, args);
        EXPECT_EQ(run.status, 1) << command;
        EXPECT_EQ(run.out, "") << command;
        EXPECT_EQ(run.err, "kestrel-cli: cannot record the runs: " + unwritable +
                               ": No such file or directory; no device was touched\n")
            << command;
        EXPECT_TRUE(ReadText(Log("sdb")).empty()) << command;
        EXPECT_TRUE(ReadText(Log("sdc")).empty()) << command;
    }
}

TEST_F(ProductionLine, ARecordLockedByAReaderRefusesTheRunInsteadOfStallingTheLine) {
    Outcome run = Run(1, {}, {"upgrade", "--yes", "--record", Record(), Image()});
    ASSERT_EQ(run.status, 0) << run.err;
    struct stat info {};
    ASSERT_EQ(::stat(Record().c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0640u);  // only the owner's group may read it, and lock it
    // A reader with a read-only descriptor can take the lock (`flock FILE sleep 60`).
    const int reader = ::open(Record().c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_EQ(::flock(reader, LOCK_EX), 0);
    const std::string before = ReadText(Record());
    run = Run(1, {}, {"upgrade", "--yes", "--record", Record(), Image()});
    EXPECT_EQ(run.status, 1);
    EXPECT_TRUE(Contains(run.err, "cannot record the run: " + Record() +
                                      ": another process has held its lock for 5 s"))
        << run.err;
    EXPECT_TRUE(ReadText(Log("sdb")).empty());  // no start frame, nothing sent
    EXPECT_EQ(ReadText(Record()), before);
    ::close(reader);
}

TEST_F(ProductionLine, AStationKeepsFlashingNewUnitsAfterItsProgramFileIsReplaced) {
    // The station runs from a copy of its program, which a package upgrade replaces while the
    // first unit is being flashed (the new file renamed over the old one, as dpkg does) and a
    // removal then deletes. Units plugged in after each are still flashed, by the program the
    // station runs.
    const std::string cli = m_dir.File("kestrel-cli");
    std::filesystem::copy_file(kCli, cli);
    const pid_t pid = Start(3,
                            {"--on", "1:--delay-ms 20", "--at", "replaced:+2", "--at", "deleted:+3",
                             "--at", "finished*3:int"},
                            {"station", "--record", Record(), Image()}, cli);
    EXPECT_TRUE(WaitForEvent(Events(), "started", "sdb"));
    {
        std::ofstream replacement(cli + ".dpkg-new");
        replacement << "#!/bin/sh\nexit 99\n";
    }
    std::filesystem::permissions(cli + ".dpkg-new", std::filesystem::perms::owner_all);
    std::filesystem::rename(cli + ".dpkg-new", cli);
    Step("replaced");
    EXPECT_TRUE(WaitForEvent(Events(), "started", "sdc"));
    std::filesystem::remove(cli);
    Step("deleted");
    const Outcome run = Finish(pid);
    EXPECT_EQ(run.status, 0) << run.out << run.err;
    EXPECT_TRUE(Contains(run.out, "station: 3 succeeded, 0 failed\n")) << run.out;
    for (const char* drive : {"sdb", "sdc", "sdd"}) EXPECT_TRUE(Flashed(drive)) << drive;
}

TEST_F(ProductionLine, BrokenPipesKilledParentsAndHangUpsLeaveNoUnitHalfFlashedOrUnrecorded) {
    // A station whose output goes to "head -n 1": the reader is gone after the first line, yet
    // the station and its children keep flashing and recording (the second unit comes later).
    Outcome run = Shell(VdevLine(2, "--at 1.finished:+2 --at finished*2:int") + kCli +
                        " station --record " + Record() + " " + Image() + " | head -n 1");
    EXPECT_EQ(run.status, 0) << run.out << run.err;
    EXPECT_TRUE(Flashed("sdb"));
    EXPECT_TRUE(Flashed("sdc"));
    std::vector<nlohmann::json> records = Records();
    ASSERT_EQ(records.size(), 2u);
    for (const nlohmann::json& record : records) EXPECT_EQ(record["result"], "ok") << record;

    // The parent of --all killed mid-run: each child finishes its unit and writes its record
    // (the killed parent's event stream simply stops).
    std::remove(Record().c_str());
    run = Run(2, {"--on", "1:--delay-ms 5", "--on", "2:--delay-ms 5", "--at", "1/2&2/2:kill"},
              {"upgrade", "--all", "--yes", "--events", m_dir.File("cut.jsonl"), "--record",
               Record(), Image()});
    EXPECT_EQ(run.status, 128 + SIGKILL);
    EXPECT_TRUE(Flashed("sdb"));
    EXPECT_TRUE(Flashed("sdc"));
    records = Records();
    ASSERT_EQ(records.size(), 2u);
    for (const nlohmann::json& record : records) EXPECT_EQ(record["result"], "ok") << record;

    // SIGHUP (a closed terminal) ends the runs the way Ctrl-C and SIGTERM do.
    std::remove(Record().c_str());
    run = Run(2, {"--delay-ms", "20", "--at", "1/2&2/2:hup"},
              {"upgrade", "--all", "--yes", "--record", Record(), Image()});
    EXPECT_EQ(run.status, 128 + SIGHUP) << run.out << run.err;
    EXPECT_TRUE(Contains(run.out, "sdb  KV0001  cancelled  ")) << run.out;
    records = Records();
    ASSERT_EQ(records.size(), 2u);
    for (const nlohmann::json& record : records) EXPECT_EQ(record["result"], "cancelled");
    run = Run(1, {"--delay-ms", "20", "--at", "1/2:hup"},
              {"upgrade", "--yes", "--record", Record(), Image()});
    EXPECT_EQ(run.status, 128 + SIGHUP) << run.err;
    EXPECT_EQ(Records().back()["result"], "cancelled");
}

TEST_F(ProductionLine, AUnitIsFlashedOnlyAfterItsStartedLineIsOnDiskAndNoLineIsGlued) {
    // A small tmpfs in a private mount namespace holds the record. Its last page is nearly
    // full and every other page taken, so the started line is cut short after a few bytes.
    const std::string mount = m_dir.File("mnt");
    std::filesystem::create_directory(mount);
    const std::string record = mount + "/record.jsonl";
    const std::string before = "{\"note\":\"" + std::string(4000, 'x') + "\"}\n";
    WriteBytes(m_dir.File("before"), std::vector<std::uint8_t>(before.begin(), before.end()));
    const auto full = [&](const std::string& command, const std::string& vdevArgs) {
        return Shell("unshare -m --propagation private sh -c 'mount -t tmpfs -o size=64k tmpfs " +
                     mount + " && cp " + m_dir.File("before") + " " + record + " && { dd " +
                     "if=/dev/zero of=" + mount + "/fill bs=4096 2>/dev/null; true; } && " +
                     VdevLine(1, vdevArgs) + kCli + " " + command + " --record " + record + " " +
                     Image() + "; status=$?; cp " + record + " " + Record() + "; exit $status'");
    };
    Outcome run = full("upgrade --yes", "");
    EXPECT_EQ(run.status, 1) << run.err;
    EXPECT_TRUE(Contains(run.err, "kestrel-cli: cannot record the run: " + record +
                                      ": No space left on device; the unit was not flashed"))
        << run.err;
    EXPECT_EQ(Writes("sdb"), 1u) << "only the query may reach the device";
    EXPECT_EQ(ReadText(Record()), before) << "the cut line was not taken back";

    // A disk that takes the bytes but cannot put them on the medium: the flush is what makes
    // the line a record, so a failing fsync stops the run before its start frame too.
    const std::string records = ReadText(Record());
    run = Shell(std::string("LD_PRELOAD=") + KESTREL_FAIL_FSYNC +
                " KESTREL_TEST_FAIL_FSYNC=" + Record() + " " + VdevLine(1, "") + kCli +
                " upgrade --yes --record " + Record() + " " + Image());
    EXPECT_EQ(run.status, 1) << run.err;
    EXPECT_TRUE(Contains(run.err, "cannot record the run: " + Record() + ": Input/output error"))
        << run.err;
    EXPECT_LE(Writes("sdb"), 1u) << "only the query may reach the device";
    EXPECT_EQ(ReadText(Record()), records);

    // The station's child alike; Ctrl-C once the station has told the unit's end.
    run = full("station --events " + Events(), "--watch " + Events() + " --at finished:int");
    EXPECT_EQ(Writes("sdb"), 1u);
    EXPECT_TRUE(Contains(run.out, "sdb  KV0001  the run could not be recorded")) << run.out;
    EXPECT_TRUE(Contains(run.out, "No space left on device; the unit was not flashed")) << run.out;

    // A line cut short by a writer that died is ended before the next line is appended.
    WriteBytes(Record(), {'{', '"', 'c', 'u', 't'});
    run = Run(1, {}, {"upgrade", "--yes", "--record", Record(), Image()});
    EXPECT_EQ(run.status, 0) << run.err;
    const std::string text = ReadText(Record());
    EXPECT_TRUE(text.starts_with("{\"cut\n{\"event\":\"started\"")) << text;
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 3);
}

TEST_F(ProductionLine, UnitsAreToldApartBySerialAndPortWithEverySerialByteKept) {
    // Two units with one serial: both flashed, each as its own unit, both flagged.
    Outcome run = Run(2, {"--on", "2:--serial KV0001"},
                      {"upgrade", "--all", "--yes", "--record", Record(), Image()});
    EXPECT_EQ(run.status, 0) << run.out << run.err;
    EXPECT_TRUE(Contains(run.out, "sdb  KV0001  Finish OK!")) << run.out;
    EXPECT_TRUE(Contains(run.out, "sdc  KV0001  Finish OK!")) << run.out;
    EXPECT_NE(run.out.find("duplicate serial"), run.out.rfind("duplicate serial")) << run.out;
    std::map<std::string, bool> units;
    for (const nlohmann::json& record : Records())
        units[record["unit"].get<std::string>()] = record["duplicateSerial"].get<bool>();
    // The fixed disk sda sits on 2-1.
    EXPECT_EQ(units, (std::map<std::string, bool>{{"KV0001@2-2", true}, {"KV0001@2-3", true}}));

    // Serials that differ only beyond ASCII stay apart, byte for byte; a unit exposing two
    // drives on one USB device gets one run.
    std::remove(Record().c_str());
    run = Run(3,
              {"--on", "1:--serial KV\xc3\xa9", "--on", "2:--serial KV\xc3\xa8", "--on",
               "3:--serial KV\xc3\xa8 --usb-port 2-3", "--at", "finished*2:int"},
              {"station", "--station", "line-7", "--record", Record(), Image()});
    EXPECT_EQ(run.status, 0) << run.out << run.err;
    EXPECT_TRUE(Contains(run.out, "sdb  KV\\xc3\\xa9  attached: upgrading")) << run.out;
    EXPECT_TRUE(Contains(run.out, "sdc  KV\\xc3\\xa8  attached: upgrading")) << run.out;
    EXPECT_TRUE(Contains(run.out, "sdd  KV\\xc3\\xa8  attached: its unit is still being upgraded"))
        << run.out;
    EXPECT_TRUE(Contains(run.out, "station: 2 succeeded, 0 failed")) << run.out;
    EXPECT_EQ(Writes("sdd"), 0u);
    std::vector<std::string> serials;
    for (const nlohmann::json& record : Records()) {
        serials.push_back(record["serial"].get<std::string>());
        EXPECT_EQ(record["station"], "line-7");
        EXPECT_EQ(record["duplicateSerial"], false);
    }
    std::sort(serials.begin(), serials.end());
    EXPECT_EQ(serials, (std::vector<std::string>{"KV\\xc3\\xa8", "KV\\xc3\\xa9"}));

    // A long serial (a USB string descriptor can carry 378 bytes of UTF-8) is kept whole.
    std::string longSerial;
    for (int i = 0; i < 400; ++i) longSerial += static_cast<char>('A' + i % 26);
    run = Run(1, {"--on", "1:--serial " + longSerial}, {"list", "--json"});
    EXPECT_TRUE(Contains(run.out, "\"" + longSerial + "\"")) << run.out;
}

TEST_F(ProductionLine, AStationRetriesADriveItCannotOpenYetAndCountsOneItNeverCould) {
    // Without CAP_DAC_OVERRIDE (as the operator's own user) the node's mode stops the open:
    // EACCES for the first 1.5 s after the plug-in, then the seat's rule "applies". sdc never
    // becomes accessible.
    const std::string noOverride = "setpriv --bounding-set=-dac_override,-dac_read_search -- ";
    const Outcome run =
        Shell(VdevLine(2, "--on 1:--deny-open-ms=1500 --on 2:--deny-open-ms=60000 --watch " +
                              Events() + " --at '1.finished&2.skipped:int'") +
              noOverride + kCli + " station --events " + Events() + " --record " + Record() + " " +
              Image());
    EXPECT_EQ(run.status, 1) << run.out << run.err;
    EXPECT_TRUE(Contains(run.out,
                         "sdb  KV0001  attached: open failed: Permission denied, "
                         "trying again for 5 s"))
        << run.out;
    EXPECT_TRUE(Contains(run.out, "sdb  KV0001  attached: upgrading")) << run.out;
    EXPECT_TRUE(Contains(run.out, "sdc  KV0002  failed: open failed: Permission denied"))
        << run.out;
    EXPECT_FALSE(Contains(run.out, "not the device")) << run.out;
    EXPECT_TRUE(Contains(run.out, "station: 1 succeeded, 1 failed")) << run.out;
    EXPECT_TRUE(Flashed("sdb"));
}

TEST_F(ProductionLine, AReplugDuringARunNeverStartsASecondRunOnTheUnit) {
    // Every request takes 3 s: the station's own identify, then its child's. The unit is
    // pulled while the child waits on its first request (the device's second) and plugged
    // back, once the station saw it go, before that child has ended; Ctrl-C once the station
    // has told the unit is still being upgraded.
    const Outcome run = Run(1,
                            {"--delay-ms", "3000", "--at", "1#2+200:-1", "--at", "1.removed:+1",
                             "--at", "1.skipped:int"},
                            {"station", "--record", Record(), Image()});
    EXPECT_TRUE(Contains(run.out,
                         "sdb  KV0001  attached: its unit is still being upgraded; it is "
                         "flashed once that run has ended"))
        << run.out;
    EXPECT_TRUE(Contains(run.out, "station: 0 succeeded, 0 failed, 1 cancelled")) << run.out;
    EXPECT_EQ(Records().size(), 1u);
}

TEST_F(ProductionLine, EveryUnitGetsTheImageAsApprovedOrNothing) {
    std::string error;
    const std::string hash = Sha256OfFile(Image(), &error).value_or("?");
    std::string wrong = hash;
    wrong[0] = wrong[0] == '0' ? '1' : '0';
    Outcome run = Run(1, {}, {"upgrade", "--yes", "--expect-sha256", wrong, Image()});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, "kestrel-cli: " + Image() + ": sha256 " + hash + ", expected " + wrong +
                           "; nothing was flashed\n");
    EXPECT_TRUE(ReadText(Log("sdb")).empty());
    run = Run(1, {}, {"upgrade", "--all", "--yes", "--expect-sha256", wrong, Image()});
    EXPECT_EQ(run.status, 1);
    EXPECT_TRUE(ReadText(Log("sdb")).empty());
    run = Run(1, {}, {"upgrade", "--yes", "--expect-sha256", hash, Image()});
    EXPECT_EQ(run.status, 0) << run.err;

    // The file replaced during a station: later units are refused, and say why.
    const pid_t pid = Start(2, {"--at", "replaced:+2", "--at", "finished*2:int"},
                            {"station", "--record", Record(), Image()});
    EXPECT_TRUE(WaitForEvent(Events(), "finished", "sdb"));
    std::vector<std::uint8_t> other = m_image;
    other[std::size_t{20} * kBlockSize] ^= 0xFF;
    WriteBytes(m_dir.File("new.bin"), other);
    std::filesystem::rename(m_dir.File("new.bin"), Image());
    Step("replaced");
    run = Finish(pid);
    EXPECT_EQ(run.status, 1) << run.out << run.err;
    EXPECT_TRUE(Contains(run.out,
                         "the file changed after it was approved, the unit was not "
                         "flashed"))
        << run.out;
    EXPECT_TRUE(Contains(run.out, "station: 1 succeeded, 1 failed")) << run.out;
    EXPECT_EQ(Writes("sdc"), 0u);
}

namespace {

// The lines of a file, each parsed as JSON.
std::vector<nlohmann::json> JsonLines(const std::string& path) {
    std::vector<nlohmann::json> lines;
    std::istringstream text(ReadText(path));
    for (std::string line; std::getline(text, line);)
        lines.push_back(nlohmann::json::parse(line, nullptr, false));
    return lines;
}

// The parent of a process; -1 when it is gone.
pid_t ParentOf(pid_t pid) {
    // "PID (NAME) STATE PPID ...": the name may hold anything but ends at the last ')'.
    const std::string stat = ReadText("/proc/" + std::to_string(pid) + "/stat");
    const std::size_t end = stat.rfind(')');
    if (end == std::string::npos) return -1;
    int parent = -1;
    return std::sscanf(stat.c_str() + end + 1, " %*c %d", &parent) == 1 ? parent : -1;
}

// The kestrel-cli child under root (kestrel-vdev, then the parent kestrel-cli) that upgrades
// drive, once it runs; -1 after 10 s without one. Other tests run beside this one.
pid_t ChildFor(pid_t root, const std::string& drive) {
    const std::string wanted = std::string("--device\0", 9) + drive + '\0';
    for (int tries = 0; tries < 200; ++tries) {
        for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
            const std::string name = entry.path().filename().string();
            if (name.find_first_not_of("0123456789") != std::string::npos) continue;
            const auto pid = static_cast<pid_t>(std::stol(name));
            const std::string args = ReadText(entry.path().string() + "/cmdline");
            if (Contains(args, std::string("--report\0", 9)) && Contains(args, wanted) &&
                ParentOf(ParentOf(pid)) == root)
                return pid;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return -1;
}

}  // namespace

TEST_F(ProductionLine, AUnitWhoseQueryReplyIsEmptyFailsInRecordsEventsCountsAndReport) {
    // upgrade: the dialog's silence and exit status 3 stay; the record and the events say the
    // unit failed, and why, with the lot and the operator.
    Outcome run = Run(
        1, {"--zero-header"},
        {"upgrade", "--yes", "--record", Record(), "--lot", "WO-7", "--operator", "ann", Image()});
    EXPECT_EQ(run.status, 3) << run.err;
    EXPECT_FALSE(Contains(run.err, "empty")) << run.err;
    std::vector<nlohmann::json> records = Records();
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0]["result"], "failed");
    EXPECT_EQ(records[0]["code"], "empty-query-reply");
    EXPECT_EQ(records[0]["message"], "the device's query reply was empty");
    EXPECT_EQ(records[0]["lot"], "WO-7");
    EXPECT_EQ(records[0]["operator"], "ann");
    const std::vector<nlohmann::json> events = JsonLines(m_dir.File("events.checked"));
    ASSERT_EQ(events.size(), 3u);
    const nlohmann::json& finished = events[1];
    for (const char* key : {"run", "result", "code", "message", "unit", "serial", "port", "drive",
                            "blocksSent", "seconds", "lot", "operator"})
        EXPECT_EQ(finished[key], records[0][key]) << key;

    // --all: a child that stopped at an empty reply (status 3) is no success.
    run = Run(2, {"--on", "2:--zero-header"},
              {"upgrade", "--all", "--yes", "--record", Record(), Image()});
    EXPECT_EQ(run.status, 1) << run.out << run.err;
    EXPECT_TRUE(Contains(run.out, "sdc  KV0002  the device's query reply was empty")) << run.out;
    EXPECT_TRUE(Contains(run.out, "2 devices: 1 succeeded, 1 failed")) << run.out;

    // station with a unit database: a failure in its counts, and the unit plugged back is held
    // back by --max-attempts 1.
    run = Run(
        1,
        {"--zero-header", "--at", "1.finished:-1", "--at", "1.removed:+1", "--at", "1.skipped:int"},
        {"station", "--db", "sqlite:" + m_dir.File("line.db"), "--max-attempts", "1", "--record",
         Record(), Image()});
    EXPECT_EQ(run.status, 1) << run.out << run.err;
    EXPECT_TRUE(Contains(run.out, "held back after 1 failures, left alone")) << run.out;
    EXPECT_TRUE(Contains(run.out, "station: 0 succeeded, 1 failed")) << run.out;
    bool skipped = false;
    for (const nlohmann::json& event : JsonLines(m_dir.File("events.checked")))
        skipped = skipped || (event["event"] == "skipped" && event["reason"] == "held-back");
    EXPECT_TRUE(skipped);

    // The report counts all three empty replies as runs that failed.
    run = Shell(kCli + " report --json " + Record());
    const nlohmann::json report = nlohmann::json::parse(run.out, nullptr, false);
    EXPECT_EQ(report["totals"]["runs"], 4) << run.out;
    EXPECT_EQ(report["totals"]["ok"], 1) << run.out;
}

TEST_F(ProductionLine, AUnitWithTwoDrivesIsFlashedOnceAndItsLastProgressIsTheWholeRange) {
    // Two LUNs of one USB device (one serial, one port) and a unit of its own: --all flashes
    // the first unit once, through one of its drives, and the other unit.
    Outcome run = Run(3, {"--on", "2:--serial KV0001 --usb-port 2-2"},
                      {"upgrade", "--all", "--yes", "--record", Record(), Image()});
    EXPECT_EQ(run.status, 0) << run.out << run.err;
    EXPECT_TRUE(Contains(run.out, "2 devices: 2 succeeded, 0 failed")) << run.out;
    EXPECT_EQ(Writes("sdc"), 0u) << "the unit's second drive";
    EXPECT_TRUE(Flashed("sdb"));
    EXPECT_TRUE(Flashed("sdd"));
    EXPECT_EQ(Records().size(), 2u);

    // Every run that ended ok told last, in its progress, that it had sent every block; so
    // does a single upgrade.
    const auto lastProgressIsWhole = [](const std::vector<nlohmann::json>& events) {
        std::map<std::string, nlohmann::json> last;
        unsigned ok = 0;
        for (const nlohmann::json& event : events) {
            const std::string id = event.value("run", "");
            if (event["event"] == "progress") last[id] = event;
            if (event["event"] != "finished" || event["result"] != "ok") continue;
            ++ok;
            EXPECT_TRUE(last.count(id)) << "no progress before " << event;
            if (last.count(id) == 0) continue;
            EXPECT_EQ(last[id]["blocksSent"], last[id]["blocksTotal"]) << last[id];
        }
        return ok;
    };
    EXPECT_EQ(lastProgressIsWhole(JsonLines(m_dir.File("events.checked"))), 2u);
    run = Run(1, {}, {"upgrade", "--yes", Image()});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(lastProgressIsWhole(JsonLines(m_dir.File("events.checked"))), 1u);
}

TEST_F(ProductionLine, AllCountsAChildThatWasKilledAsAFailureWithItsCause) {
    const std::string db = "sqlite:" + m_dir.File("line.db");
    const pid_t pid =
        Start(2, {"--on", "2:--delay-ms 300"},
              {"upgrade", "--all", "--yes", "--db", db, "--record", Record(), Image()});
    const pid_t child = ChildFor(pid, "sdc");
    ASSERT_GT(child, 0);
    // The parent is the one owner of the database: its children are never given it.
    EXPECT_FALSE(Contains(ReadText("/proc/" + std::to_string(child) + "/cmdline"),
                          std::string("--db\0", 5)));
    ::kill(child, SIGKILL);
    const Outcome run = Finish(pid);
    EXPECT_EQ(run.status, 1) << run.out << run.err;
    EXPECT_TRUE(Contains(run.out, "sdc  KV0002  the run's process was ended by signal 9"))
        << run.out;
    EXPECT_TRUE(Contains(run.out, "2 devices: 1 succeeded, 1 failed")) << run.out;
    // The killed child's run still ends in the record, written by its parent.
    std::map<std::string, std::string> codes;
    for (const nlohmann::json& record : Records())
        codes[record["drive"].get<std::string>()] = record["code"].get<std::string>();
    EXPECT_EQ(codes["sdc"], "killed");
    EXPECT_EQ(codes["sdb"], "ok");
}

TEST_F(ProductionLine, AFailureNamesItsCauseInTheRecordAndTheEventWhileTheDialogWordsStay) {
    // sdb refuses block 20, sdc is pulled out after block 18, sdd fails a transfer, sde is a
    // board of another boot type.
    const Outcome run =
        Run(4,
            {"--on", "1:--bad-status-byte2 20 --bad-status-byte2-value 1", "--on",
             "2:--unplug-after 18", "--on", "3:--fail-write 11", "--on", "4:--boot 99"},
            {"upgrade", "--all", "--yes", "--record", Record(), Image()});
    EXPECT_EQ(run.status, 1) << run.out << run.err;
    EXPECT_TRUE(Contains(run.out, "sdb  KV0001  Send Error!")) << run.out;
    EXPECT_TRUE(Contains(run.out, "sdc  KV0002  Send Error!")) << run.out;
    EXPECT_TRUE(Contains(run.out, "sde  KV0004  Boot Type Mismatch!")) << run.out;
    std::map<std::string, std::string> causes;
    for (const nlohmann::json& record : Records())
        causes[record["drive"].get<std::string>()] =
            record["code"].get<std::string>() + " / " + record["detail"].get<std::string>();
    EXPECT_EQ(causes, (std::map<std::string, std::string>{
                          {"sdb", "block-refused / block 20, status 00 00 01 00 14 00 00 00"},
                          {"sdc", "device-gone / ENODEV"},
                          {"sdd", "io-error / DID_ERROR"},
                          {"sde", "check-failed / boot type"}}));
    // The parent's events carry the cause its children found.
    std::map<std::string, std::string> told;
    for (const nlohmann::json& event : JsonLines(m_dir.File("events.checked")))
        if (event["event"] == "finished")
            told[event["drive"].get<std::string>()] =
                event["code"].get<std::string>() + " / " + event["detail"].get<std::string>();
    EXPECT_EQ(told, causes);
}

TEST_F(ProductionLine, OneShiftCountsTheSameInTheConsoleBothPagesAndTheReport) {
    // A station on one unit database and record file: KV0001 ok, then plugged back (left
    // alone: done); KV0002 fails a transfer; KV0003 is slow and Ctrl-C cancels it. Then one
    // upgrade at the same station is declined at its prompt.
    const std::string db = "sqlite:" + m_dir.File("line.db");
    Outcome run =
        Run(3,
            {"--on", "2:--fail-write 11", "--on", "3:--delay-ms 200", "--at", "1.finished:-1",
             "--at", "1.removed:+1", "--at", "1.skipped&2.finished&3/2:int"},
            {"station", "--station", "L1", "--db", db, "--record", Record(), Image()});
    EXPECT_EQ(run.status, 1) << run.out << run.err;
    std::string console;
    std::istringstream lines(run.out);
    for (std::string line; std::getline(lines, line);)
        if (line.rfind("station: runs: ", 0) == 0) console = line.substr(15);
    EXPECT_EQ(console,
              "1 ok, 1 failed, 1 cancelled, 0 declined, 1 left alone; yield 33.3 % of 3 runs")
        << run.out;
    StationSnapshot page({});
    std::istringstream events(ReadText(m_dir.File("events.checked")));
    for (std::string event; std::getline(events, event);) page.OnEvent(event);
    const nlohmann::json state = nlohmann::json::parse(page.StateJson())["counts"];

    run = Run(1, {}, {"upgrade", "--station", "L1", "--db", db, "--record", Record(), Image()});
    EXPECT_EQ(run.status, 3) << run.err;

    std::string error;
    const std::unique_ptr<UnitDatabase> database = UnitDatabase::Open(db, &error);
    ASSERT_TRUE(database) << error;
    LineView view;
    view.Refresh(*database, UtcNowText());
    const nlohmann::json line = nlohmann::json::parse(view.Snapshot());
    ASSERT_EQ(line["stations"].size(), 1u) << line;

    // The records and the database hold the same four runs: counted once, the copies said.
    run = Shell(kCli + " report --json " + Record() + " " + db);
    const nlohmann::json both = nlohmann::json::parse(run.out, nullptr, false);
    EXPECT_EQ(both["duplicatesDropped"], 4) << run.out << run.err;
    for (const std::string& sources : {Record(), db}) {
        run = Shell(kCli + " report --json " + sources);
        const nlohmann::json alone = nlohmann::json::parse(run.out, nullptr, false);
        EXPECT_EQ(alone["totals"], both["totals"]) << sources;
        EXPECT_EQ(alone["units"], both["units"]) << sources;
        EXPECT_EQ(alone["duplicatesDropped"], 0) << sources;
    }
    const nlohmann::json& report = both["totals"];

    for (const nlohmann::json* counts : {&state, &line["counts"], &line["stations"][0]["counts"]}) {
        SCOPED_TRACE(counts->dump());
        for (const char* key : {"ok", "failed", "cancelled"})
            EXPECT_EQ((*counts)[key], report[key]) << key;
        EXPECT_DOUBLE_EQ((*counts)["yieldPercent"].get<double>(),
                         report["yieldPercent"].get<double>());
        EXPECT_EQ((*counts)["units"]["tried"], both["units"]["tried"]);
        EXPECT_EQ((*counts)["units"]["passed"], both["units"]["passed"]);
        EXPECT_EQ((*counts)["units"]["firstPass"], both["units"]["firstPass"]);
        EXPECT_EQ((*counts)["causes"], report["causes"]);
    }
    EXPECT_EQ(report["ok"], 1);
    EXPECT_EQ(report["failed"], 1);
    EXPECT_EQ(report["cancelled"], 1);
    EXPECT_EQ(report["causes"], (nlohmann::json{{"io-error", 1}}));
    // The declined run is in the records (the report and the line page), not the station's.
    EXPECT_EQ(report["declined"], 1);
    EXPECT_EQ(line["counts"]["declined"], 1);
    EXPECT_EQ(state["declined"], 0);
    // A unit left alone has no record: only the station that left it alone counts it.
    EXPECT_EQ(state["leftAlone"], 1);
    EXPECT_EQ(line["counts"]["leftAlone"], 0);
}

namespace {

// The processes whose parent is `parent`.
std::vector<pid_t> ChildrenOf(pid_t parent) {
    std::vector<pid_t> children;
    for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
        const std::string name = entry.path().filename().string();
        if (name.find_first_not_of("0123456789") != std::string::npos) continue;
        const std::string stat = ReadText(entry.path().string() + "/stat");
        const std::size_t close = stat.rfind(')');
        if (close == std::string::npos) continue;
        std::istringstream rest(stat.substr(close + 2));
        std::string state;
        pid_t ppid = 0;
        rest >> state >> ppid;
        if (ppid == parent) children.push_back(std::stoi(name));
    }
    return children;
}

// What each descriptor of `pid` names ("/path", "socket:[INODE]", ...).
std::vector<std::string> Descriptors(pid_t pid) {
    std::vector<std::string> targets;
    std::error_code error;
    for (const auto& entry :
         std::filesystem::directory_iterator("/proc/" + std::to_string(pid) + "/fd", error))
        targets.push_back(std::filesystem::read_symlink(entry.path(), error).string());
    return targets;
}

}  // namespace

TEST_F(ProductionLine, AUnitsChildHoldsNoneOfTheStationsFilesOrSockets) {
    // A slow unit plugged in once the pages on a free port have a client connected: the child
    // that flashes it holds neither the events file nor a socket of the pages.
    const pid_t vdev = Start(1, {"--delay-ms", "20", "--at", "4000:+1"},
                             {"station", "--web", "0", "--record", Record(), Image()});
    std::string url;
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (url.empty() && std::chrono::steady_clock::now() < until) {
        const std::string err = ReadText(m_dir.File("err"));
        if (const std::size_t at = err.find("live page at http://127.0.0.1:");
            at != std::string::npos)
            url = err.substr(at + 30, err.find('/', at + 30) - at - 30);
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    ASSERT_FALSE(url.empty());
    const int client = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(static_cast<std::uint16_t>(std::stoi(url)));
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(::connect(client, reinterpret_cast<sockaddr*>(&to), sizeof to), 0);
    pid_t station = 0, child = 0;
    while (child == 0 && std::chrono::steady_clock::now() < until + std::chrono::seconds(30)) {
        for (const pid_t pid : ChildrenOf(vdev)) station = pid;
        if (station != 0 && !ChildrenOf(station).empty()) child = ChildrenOf(station).front();
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    ASSERT_NE(child, 0);
    // The station's TCP sockets (the pages' listening and accepted ones).
    std::vector<std::string> tcp;
    for (const char* table : {"/proc/net/tcp", "/proc/net/tcp6"}) {
        std::istringstream lines(ReadText(table));
        std::string line;
        std::getline(lines, line);
        while (std::getline(lines, line)) {
            std::istringstream fields(line);
            std::string field;
            for (int i = 0; i < 10 && fields >> field; ++i) {
            }
            tcp.push_back("socket:[" + field + "]");
        }
    }
    for (const std::string& target : Descriptors(child)) {
        EXPECT_EQ(target.find(Events()), std::string::npos) << "the child holds the events file";
        EXPECT_EQ(std::count(tcp.begin(), tcp.end(), target), 0) << "the child holds " << target;
    }
    ::close(client);
    ::kill(station, SIGINT);
    Finish(vdev);
}
