#include "cli/ReportCommand.h"

#include <CLI/CLI.hpp>
#include <iostream>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "cli/CliCommon.h"
#include "image/File.h"
#include "ledger/RunHistory.h"
#include "ledger/UnitDatabase.h"
#include "ledger/YieldReport.h"

namespace {

struct ReportArgs {
    bool json = false;
    std::optional<std::string> html;
    std::vector<std::string> sources;
};

int RunReport(const ReportArgs& args) {
    RunHistory history;
    for (const std::string& source : args.sources) {
        std::string error;
        if (IsDatabaseUrl(source)) {
            const std::unique_ptr<UnitDatabase> db = UnitDatabase::Open(source, &error);
            if (!db || !db->ReadRuns(history, &error)) {
                std::cerr << "kestrel-cli: " << error << '\n';
                return kExitFailure;
            }
        } else if (!history.AddJsonLinesFile(source, &error)) {
            std::cerr << "kestrel-cli: " << error << '\n';
            return kExitFailure;
        }
    }
    const YieldReport report(history.Rows(), history.SkippedLines());
    if (args.html) {
        const std::string page = report.ToHtml();
        File out;
        if (!out.CreateForWriting(*args.html) || !out.Write(page.data(), page.size()) ||
            !out.Commit()) {
            std::cerr << "kestrel-cli: " << out.ErrorText() << '\n';
            return kExitFailure;
        }
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
        "Yield per image, station and hour, failures and interrupted runs, from record files "
        "and unit databases");
    report->add_flag("--json", args->json, "Print the report as one JSON object");
    report->add_option("--html", args->html,
                       "Write the report as one self-contained HTML page with a chart to FILE");
    report
        ->add_option("SOURCE", args->sources,
                     "JSON Lines record file, or database (sqlite:PATH, postgresql://...)")
        ->required();
    report->callback([args, run] { *run = [args] { return RunReport(*args); }; });
}
