#pragma once
// What a production run (upgrade --all, station) was asked for, and the one place that passes
// it on to each child ("upgrade --device DRIVE --yes --report" plus ChildArguments).

#include <optional>
#include <string>
#include <vector>

class EventSink;

struct LineOptions {
    std::optional<std::string> type;
    std::optional<std::string> channel;
    std::optional<std::string> record;
    std::optional<std::string> station;
    std::optional<std::string> expectSha256;
    // --allowed-signers FILE; the parent passes on the file it verified with (the site-wide
    // one when none was named), so every child checks against the same list.
    std::optional<std::string> allowedSigners;
    std::optional<std::string> db;  // --db URL (see DatabaseLedger)
    int maxAttempts = 0;            // station --max-attempts
    bool skipDone = false;          // station: a unit done with this image anywhere is left alone
    std::string file;
    std::optional<std::string> events;  // --events FILE|- (the parent's; children send reports)
    std::optional<std::string> lot;     // --lot: the work order, in every record and event
    std::optional<std::string> person;  // --operator
    // --identity attachment: every plug-in is a new unit, nothing is skipped as done, claims go
    // by station and port (for units that all carry one serial).
    bool byAttachment = false;
    bool verbose = false;  // --verbose: each child traces its requests too
    // The file's hash as the parent read it (see ApprovedImage); every child refuses a file
    // that no longer has it.
    std::string approvedSha256 = {};
    // Who signed it, as the parent verified it (see ReleaseSignature); "" when unchecked.
    std::string signer = {}, signerFingerprint = {};
    // Where the line's events go besides the --events stream (a web view, a test).
    std::vector<EventSink*> sinks = {};

    // The options and FILE as each child gets them.
    std::vector<std::string> ChildArguments() const;
};
