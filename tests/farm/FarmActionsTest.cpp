// Submit, status, resume and cancel against a stand-in for Slurm that
// answers from a table and records every command it is given.
#include <gtest/gtest.h>

#include <fstream>
#include <functional>
#include <map>

#include "farm/FarmActions.h"
#include "farm/FarmStatus.h"
#include "farm/TaskScript.h"
#include "support/TempDir.h"

namespace skelvane::farm {
namespace {
namespace fs = std::filesystem;

class FakeSlurm final : public CSlurmRunner {
public:
    CommandResult Run(const std::vector<std::string>& argv) override
    {
        commands.push_back(argv);
        const std::string& program = argv.at(0);
        if (program == "sbatch") {
            if (!sbatchError.empty()) {
                return {true, 1, "", sbatchError};
            }
            return {true, 0, std::to_string(nextJobId++) + "\n", ""};
        }
        if (program == "squeue") {
            return squeueError.empty() ? CommandResult{true, 0, squeue, ""} : CommandResult{true, 1, "", squeueError};
        }
        if (program == "scontrol" && argv.at(1) == "show") {
            return maxArraySize.empty() ? CommandResult{true, 1, "", "down"}
                                        : CommandResult{true, 0, "MaxArraySize            = " + maxArraySize + "\n", ""};
        }
        if (program == "scontrol") {
            const auto job = jobs.find(argv.at(4));
            if (job == jobs.end()) {
                return {true, 1, "", "slurm_load_jobs error: Invalid job id specified\n"};
            }
            return {true, 0, job->second, ""};
        }
        if (program == "scancel") {
            return {true, 0, "", ""};
        }
        return {false, -1, "", "unknown"};
    }

    std::vector<std::vector<std::string>> CommandsOf(const std::string& program) const
    {
        std::vector<std::vector<std::string>> found;
        for (const auto& command : commands) {
            if (command.at(0) == program) {
                found.push_back(command);
            }
        }
        return found;
    }

    std::vector<std::vector<std::string>> commands;
    int nextJobId = 100;
    std::string sbatchError;
    std::string squeue;
    std::string squeueError;
    std::string maxArraySize = "1001";
    std::map<std::string, std::string> jobs;  // scontrol -o show job ID
};

std::string Task(const std::string& array, long long index, const std::string& state)
{
    return "JobId=9" + std::to_string(index) + " ArrayJobId=" + array + " ArrayTaskId=" + std::to_string(index) +
           " JobState=" + state + " Reason=None\n";
}

class FarmActions : public ::testing::Test {
protected:
    FarmActions()
    {
        manifest.program = "/usr/bin/skelvane-cli";
        manifest.workDir = dir.Path().string();
        manifest.arguments = {"--input", "faces", "--output", "out"};
        manifest.sequence.command = "cube2dome";
        manifest.sequence.folder = (dir / "out").string();
        manifest.sequence.prefix = "FullDome_";
        manifest.sequence.format = "png";
        manifest.sequence.first = 1;
        manifest.sequence.last = 240;
        manifest.chunkSize = 10;
        manifest.maxRunning = 2;
    }

    void Render(long long first, long long last)
    {
        for (long long frame = first; frame <= last; ++frame) {
            std::ofstream(manifest.sequence.FramePath(frame)) << "dome";
        }
    }

    test::TempDir dir;
    CFarmManifest manifest;
    FakeSlurm slurm;
};

TEST_F(FarmActions, SubmitClaimsTheFolderAndSubmitsEveryChunkOnce)
{
    std::string jobId;
    std::string error;
    ASSERT_TRUE(SubmitFarm(manifest, slurm, jobId, error)) << error;
    EXPECT_EQ(jobId, "100");
    ASSERT_EQ(slurm.CommandsOf("sbatch").size(), 1u);
    const fs::path folder = manifest.sequence.folder;
    EXPECT_EQ(slurm.CommandsOf("sbatch")[0],
              SbatchCommand(manifest, "0-23%2", (folder / kTaskScriptName).string()));
    EXPECT_TRUE(fs::is_directory(folder / kLogFolderName));
    std::ifstream script(folder / kTaskScriptName);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(script), {}), TaskScript(manifest));

    const std::optional<CFarmManifest> recorded = ReadFarmManifest(ManifestPath(folder), error);
    ASSERT_TRUE(recorded) << error;
    ASSERT_EQ(recorded->submissions.size(), 1u);
    EXPECT_EQ(recorded->submissions[0].jobId, "100");
    EXPECT_EQ(recorded->submissions[0].chunks, "0-23");

    // A second submit into the same folder is refused before Slurm hears of it.
    CFarmManifest again = manifest;
    EXPECT_FALSE(SubmitFarm(again, slurm, jobId, error));
    EXPECT_NE(error.find("another farm run"), std::string::npos) << error;
    EXPECT_EQ(slurm.CommandsOf("sbatch").size(), 1u);
}

TEST_F(FarmActions, SubmitThatSlurmRefusesLeavesNoManifest)
{
    slurm.sbatchError = "sbatch: error: invalid partition specified: gpu\n";
    std::string jobId;
    std::string error;
    EXPECT_FALSE(SubmitFarm(manifest, slurm, jobId, error));
    EXPECT_NE(error.find("invalid partition specified: gpu"), std::string::npos) << error;
    EXPECT_FALSE(fs::exists(ManifestPath(manifest.sequence.folder)));

    // Too many tasks for the cluster's arrays: refused with a way out.
    slurm.sbatchError.clear();
    slurm.maxArraySize = "20";
    EXPECT_FALSE(SubmitFarm(manifest, slurm, jobId, error));
    EXPECT_NE(error.find("--chunk"), std::string::npos) << error;
    EXPECT_EQ(slurm.CommandsOf("sbatch").size(), 1u);
    EXPECT_FALSE(fs::exists(ManifestPath(manifest.sequence.folder)));
}

TEST_F(FarmActions, StatusCountsFramesByDiskThenByTheirChunksTask)
{
    std::string jobId;
    std::string error;
    ASSERT_TRUE(SubmitFarm(manifest, slurm, jobId, error)) << error;
    Render(1, 10);    // chunk 0: done
    Render(11, 18);   // chunk 1: completed, yet two frames are not there
    Render(21, 25);   // chunk 2: failed half-way
    Render(31, 33);   // chunk 3: running
    // chunk 4 queued, chunk 5 cancelled, chunks 6-23 forgotten by Slurm
    slurm.jobs["100"] = Task("100", 0, "COMPLETED") + Task("100", 1, "COMPLETED") + Task("100", 2, "FAILED") +
                        Task("100", 3, "RUNNING") + Task("100", 5, "CANCELLED");
    slurm.squeue = "100 3 RUNNING\n100 4 PENDING\n";

    const CFarmStatus status = GatherFarmStatus(manifest, slurm);
    EXPECT_EQ(status.total, 240);
    EXPECT_EQ(status.done, 26);
    EXPECT_EQ(status.running, 7);
    EXPECT_EQ(status.queued, 10);
    EXPECT_EQ(status.failed, 5);
    EXPECT_EQ(status.missing, 2 + 10 + 18 * 10);
    EXPECT_FALSE(status.Complete());
    EXPECT_TRUE(status.InProgress());
    EXPECT_EQ(status.liveJobIds, std::vector<std::string>{"100"});
    ASSERT_GE(status.problems.size(), 2u);
    EXPECT_EQ(status.problems[0].chunk, 1);
    EXPECT_FALSE(status.problems[0].failed);
    EXPECT_EQ(status.problems[1].chunk, 2);
    EXPECT_TRUE(status.problems[1].failed);
    EXPECT_EQ(status.problems[1].framesNotDone, 5);
    EXPECT_EQ(status.problems[1].log, fs::path(manifest.sequence.folder) / "log" / "100_2.log");
}

TEST_F(FarmActions, ResumeSubmitsOnlyTheChunksWithFramesMissingOrFailed)
{
    std::string jobId;
    std::string error;
    ASSERT_TRUE(SubmitFarm(manifest, slurm, jobId, error)) << error;
    Render(1, 240);
    fs::remove(manifest.sequence.FramePath(15));  // chunk 1
    fs::remove(manifest.sequence.FramePath(31));  // chunk 3, whose task still runs
    fs::remove(manifest.sequence.FramePath(56));  // chunk 5
    fs::remove(manifest.sequence.FramePath(57));
    fs::remove(manifest.sequence.FramePath(240));  // chunk 23
    slurm.jobs["100"] = Task("100", 1, "FAILED") + Task("100", 3, "RUNNING");
    slurm.squeue = "100 3 RUNNING\n";

    CFarmStatus before;
    const fs::path folder = manifest.sequence.folder;
    ASSERT_TRUE(ResumeFarm(folder, slurm, before, jobId, error)) << error;
    EXPECT_EQ(jobId, "101");
    EXPECT_EQ(before.failed, 1);
    EXPECT_EQ(before.running, 1);
    EXPECT_EQ(before.missing, 3);
    ASSERT_EQ(slurm.CommandsOf("sbatch").size(), 2u);
    EXPECT_EQ(slurm.CommandsOf("sbatch")[1], SbatchCommand(manifest, "1,5,23%2", (folder / kTaskScriptName).string()));
    const std::optional<CFarmManifest> recorded = ReadFarmManifest(ManifestPath(folder), error);
    ASSERT_TRUE(recorded) << error;
    ASSERT_EQ(recorded->submissions.size(), 2u);
    EXPECT_EQ(recorded->submissions[1].chunks, "1,5,23");

    // The resumed chunks now wait in the new array: status counts them there,
    // and a second resume has nothing to do.
    slurm.squeue = "100 3 RUNNING\n101 1 PENDING\n101 5 PENDING\n101 23 PENDING\n";
    const CFarmStatus now = GatherFarmStatus(*recorded, slurm);
    EXPECT_EQ(now.queued, 4);
    EXPECT_EQ(now.failed + now.missing, 0);
    ASSERT_TRUE(ResumeFarm(folder, slurm, before, jobId, error)) << error;
    EXPECT_TRUE(jobId.empty());
    EXPECT_EQ(slurm.CommandsOf("sbatch").size(), 2u);
}

TEST_F(FarmActions, TheVideoIsEncodedAfterTheArraysThatStillRenderFrames)
{
    manifest.thenEncode = (dir / "show.mov").string();
    std::string jobId;
    std::string error;
    ASSERT_TRUE(SubmitFarm(manifest, slurm, jobId, error)) << error;
    ASSERT_EQ(slurm.CommandsOf("sbatch").size(), 2u);
    EXPECT_EQ(slurm.CommandsOf("sbatch")[1], EncodeSbatchCommand(manifest, {"100"}));
    EXPECT_EQ(slurm.CommandsOf("sbatch")[1][2], "--dependency=afterok:100");

    // Chunk 1 failed while chunk 3 still renders: the new encode job waits
    // for the resumed chunk and for the array still at work.
    Render(1, 240);
    fs::remove(manifest.sequence.FramePath(12));
    fs::remove(manifest.sequence.FramePath(33));
    slurm.jobs["100"] = Task("100", 1, "FAILED") + Task("100", 3, "RUNNING");
    slurm.squeue = "100 3 RUNNING\n";
    CFarmStatus before;
    ASSERT_TRUE(ResumeFarm(manifest.sequence.folder, slurm, before, jobId, error)) << error;
    EXPECT_EQ(jobId, "102");
    ASSERT_EQ(slurm.CommandsOf("sbatch").size(), 4u);
    EXPECT_EQ(slurm.CommandsOf("sbatch")[3][2], "--dependency=afterok:102:100");
    const std::optional<CFarmManifest> recorded = ReadFarmManifest(ManifestPath(manifest.sequence.folder), error);
    ASSERT_TRUE(recorded) << error;
    EXPECT_EQ(recorded->encodeJobs, (std::vector<std::string>{"101", "103"}));
}

TEST_F(FarmActions, ResumeAndCancelRefuseWhenSlurmCannotSayWhatRuns)
{
    std::string jobId;
    std::string error;
    ASSERT_TRUE(SubmitFarm(manifest, slurm, jobId, error)) << error;
    slurm.squeueError = "squeue: error: Unable to contact slurm controller (connect failure)\n";
    CFarmStatus before;
    EXPECT_FALSE(ResumeFarm(manifest.sequence.folder, slurm, before, jobId, error));
    EXPECT_NE(error.find("Unable to contact slurm controller"), std::string::npos) << error;
    std::vector<std::string> cancelled;
    EXPECT_FALSE(CancelFarm(manifest.sequence.folder, slurm, cancelled, error));
    EXPECT_EQ(slurm.CommandsOf("sbatch").size(), 1u);
    EXPECT_TRUE(slurm.CommandsOf("scancel").empty());
}

TEST_F(FarmActions, CancelEndsOnlyArraysThatStillHaveTasks)
{
    std::string jobId;
    std::string error;
    ASSERT_TRUE(SubmitFarm(manifest, slurm, jobId, error)) << error;
    Render(1, 239);
    CFarmStatus before;
    ASSERT_TRUE(ResumeFarm(manifest.sequence.folder, slurm, before, jobId, error)) << error;
    ASSERT_EQ(jobId, "101");
    slurm.squeue = "101 23 RUNNING\n";

    std::vector<std::string> cancelled;
    ASSERT_TRUE(CancelFarm(manifest.sequence.folder, slurm, cancelled, error)) << error;
    EXPECT_EQ(cancelled, std::vector<std::string>{"101"});
    ASSERT_EQ(slurm.CommandsOf("scancel").size(), 1u);
    EXPECT_EQ(slurm.CommandsOf("scancel")[0], (std::vector<std::string>{"scancel", "101"}));

    slurm.squeue.clear();
    ASSERT_TRUE(CancelFarm(manifest.sequence.folder, slurm, cancelled, error)) << error;
    EXPECT_TRUE(cancelled.empty());
    EXPECT_EQ(slurm.CommandsOf("scancel").size(), 1u);
}

}  // namespace
}  // namespace skelvane::farm
