// How a sequence is cut into tasks, written down and run: chunks, array
// values, the manifest file, the task script (run by a real shell) and the
// Slurm answers the status is read from.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

#include "farm/FarmChunks.h"
#include "farm/FarmManifest.h"
#include "farm/SlurmQueries.h"
#include "farm/SlurmRunner.h"
#include "farm/TaskScript.h"
#include "support/TempDir.h"

namespace skelvane::farm {
namespace {
namespace fs = std::filesystem;

CFrameSequence CubeFrames(long long first, long long last)
{
    CFrameSequence sequence;
    sequence.command = "cube2dome";
    sequence.folder = "/out";
    sequence.prefix = "FullDome_";
    sequence.format = "png";
    sequence.first = first;
    sequence.last = last;
    return sequence;
}

TEST(FarmChunks, CutTheSequenceIntoRunsOfKFramesTheLastOneShort)
{
    const CFarmChunks chunks(CubeFrames(5, 29), 10);
    EXPECT_EQ(chunks.Count(), 3);
    EXPECT_EQ(chunks.Frames(0).first, 5);
    EXPECT_EQ(chunks.Frames(0).last, 14);
    EXPECT_EQ(chunks.Frames(2).first, 25);
    EXPECT_EQ(chunks.Frames(2).last, 29);
    EXPECT_EQ(chunks.ChunkOf(14), 0);
    EXPECT_EQ(chunks.ChunkOf(15), 1);
    EXPECT_EQ(CFarmChunks(CubeFrames(1, 240), 240).Count(), 1);
    EXPECT_EQ(CFarmChunks(CubeFrames(0, 0), 7).Count(), 1);
}

TEST(FarmChunks, ArrayValuesJoinRunsAndReadBack)
{
    struct Case {
        std::vector<long long> chunks;
        int maxRunning;
        std::string spec;
    };
    const Case cases[] = {
        {{0, 1, 2, 3}, 0, "0-3"},
        {{0, 1, 2, 3, 7, 9, 10, 11, 12}, 2, "0-3,7,9-12%2"},
        {{5}, 1, "5%1"},
        {{2, 4, 6}, 0, "2,4,6"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(ArraySpec(c.chunks, c.maxRunning), c.spec);
        EXPECT_EQ(ParseArraySpec(c.spec, 100), c.chunks) << c.spec;
    }
    EXPECT_EQ(ParseArraySpec("0-8:4", 100), (std::vector<long long>{0, 4, 8}));
    for (const char* bad : {"", "a", "3-1", "1,,2", "-1", "0-100", "1-", "0-4:0"}) {
        EXPECT_TRUE(ParseArraySpec(bad, 100).empty()) << bad;
    }
}

CFarmManifest SampleManifest()
{
    CFarmManifest manifest;
    manifest.program = "/opt/skelvane/bin/skelvane-cli";
    manifest.workDir = "/home/a b";
    manifest.arguments = {"--input", "/data/it's here", "--prefix", "", "--tilt", "-30", "line\nbreak\\"};
    manifest.sequence = CubeFrames(1, 240);
    manifest.sequence.prefix = "";
    manifest.sequence.digits = 5;
    manifest.chunkSize = 20;
    manifest.maxRunning = 2;
    manifest.threads = 4;
    manifest.time = "1:00:00";
    manifest.memory = "4G";
    manifest.partition = "render";
    manifest.thenEncode = "/farm/shot 12.mov";
    manifest.encodeRate = "29.97";
    manifest.encodeOptions = {"--codec", "prores", "--profile", "4444", "--alpha", "--keyframes", "every"};
    manifest.submissions = {{"4711", "0-11"}, {"4790", "3,7"}};
    manifest.encodeJobs = {"4712", "4791"};
    return manifest;
}

void ExpectSameManifest(const CFarmManifest& a, const CFarmManifest& b)
{
    EXPECT_EQ(a.program, b.program);
    EXPECT_EQ(a.workDir, b.workDir);
    EXPECT_EQ(a.arguments, b.arguments);
    EXPECT_EQ(a.sequence.command, b.sequence.command);
    EXPECT_EQ(a.sequence.folder, b.sequence.folder);
    EXPECT_EQ(a.sequence.prefix, b.sequence.prefix);
    EXPECT_EQ(a.sequence.digits, b.sequence.digits);
    EXPECT_EQ(a.sequence.format, b.sequence.format);
    EXPECT_EQ(a.sequence.first, b.sequence.first);
    EXPECT_EQ(a.sequence.last, b.sequence.last);
    EXPECT_EQ(a.chunkSize, b.chunkSize);
    EXPECT_EQ(a.maxRunning, b.maxRunning);
    EXPECT_EQ(a.threads, b.threads);
    EXPECT_EQ(a.time, b.time);
    EXPECT_EQ(a.memory, b.memory);
    EXPECT_EQ(a.partition, b.partition);
    EXPECT_EQ(a.thenEncode, b.thenEncode);
    EXPECT_EQ(a.encodeRate, b.encodeRate);
    EXPECT_EQ(a.encodeOptions, b.encodeOptions);
    EXPECT_EQ(a.encodeJobs, b.encodeJobs);
    ASSERT_EQ(a.submissions.size(), b.submissions.size());
    for (std::size_t i = 0; i < a.submissions.size(); ++i) {
        EXPECT_EQ(a.submissions[i].jobId, b.submissions[i].jobId);
        EXPECT_EQ(a.submissions[i].chunks, b.submissions[i].chunks);
    }
}

TEST(FarmManifest, ReadsBackWhatWasWrittenAwkwardValuesIncluded)
{
    test::TempDir dir;
    const fs::path file = dir / kManifestName;
    const CFarmManifest manifest = SampleManifest();
    std::string error;
    ASSERT_TRUE(WriteFarmManifest(manifest, file, ManifestWrite::Create, error)) << error;
    const std::optional<CFarmManifest> read = ReadFarmManifest(file, error);
    ASSERT_TRUE(read) << error;
    ExpectSameManifest(manifest, *read);

    // A second run cannot claim the folder; an update replaces the file.
    EXPECT_FALSE(WriteFarmManifest(manifest, file, ManifestWrite::Create, error));
    CFarmManifest resumed = manifest;
    resumed.submissions.push_back({"4801", "9"});
    ASSERT_TRUE(WriteFarmManifest(resumed, file, ManifestWrite::Replace, error)) << error;
    ExpectSameManifest(resumed, *ReadFarmManifest(file, error));
}

TEST(FarmManifest, RefusesFilesThatAreNoManifestOrContradictThemselves)
{
    test::TempDir dir;
    std::string good;
    {
        std::string error;
        ASSERT_TRUE(WriteFarmManifest(SampleManifest(), dir / "good", ManifestWrite::Create, error));
        std::ifstream in(dir / "good");
        good.assign(std::istreambuf_iterator<char>(in), {});
    }
    auto replaced = [&](const std::string& from, const std::string& to) {
        std::string text = good;
        text.replace(text.find(from), from.size(), to);
        return text;
    };
    const std::pair<const char*, std::string> cases[] = {
        {"empty file", ""},
        {"another format", "frames 1 240\n"},
        {"a newer version", replaced("skelvane-farm 1", "skelvane-farm 2")},
        {"an unknown key", good + "colour blue\n"},
        {"a number that is none", replaced("chunk 20", "chunk twenty")},
        {"no frames", replaced("frames 1 240", "frames 5 4")},
        {"a chunk past the end", replaced("submission 4790 3,7", "submission 4790 3,12")},
        {"no chunk size", replaced("chunk 20", "chunk 0")},
        {"another command", replaced("command cube2dome", "command rm")},
    };
    for (const auto& [what, text] : cases) {
        const fs::path file = dir / "case";
        std::ofstream(file, std::ios::trunc) << text;
        std::string error;
        EXPECT_FALSE(ReadFarmManifest(file, error)) << what;
        EXPECT_NE(error.find(file.string()), std::string::npos) << what << ": " << error;
    }
    std::string error;
    EXPECT_FALSE(ReadFarmManifest(dir / "absent", error));
    EXPECT_NE(error.find("no farm manifest"), std::string::npos) << error;
}

// The manifest with a stand-in for skelvane-cli that prints each argument on
// a line of its own, in brackets.
CFarmManifest WithArgumentPrinter(const CFarmManifest& manifest, const test::TempDir& dir)
{
    const fs::path program = dir / "print args";
    std::ofstream(program) << "#!/bin/sh\nfor a in \"$@\"; do printf '[%s]\\n' \"$a\"; done\n";
    fs::permissions(program, fs::perms::owner_all);
    CFarmManifest local = manifest;
    local.program = program.string();
    return local;
}

// What the stand-in printed, as it was given.
std::vector<std::string> PrintedArguments(const CommandResult& result)
{
    EXPECT_TRUE(result.Succeeded()) << result.err;
    std::vector<std::string> args;
    std::istringstream lines(result.out);
    std::string line;
    std::string pending;
    // Arguments may hold line breaks: collect up to the closing bracket.
    while (std::getline(lines, line)) {
        pending += pending.empty() ? line : "\n" + line;
        if (!pending.empty() && pending.back() == ']') {
            args.push_back(pending.substr(1, pending.size() - 2));
            pending.clear();
        }
    }
    return args;
}

std::vector<std::string> RunTaskScript(const CFarmManifest& manifest, int taskId, const test::TempDir& dir)
{
    const fs::path script = dir / "task.sh";
    std::ofstream(script) << TaskScript(WithArgumentPrinter(manifest, dir));
    CProcessRunner runner;
    return PrintedArguments(
        runner.Run({"env", "SLURM_ARRAY_TASK_ID=" + std::to_string(taskId), "sh", script.string()}));
}

TEST(TaskScript, TheEncodeJobWritesTheStreamThatWasAskedFor)
{
    test::TempDir dir;
    const CFarmManifest manifest = WithArgumentPrinter(SampleManifest(), dir);
    const std::vector<std::string> command = EncodeSbatchCommand(manifest, {"4711"});
    const std::string wrap = command.back();
    ASSERT_EQ(wrap.rfind("--wrap=", 0), 0u) << wrap;
    CProcessRunner runner;
    const std::vector<std::string> expected = {
        "encode", "--input", manifest.sequence.folder, "--output", "/farm/shot 12.mov", "--prefix", "",
        "--threads", "4", "--progress", "json", "--rate", "29.97",
        "--codec", "prores", "--profile", "4444", "--alpha", "--keyframes", "every"};
    EXPECT_EQ(PrintedArguments(runner.Run({"sh", "-c", wrap.substr(7)})), expected);
}

TEST(TaskScript, EachTaskRendersItsChunkWithTheOptionsAsGiven)
{
    test::TempDir dir;
    CFarmManifest manifest = SampleManifest();
    manifest.sequence.first = 3;
    manifest.sequence.last = 45;  // chunks of 20: 3-22, 23-42, 43-45
    std::vector<std::string> expected = {"cube2dome"};
    expected.insert(expected.end(), manifest.arguments.begin(), manifest.arguments.end());
    const std::vector<std::string> farmOptions = {"--skip-existing", "--progress", "json", "--threads", "4"};

    const std::pair<int, std::string> cases[] = {{0, "3-22"}, {1, "23-42"}, {2, "43-45"}};
    for (const auto& [task, frames] : cases) {
        std::vector<std::string> want = expected;
        want.push_back("--frames");
        want.push_back(frames);
        want.insert(want.end(), farmOptions.begin(), farmOptions.end());
        EXPECT_EQ(RunTaskScript(manifest, task, dir), want) << "task " << task;
    }
}

TEST(TaskScript, SbatchGetsTheArrayResourcesAndLogFolder)
{
    CFarmManifest manifest = SampleManifest();
    manifest.sequence.folder = "/farm/100%/shot";
    const std::vector<std::string> command = SbatchCommand(manifest, "3,7%2", "/farm/shot/skelvane-farm.sh");
    const std::vector<std::string> expected = {
        "sbatch",           "--parsable",          "--array=3,7%2",
        "--job-name=skelvane-shot",
        "--output=/farm/100%%/shot/log/%A_%a.log",
        "--chdir=/home/a b", "--cpus-per-task=4",   "--mem=4G",
        "--time=1:00:00",   "--partition=render",  "/farm/shot/skelvane-farm.sh",
    };
    EXPECT_EQ(command, expected);

    manifest.memory.clear();
    manifest.time.clear();
    manifest.partition.clear();
    EXPECT_EQ(SbatchCommand(manifest, "0-1", "s").size(), 8u);
}

TEST(SlurmQueries, TaskStatesFromSqueueAndScontrol)
{
    ArrayTaskStates states;
    ParseSqueueTasks("4711 3 RUNNING\n4711 4 PENDING\n4800 N/A RUNNING\n", states);
    ParseScontrolTasks(
        "JobId=4714 ArrayJobId=4711 ArrayTaskId=0 JobName=x JobState=COMPLETED Reason=None ExitCode=0:0\n"
        "JobId=4715 ArrayJobId=4711 ArrayTaskId=1 JobState=FAILED Reason=NonZeroExitCode ExitCode=1:0\n"
        "JobId=4716 ArrayJobId=4711 ArrayTaskId=2 JobState=CANCELLED Reason=None ExitCode=0:15\n"
        "JobId=4711 ArrayJobId=4711 ArrayTaskId=5-7%2 ArrayTaskThrottle=2 JobState=PENDING Reason=JobArrayTaskLimit\n"
        "JobId=4717 ArrayJobId=4711 ArrayTaskId=8 JobState=OUT_OF_MEMORY ExitCode=0:125\n",
        10, states);
    ASSERT_EQ(states.size(), 1u);
    const std::map<long long, TaskState> expected = {
        {0, TaskState::Completed}, {1, TaskState::Failed}, {2, TaskState::Cancelled}, {3, TaskState::Running},
        {4, TaskState::Queued},    {5, TaskState::Queued}, {6, TaskState::Queued},    {7, TaskState::Queued},
        {8, TaskState::Failed},
    };
    EXPECT_EQ(states["4711"], expected);
    EXPECT_EQ(TaskStateFromSlurm("CANCELLED by 0"), TaskState::Cancelled);
    EXPECT_EQ(TaskStateFromSlurm("TIMEOUT"), TaskState::Failed);
    EXPECT_EQ(TaskStateFromSlurm("COMPLETING"), TaskState::Running);
}

TEST(ProcessRunner, CapturesBothStreamsAndTheExitStatus)
{
    CProcessRunner runner;
    const std::string big(100000, 'x');  // more than a pipe holds, on both streams
    const CommandResult result =
        runner.Run({"sh", "-c", "printf '%s' \"$1\"; printf '%s' \"$1\" >&2; echo err >&2; exit 3", "sh", big});
    EXPECT_TRUE(result.started);
    EXPECT_EQ(result.exitStatus, 3);
    EXPECT_TRUE(result.out == big) << result.out.size() << " bytes";
    EXPECT_TRUE(result.err == big + "err\n") << result.err.size() << " bytes";

    const CommandResult killed = runner.Run({"sh", "-c", "kill -9 $$"});
    EXPECT_EQ(killed.exitStatus, 128 + 9);

    const CommandResult missing = runner.Run({"skelvane-no-such-program"});
    EXPECT_FALSE(missing.started);
    EXPECT_NE(FailureText(missing, "sbatch").find("cannot be run"), std::string::npos);
}

}  // namespace
}  // namespace skelvane::farm
