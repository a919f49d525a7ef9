#include "farm/SlurmQueries.h"

#include <charconv>
#include <sstream>

#include "farm/FarmChunks.h"

namespace skelvane::farm {

namespace {

bool ParseIndex(const std::string& text, long long& value)
{
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    return error == std::errc() && end == text.data() + text.size() && value >= 0;
}

// The job ids are unknown to the controller: every one has been forgotten.
bool ForgottenJobs(const CommandResult& result)
{
    return result.started && result.err.find("Invalid job id") != std::string::npos;
}

std::string JoinIds(const std::vector<std::string>& jobIds)
{
    std::string list;
    for (const std::string& id : jobIds) {
        list += (list.empty() ? "" : ",") + id;
    }
    return list;
}

}  // namespace

TaskState TaskStateFromSlurm(const std::string& name)
{
    const std::string state = name.substr(0, name.find(' '));
    if (state == "PENDING" || state == "REQUEUED" || state == "REQUEUE_HOLD" || state == "REQUEUE_FED" ||
        state == "RESV_DEL_HOLD" || state == "SPECIAL_EXIT") {
        return TaskState::Queued;
    }
    if (state == "RUNNING" || state == "COMPLETING" || state == "CONFIGURING" || state == "SUSPENDED" ||
        state == "STOPPED" || state == "RESIZING" || state == "SIGNALING" || state == "STAGE_OUT") {
        return TaskState::Running;
    }
    if (state == "COMPLETED") {
        return TaskState::Completed;
    }
    if (state == "CANCELLED") {
        return TaskState::Cancelled;
    }
    return TaskState::Failed;  // FAILED, TIMEOUT, OUT_OF_MEMORY, NODE_FAIL, BOOT_FAIL, DEADLINE, PREEMPTED...
}

void ParseSqueueTasks(const std::string& text, ArrayTaskStates& states)
{
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line)) {
        std::istringstream words(line);
        std::string jobId;
        std::string index;
        std::string state;
        long long task = 0;
        // Jobs that are no arrays show "N/A" as their index.
        if (words >> jobId >> index >> state && ParseIndex(index, task)) {
            states[jobId][task] = TaskStateFromSlurm(state);
        }
    }
}

void ParseScontrolTasks(const std::string& text, long long maxIndex, ArrayTaskStates& states)
{
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line)) {
        std::istringstream words(line);
        std::string word;
        std::string jobId;
        std::string tasks;
        std::string state;
        while (words >> word) {
            const std::size_t equals = word.find('=');
            const std::string key = word.substr(0, equals);
            const std::string value = equals == std::string::npos ? std::string() : word.substr(equals + 1);
            if (key == "ArrayJobId") {
                jobId = value;
            } else if (key == "ArrayTaskId") {
                tasks = value;
            } else if (key == "JobState") {
                state = value;
            }
        }
        if (jobId.empty() || tasks.empty() || state.empty()) {
            continue;
        }
        for (const long long task : ParseArraySpec(tasks, maxIndex + 1)) {
            states[jobId][task] = TaskStateFromSlurm(state);
        }
    }
}

ArrayTaskStates QueryArrayTasks(CSlurmRunner& runner, const std::vector<std::string>& jobIds, long long maxIndex,
                                std::string& warning)
{
    ArrayTaskStates states;
    if (jobIds.empty()) {
        return states;
    }
    // squeue lists each queued or running task; scontrol, asked after it,
    // also has the tasks that ended (for a while), and its later word wins
    // for a task that ended in between.
    const CommandResult queued = runner.Run({"squeue", "-h", "-r", "-j", JoinIds(jobIds), "-o", "%F %K %T"});
    if (queued.Succeeded()) {
        ParseSqueueTasks(queued.out, states);
    } else if (!ForgottenJobs(queued)) {
        warning = FailureText(queued, "squeue");
    }
    for (const std::string& id : jobIds) {
        const CommandResult shown = runner.Run({"scontrol", "-o", "show", "job", id});
        if (shown.Succeeded()) {
            ParseScontrolTasks(shown.out, maxIndex, states);
        } else if (!ForgottenJobs(shown)) {
            warning = FailureText(shown, "scontrol");
        }
    }
    return states;
}

std::optional<long long> QueryMaxArraySize(CSlurmRunner& runner)
{
    const CommandResult config = runner.Run({"scontrol", "show", "config"});
    if (!config.Succeeded()) {
        return std::nullopt;
    }
    std::istringstream lines(config.out);
    std::string line;
    while (std::getline(lines, line)) {
        std::istringstream words(line);
        std::string key;
        std::string equals;
        std::string value;
        long long size = 0;
        if (words >> key >> equals >> value && key == "MaxArraySize" && equals == "=" && ParseIndex(value, size)) {
            return size;
        }
    }
    return std::nullopt;
}

}  // namespace skelvane::farm
