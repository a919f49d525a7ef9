// skelvane-cli: the command-line front end for scripts and render farms.
#include <csignal>
#include <vector>

#include <CLI/CLI.hpp>

#include "cli/Commands.h"
#include "cli/ConsoleJob.h"

int main(int argc, char** argv)
{
    using namespace skelvane::cli;
    BlockInterruptSignals();
    // A file-size limit (ulimit -f) must fail the write with EFBIG, which the
    // job reports and survives; by default SIGXFSZ would kill the program
    // with a half-written temporary file left behind.
    std::signal(SIGXFSZ, SIG_IGN);
    CLI::App app{"Skelvane: cube maps and panoramas to fulldome masters"};
    app.require_subcommand(1);
    const std::vector<Command> commands = {
        AddCube2DomeCommand(app),
        AddSampleCommand(app),
        AddPano2DomeCommand(app),
    };
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& error) {
        return app.exit(error) == 0 ? kExitFinished : kExitBadArguments;
    }
    for (const Command& command : commands) {
        if (command.app->parsed()) {
            return command.run();
        }
    }
    return kExitBadArguments;
}
