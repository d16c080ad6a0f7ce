#include "cli/ReportCommand.h"

#include <CLI/CLI.hpp>
#include <iostream>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "cli/CliCommon.h"
#include "ledger/UtcTime.h"
#include "image/File.h"
#include "ledger/JsonLinesTally.h"
#include "ledger/PrintableText.h"
#include "ledger/ReportDatabase.h"
#include "ledger/UnitDatabase.h"
#include "ledger/YieldReport.h"
#include "web/Slots.h"

namespace {

struct ReportArgs {
    bool json = false;
    std::optional<std::string> html;
    std::optional<std::string> since, until, image;
    std::vector<std::string> stations;
    std::vector<std::string> sources;
    std::optional<std::string> slotsFile;
};

int Fail(const std::string& message, int status = kExitFailure) {
    std::cerr << "kestrel-cli: " << PrintableText(message) << '\n';
    return status;
}

int RunReport(const ReportArgs& args) {
    ReportFilter filter;
    std::string error;
    if ((args.since && !filter.SetSince(*args.since, &error)) ||
        (args.until && !filter.SetUntil(*args.until, &error)))
        return Fail(error, kExitUsage);
    filter.stations = args.stations;
    std::vector<WebSlot> slots;
    if (args.slotsFile && !ReadSlotsFile(*args.slotsFile, &slots, &error))
        return Fail(error, kExitUsage);
    filter.image = args.image;

    // A database alone counts its own runs (GROUP BY). Given with other sources, the first
    // database still does, and every other source drops the runs it has (by run id); the
    // record files are read together, so a run found in two files is counted once too.
    YieldTally tally;
    JsonLinesTally others(filter);
    bool counted = false, anyOther = false;
    for (const std::string& source : args.sources) {
        if (!IsDatabaseUrl(source)) continue;
        const std::unique_ptr<ReportDatabase> db = ReportDatabase::Open(source, &error);
        if (!db) return Fail(error);
        const bool alone = args.sources.size() == 1;
        if (!counted) {
            if (!db->Tally(filter, &tally, &error)) return Fail(error);
            if (!alone &&
                !db->EachRun(
                    filter, [&](const RunRow& row) { others.CountedElsewhere(row.run); }, &error))
                return Fail(error);
            counted = true;
            continue;
        }
        if (!db->EachRun(
                filter, [&](const RunRow& row) { others.AddRow(row); }, &error))
            return Fail(error);
        anyOther = true;
    }
    for (const std::string& source : args.sources) {
        if (IsDatabaseUrl(source)) continue;
        if (!others.AddFile(source, &error)) return Fail(error);
        anyOther = true;
    }
    if (anyOther) tally.Add(others.Finish());
    // The records keep the USB port; the operators know the slot by the name the station's
    // slots file gives it.
    if (!slots.empty()) {
        const auto name = [&](const std::string& port) {
            const std::string label = SlotLabel(slots, port);
            return label.empty() ? port : label;
        };
        std::map<std::pair<std::string, std::string>, YieldCounts> named;
        for (const auto& [key, counts] : tally.slots)
            named[{key.first, name(key.second)}].Add(counts);
        tally.slots = std::move(named);
        std::map<std::tuple<std::string, std::string, std::string>, YieldTally::Cause> causes;
        for (const auto& [key, cause] : tally.causes) {
            YieldTally::Cause& mine =
                causes[{std::get<0>(key), name(std::get<1>(key)), std::get<2>(key)}];
            mine.runs += cause.runs;
            if (cause.when >= mine.when) {
                mine.when = cause.when;
                mine.detail = cause.detail;
            }
        }
        tally.causes = std::move(causes);
    }

    const YieldReport report(std::move(tally), UtcNowText(), filter);
    if (args.html) {
        const std::string page = report.ToHtml();
        File out;
        if (!out.CreateForWriting(*args.html) || !out.Write(page.data(), page.size()) ||
            !out.Commit())
            return Fail(out.ErrorText());
        // Said on stderr: standard output may carry the JSON.
        const YieldCounts& totals = report.Totals();
        std::cerr << "kestrel-cli: wrote the report to " << PrintableText(*args.html) << ": "
                  << totals.runs << " runs (" << totals.ok << " ok, " << totals.failed
                  << " failed) of " << report.Tally().unitsTried << " units, from "
                  << args.sources.size() << (args.sources.size() == 1 ? " source" : " sources")
                  << (filter.Any() ? ", filtered" : "") << '\n';
    }
    if (args.json)
        std::cout << report.ToJson().dump(2, ' ', false,
                                          nlohmann::ordered_json::error_handler_t::replace)
                  << '\n';
    else if (!args.html)
        std::cout << report.ToText();
    return kExitOk;
}

}  // namespace

void RegisterReportCommand(CLI::App& app, std::function<int()>* run) {
    auto args = std::make_shared<ReportArgs>();
    CLI::App* report = app.add_subcommand(
        "report",
        "Yield by runs and units, first-pass yield, units to rework, failures by message and "
        "slot, cycle time, per day and hour, from record files and unit databases (read only)");
    report->add_flag("--json", args->json, "Print the report as one JSON object");
    report->add_option("--html", args->html,
                       "Write the report as one self-contained HTML page with a chart to FILE");
    report->add_option("--since", args->since,
                       "Only runs from this UTC date or time on (2026-12-01, 2026-12-01T06:00)");
    report->add_option("--until", args->until,
                       "Only runs before this UTC time, or up to the end of this UTC date");
    report->add_option("--slots", args->slotsFile,
                       "Name the slots as the stations' --slots FILE does (PORT LABEL lines)");
    report->add_option("--station", args->stations, "Only runs of this station (repeatable)");
    report->add_option("--image", args->image,
                       "Only runs of this image: a SHA-256 prefix or the file's name");
    report
        ->add_option("SOURCE", args->sources,
                     "JSON Lines record file, or database (sqlite:PATH, postgresql://...)")
        ->required();
    report->callback([args, run] { *run = [args] { return RunReport(*args); }; });
}
