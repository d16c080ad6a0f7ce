#include "cli/WebCommands.h"

#include <CLI/CLI.hpp>
#include <chrono>
#include <iostream>

#include "cli/CliCommon.h"
#include "cli/ConsoleInterrupt.h"
#include "ledger/DatabaseLedger.h"
#include "ledger/ReportDatabase.h"
#include "ledger/RunHistory.h"
#include "ledger/UnitDatabase.h"

namespace {

// Reads what --web and its companions name; false (after saying why) on a mistake.
bool ReadWebOptions(const WebCliOptions& cli, WebOptions* options) {
    std::string error;
    if (!WebSupported(&error) ||
        !ParseWebOptions(*cli.listen, cli.tokenFile.value_or(""), options, &error) ||
        (cli.slotsFile && !ReadSlotsFile(*cli.slotsFile, &options->slots, &error))) {
        std::cerr << "kestrel-cli: " << error << "\n";
        return false;
    }
    return true;
}

// The line's page only reads: the database opened as the report opens it (no schema created or
// migrated, no pragma that writes, no unsent rows sent, a missing SQLite file an error, no
// private folder), seen through the one call the page makes.
class ReadOnlyLine : public UnitDatabase {
public:
    explicit ReadOnlyLine(std::unique_ptr<ReportDatabase> database)
        : m_database(std::move(database)) {}

    ClaimVerdict Check(const std::string&, const std::string&, const UnitPolicy&) override {
        return Refused();
    }
    ClaimVerdict ClaimAndStart(const RunRow&, const UnitPolicy&) override { return Refused(); }
    bool Finish(const RunRow&, std::string* note) override {
        *note = "the line's page does not write";
        return false;
    }
    bool ReadRuns(RunHistory& history, std::string* error) override {
        return m_database->EachRun(
            ReportFilter{}, [&history](const RunRow& row) { history.Add(row); }, error);
    }
    bool ReadRunsSince(const std::string& since, std::vector<RunRow>* rows,
                       std::string* error) override {
        ReportFilter filter;
        filter.since = since;
        return m_database->EachRun(
            filter, [rows](const RunRow& row) { rows->push_back(row); }, error);
    }
    bool Ping(std::string*) override { return true; }

private:
    static ClaimVerdict Refused() {
        ClaimVerdict verdict;
        verdict.outcome = ClaimVerdict::Outcome::Error;
        verdict.error = "the line's page does not claim units";
        return verdict;
    }

    std::unique_ptr<ReportDatabase> m_database;
};

int RunLine(const WebCliOptions& cli, const std::string& url) {
    WebOptions options;
    if (!ReadWebOptions(cli, &options)) return kExitUsage;
    std::string error;
    std::unique_ptr<ReportDatabase> reader = ReportDatabase::Open(url, &error);
    std::unique_ptr<UnitDatabase> database =
        reader ? std::make_unique<ReadOnlyLine>(std::move(reader)) : nullptr;
    if (!database) {
        std::cerr << "kestrel-cli: " << error << "\n";
        return kExitUsage;
    }
    ConsoleInterrupt interrupt;
    const std::unique_ptr<WebService> pages =
        WebService::StartLine(options, std::move(database), &error);
    if (!pages) {
        std::cerr << "kestrel-cli: " << error << "\n";
        return kExitUsage;
    }
    std::cerr << "line: the line's page is at " << pages->Url() << "; Ctrl-C stops\n";
    while (ConsoleInterrupt::SleepUntil(std::chrono::steady_clock::now() + std::chrono::hours(1))) {
    }
    return kExitOk;
}

}  // namespace

void AddWebOptions(CLI::App& command, WebCliOptions& options, bool slots) {
    CLI::Option* web = command.add_option(
        "--web", options.listen,
        "Serve a live page at [ADDRESS:]PORT (127.0.0.1 unless an address is given)");
    command
        .add_option("--web-token-file", options.tokenFile,
                    "Every request to the page needs the token in FILE (required for an address "
                    "other than loopback)")
        ->needs(web);
    if (slots)
        command.add_option("--slots", options.slotsFile,
                           "Name the slots: FILE has one 'PORT LABEL' per line (1-1.4 Slot 3)");
}

std::unique_ptr<WebService> StartStationPages(const WebCliOptions& cli, int* status) {
    *status = kExitOk;
    if (!cli.listen) return nullptr;
    WebOptions options;
    if (!ReadWebOptions(cli, &options)) {
        *status = kExitUsage;
        return nullptr;
    }
    std::string error;
    std::unique_ptr<WebService> pages = WebService::StartStation(options, &error);
    if (!pages) {
        std::cerr << "kestrel-cli: " << error << "\n";
        *status = kExitUsage;
        return nullptr;
    }
    std::cerr << "station: live page at " << pages->Url() << "\n";
    return pages;
}

void RegisterLineCommand(CLI::App& app, std::function<int()>* run) {
    auto options = std::make_shared<WebCliOptions>();
    auto url = std::make_shared<std::optional<std::string>>();
    CLI::App* line = app.add_subcommand(
        "line", "Serve the whole line's page from the unit database (read only)");
    AddDatabaseOption(*line, *url)->required();
    AddWebOptions(*line, *options, false);
    line->get_option("--web")->required();
    line->callback(
        [options, url, run] { *run = [options, url] { return RunLine(*options, **url); }; });
}
