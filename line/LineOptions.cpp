#include "line/LineOptions.h"

#include "ledger/UnitDatabase.h"

std::vector<std::string> LineOptions::ChildArguments() const {
    std::vector<std::string> args;
    if (type) args.insert(args.end(), {"--type", *type});
    if (channel) args.insert(args.end(), {"--channel", *channel});
    if (record) args.insert(args.end(), {"--record", *record});
    if (station) args.insert(args.end(), {"--station", *station});
    // The URL (and a password in it) reaches the children through their environment, never a
    // command line that every user of the machine can read.
    if (db) args.insert(args.end(), {"--db", DatabaseArgumentForChildren(*db)});
    if (maxAttempts > 0) args.insert(args.end(), {"--max-attempts", std::to_string(maxAttempts)});
    if (skipDone) args.push_back("--skip-done");
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
