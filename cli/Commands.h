// The subcommands of skelvane-cli. Each adds itself to the application and
// returns what main runs when it was chosen.
#pragma once

#include <functional>

#include <CLI/CLI.hpp>

namespace skelvane::cli {

struct Command {
    CLI::App* app = nullptr;
    std::function<int()> run;  // the exit status
};

Command AddCube2DomeCommand(CLI::App& app);
Command AddSampleCommand(CLI::App& app);
Command AddPano2DomeCommand(CLI::App& app);

}  // namespace skelvane::cli
