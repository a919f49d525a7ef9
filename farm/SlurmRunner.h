// Every Slurm command the farm gives (sbatch, squeue, scontrol, scancel) goes
// through one runner, so tests can answer for Slurm and see exactly what was
// asked of it, scripts included.
#pragma once

#include <string>
#include <vector>

namespace skelvane::farm {

struct CommandResult {
    bool started = false;  // false when the program could not be run at all
    int exitStatus = -1;   // 128 + N when it was killed by signal N
    std::string out;
    std::string err;

    bool Succeeded() const { return started && exitStatus == 0; }
};

class CSlurmRunner {
public:
    virtual ~CSlurmRunner() = default;
    // Runs argv (program first, looked up in PATH) and waits for it.
    virtual CommandResult Run(const std::vector<std::string>& argv) = 0;
};

// Runs the real programs, with their output captured.
class CProcessRunner final : public CSlurmRunner {
public:
    CommandResult Run(const std::vector<std::string>& argv) override;
};

// "sbatch: error: ..." or the exit status, for a message.
std::string FailureText(const CommandResult& result, const std::string& program);

}  // namespace skelvane::farm
