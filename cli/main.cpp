#include <CLI/CLI.hpp>
#include <functional>
#include <iostream>
#include <string>
#include <vector>

#include "KestrelVersion.h"

#include "cli/CliCommon.h"
#include "cli/CommandLine.h"
#include "cli/ConsoleInterrupt.h"
#include "cli/GenerateCommands.h"
#include "cli/InfoCommand.h"
#include "cli/ListCommand.h"
#include "cli/PlatformCommands.h"
#include "cli/ReportCommand.h"
#include "cli/RequestTrace.h"
#include "cli/StationCommand.h"
#include "cli/UpgradeCommand.h"
#include "cli/WebCommands.h"
#include "ledger/UnitDatabase.h"

int main(int argc, char** argv) {
    ConsoleInterrupt::IgnoreBrokenPipes();
    // The unit database's calls wait through the console's interrupt: Ctrl-C is answered
    // whatever the database does.
    UnitDatabase::SetWait(&ConsoleInterrupt::SleepUntil);
    CLI::App app{"kestrel-cli: firmware upgrade tool, console front end"};
    app.set_version_flag("--version", std::string("kestrel-cli ") + kKestrelVersion);
    app.require_subcommand(1);
    // Accepted before or after the sub-command.
    app.fallthrough();
    bool verbose = false;
    app.add_flag("--verbose", verbose, "Trace every vendor request on stderr");
    std::function<int()> run;
    RegisterInfoCommand(app, &run);
    RegisterGenerateCommands(app, &run);
    RegisterListCommand(app, &run);
    RegisterUpgradeCommand(app, &run);
    RegisterStationCommand(app, &run);
    RegisterPlatformCommands(app, &run);
    RegisterReportCommand(app, &run);
    RegisterLineCommand(app, &run);
    std::vector<std::string> args = CommandLineArguments(argc, argv);
    std::vector<char*> utf8Argv;
    for (std::string& arg : args) utf8Argv.push_back(arg.data());
    utf8Argv.push_back(nullptr);
    if (const auto unknown = UnknownCommandText(app, args)) {
        std::cerr << "kestrel-cli: " << *unknown << '\n';
        return kExitUsage;
    }
    try {
        app.parse(static_cast<int>(args.size()), utf8Argv.data());
    } catch (const CLI::ParseError& e) {
        const int code = app.exit(e);
        return code == 0 ? kExitOk : kExitUsage;
    }
    RequestTrace trace;
    if (verbose) SetDeviceTrace(&trace);
    const int status = run ? run() : kExitUsage;
    SetDeviceTrace(nullptr);
    return status;
}
