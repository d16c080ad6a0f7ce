#include "line/LineOptions.h"

std::vector<std::string> LineOptions::ChildArguments() const {
    std::vector<std::string> args;
    if (type) args.insert(args.end(), {"--type", *type});
    if (channel) args.insert(args.end(), {"--channel", *channel});
    if (station) args.insert(args.end(), {"--station", *station});
    // The record file and the unit database are the parent's alone (see ChildUpgrades): a
    // child reports its rows and never connects. The record file is named only for a parent
    // killed before the run's end (see ParentLedger).
    if (record) args.insert(args.end(), {"--record", *record});
    if (lot) args.insert(args.end(), {"--lot", *lot});
    if (person) args.insert(args.end(), {"--operator", *person});
    if (byAttachment) args.insert(args.end(), {"--identity", "attachment"});
    if (verbose) args.push_back("--verbose");
    if (allowedSigners) args.insert(args.end(), {"--allowed-signers", *allowedSigners});
    if (!approvedSha256.empty()) args.insert(args.end(), {"--approved-sha256", approvedSha256});
    // "--" keeps a file name that starts with '-' a file name.
    args.insert(args.end(), {"--", file});
    return args;
}
