// The fault campaign's process side: kestrel-cli upgrade under kestrel-vdev with a random image
// and a random fault; its exit status must match the message it ended with (0 "Finish OK!", 1 a
// failure message, 3 no message). Few cases, since each is two processes and a real-time run.
#include <gtest/gtest.h>
#include <rapidcheck/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <fstream>
#include <set>
#include <sstream>
#include <string>

#include "tests/support/ImageBuilder.h"

namespace {

const std::string kBuild = KESTREL_BUILD_DIR;

std::string LastLine(const std::string& path) {
    std::ifstream in(path);
    std::string line, last;
    while (std::getline(in, line))
        if (!line.empty()) last = line;
    return last;
}

// vdev options for one random fault (or none) around blocks start..end-1.
std::string RandomFault(unsigned start, unsigned end) {
    const auto block = [&] { return std::to_string(*rc::gen::inRange(start - 1, end + 1)); };
    const unsigned blocks = end - start;
    switch (*rc::gen::inRange(0, 11)) {
        case 0:
            return "--fail-command " + std::to_string(*rc::gen::inRange(1u, 5 * blocks + 6));
        case 1:
            return "--fail-write " + std::to_string(*rc::gen::inRange(1u, 4 * blocks + 4));
        case 2:
            return "--fail-read " + std::to_string(*rc::gen::inRange(1u, blocks + 3));
        case 3:
            return "--bad-status-byte2 " + block();
        case 4:
            return "--wrong-block-number " + block();
        case 5:
            return "--nonzero-byte5 " + block();
        case 6:
            return "--unplug-after " + block();
        case 7:
            return "--identify-swapped";
        case 8:
            return "--zero-header";
        case 9:
            return "--family XX";
        default:
            return "";
    }
}

}  // namespace

RC_GTEST_PROP(FaultCampaignCli, ExitStatusMatchesTheMessage, ()) {
    const auto start = *rc::gen::inRange<std::uint16_t>(16, 40);
    const auto end = static_cast<std::uint16_t>(start + *rc::gen::inRange(1, 8));
    const std::string fault = RandomFault(start, end);
    TempDir dir;
    WriteBytes(dir.File("image.bin"), BuildRawImage({.startBlock = start, .endBlock = end}));
    const std::string command = kBuild + "/vdev/kestrel-vdev " + fault + " -- " + kBuild +
                                "/cli/kestrel-cli upgrade --yes " + dir.File("image.bin") +
                                " >/dev/null 2>" + dir.File("err");
    const int raw = std::system(command.c_str());
    RC_ASSERT(WIFEXITED(raw));
    const int status = WEXITSTATUS(raw);
    const std::string last = LastLine(dir.File("err"));
    RC_TAG(last);

    static const std::set<std::string> kFailures{"Device Open Fail!", "Send Error!", "Read Error!",
                                                 "Chip Type Mismatch!", "Boot Type Mismatch!"};
    if (last == "Finish OK!")
        RC_ASSERT(status == 0);
    else if (kFailures.count(last) != 0)
        RC_ASSERT(status == 1);
    else
        RC_ASSERT(status == 3);  // ended without a message
}
