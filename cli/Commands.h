// The subcommands of skelvane-cli. Each adds itself to the application and
// returns what main runs when it was chosen.
#pragma once

#include <functional>
#include <optional>
#include <utility>

#include <CLI/CLI.hpp>

#include "farm/FrameSequence.h"

namespace skelvane::cli {

struct Command {
    using Plan = std::function<std::optional<farm::CFrameSequence>(int& exitStatus)>;

    Command(CLI::App* command, std::function<int()> runCommand, Plan planFrames = {})
        : app(command), run(std::move(runCommand)), plan(std::move(planFrames))
    {
    }

    CLI::App* app;
    std::function<int()> run;  // the exit status
    // Render commands that write numbered frames: checks the options as run
    // would (printing the same messages) and says which frames it would write
    // where, without rendering; nothing, with the exit status, when run would
    // refuse. The farm splits the sequence from it.
    Plan plan;
};

Command AddCube2DomeCommand(CLI::App& app);
Command AddSampleCommand(CLI::App& app);
Command AddPano2DomeCommand(CLI::App& app);
Command AddFarmCommand(CLI::App& app);
Command AddEncodeCommand(CLI::App& app);

}  // namespace skelvane::cli
