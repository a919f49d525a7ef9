// What Slurm knows of the tasks of our job arrays, read from squeue (tasks
// that are queued or running, one line per task) and scontrol (every task
// record the controller still keeps, finished ones included, for MinJobAge
// after they end), and one setting of the cluster.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "farm/SlurmRunner.h"

namespace skelvane::farm {

enum class TaskState {
    Queued,     // pending, requeued, held
    Running,    // running, completing, suspended
    Failed,     // ended badly: failed, timeout, out of memory, node failure...
    Cancelled,
    Completed,
};

// Slurm's state name ("RUNNING", "OUT_OF_MEMORY"; a "CANCELLED by 0" is
// cut at the blank) as one of ours.
TaskState TaskStateFromSlurm(const std::string& name);

// Array task index -> state, per array job id.
using ArrayTaskStates = std::map<std::string, std::map<long long, TaskState>>;

// Lines of `squeue -h -r -o "%F %K %T"`.
void ParseSqueueTasks(const std::string& text, ArrayTaskStates& states);
// Lines of `scontrol -o show job ID`; a pending array's single record names
// its tasks as a range ("ArrayTaskId=5-239%2"), expanded up to `maxIndex`.
void ParseScontrolTasks(const std::string& text, long long maxIndex, ArrayTaskStates& states);

// The states of every task of these arrays that Slurm still knows. Tasks it
// has forgotten are absent. A query that fails for another reason than
// forgotten job ids is described in `warning`.
ArrayTaskStates QueryArrayTasks(CSlurmRunner& runner, const std::vector<std::string>& jobIds, long long maxIndex,
                                std::string& warning);

// MaxArraySize of the cluster, when scontrol tells it.
std::optional<long long> QueryMaxArraySize(CSlurmRunner& runner);

}  // namespace skelvane::farm
