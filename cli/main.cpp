// skelvane-cli: the command-line front end for scripts and render farms.
//
// Exit status: 0 finished, 1 failed, 2 bad arguments (found before anything
// is rendered), 130 stopped by an interrupt; no other.
#include <csignal>
#include <cstdio>
#include <exception>
#include <new>
#include <string>
#include <vector>

#include <CLI/CLI.hpp>

#include "cli/Commands.h"
#include "cli/ConsoleJob.h"
#include "cli/Interrupts.h"
#include "cli/OutOfMemory.h"
#include "engine/jobs/MessageReporter.h"
#include "engine/jobs/StandardStreams.h"

int main(int argc, char** argv)
{
    using namespace skelvane;
    using namespace skelvane::cli;
    if (!ReopenClosedStandardStreams()) {
        return kExitFailed;  // nowhere to print, and files could take the closed numbers
    }
    StartInterruptWatcher();
    // A file-size limit (ulimit -f) must fail the write with EFBIG, which the
    // job reports and survives; by default SIGXFSZ would kill the program
    // with a half-written temporary file left behind.
    std::signal(SIGXFSZ, SIG_IGN);
    // A reader of the progress lines that goes away (`| head -1`) must not
    // end the render: the lines that cannot be written are dropped.
    std::signal(SIGPIPE, SIG_IGN);
    try {
        CLI::App app{"Skelvane: cube maps and panoramas to fulldome masters"};
        app.require_subcommand(1);
        const std::vector<Command> commands = {
            AddCube2DomeCommand(app),
            AddSampleCommand(app),
            AddPano2DomeCommand(app),
            AddFarmCommand(app),
            AddEncodeCommand(app),
        };
        try {
            app.parse(argc, argv);
        } catch (const CLI::ParseError& error) {
            return app.exit(error) == 0 ? kExitFinished : kExitBadArguments;
        }
        for (const Command& command : commands) {
            if (command.app->parsed()) {
                try {
                    return command.run();
                } catch (const std::bad_alloc& failure) {
                    const std::string doing = "The " + command.app->get_name() + " command";
                    std::fprintf(stderr, "%s\n", OutOfMemoryReport(failure, doing).c_str());
                    return kExitFailed;
                }
            }
        }
        return kExitBadArguments;
    } catch (const std::bad_alloc&) {
        std::fprintf(stderr, "%s\n", kOutOfMemoryText);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "%s\n", error.what());
    }
    return kExitFailed;
}
