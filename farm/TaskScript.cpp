#include "farm/TaskScript.h"

#include <filesystem>

namespace skelvane::farm {

std::string ShellQuote(const std::string& text)
{
    std::string quoted = "'";
    for (const char c : text) {
        if (c == '\'') {
            quoted += "'\\''";
        } else {
            quoted += c;
        }
    }
    return quoted + "'";
}

std::string TaskScript(const CFarmManifest& manifest)
{
    const CFrameSequence& sequence = manifest.sequence;
    const std::string size = std::to_string(manifest.chunkSize);
    const std::string last = std::to_string(sequence.last);
    std::string script = "#!/bin/sh\n";
    script += "# One task of a skelvane-cli farm run: chunk SLURM_ARRAY_TASK_ID of " + size +
              " frames of the sequence " + std::to_string(sequence.first) + " to " + last +
              ".\n# Written by farm submit; farm resume submits it again for the chunks not done.\n";
    script += "set -eu\n";
    script += "first=$((" + std::to_string(sequence.first) + " + SLURM_ARRAY_TASK_ID * " + size + "))\n";
    script += "last=$((first + " + size + " - 1))\n";
    script += "if [ \"$last\" -gt " + last + " ]; then last=" + last + "; fi\n";
    script += "exec " + ShellQuote(manifest.program) + ' ' + ShellQuote(sequence.command);
    for (const std::string& argument : manifest.arguments) {
        script += " \\\n    " + ShellQuote(argument);
    }
    script += " \\\n    --frames \"$first-$last\" --skip-existing --progress json --threads " +
              std::to_string(manifest.threads) + "\n";
    return script;
}

namespace {

// Slurm expands %A, %a and the like in file names; a folder's own % stays.
std::string SlurmFilePattern(const std::string& path)
{
    std::string pattern;
    for (const char c : path) {
        pattern += c;
        if (c == '%') {
            pattern += '%';
        }
    }
    return pattern;
}

void AddResources(const CFarmManifest& manifest, std::vector<std::string>& command)
{
    command.push_back("--chdir=" + manifest.workDir);
    command.push_back("--cpus-per-task=" + std::to_string(manifest.threads));
    if (!manifest.memory.empty()) {
        command.push_back("--mem=" + manifest.memory);
    }
    if (!manifest.time.empty()) {
        command.push_back("--time=" + manifest.time);
    }
    if (!manifest.partition.empty()) {
        command.push_back("--partition=" + manifest.partition);
    }
}

}  // namespace

std::vector<std::string> EncodeSbatchCommand(const CFarmManifest& manifest, const std::vector<std::string>& afterArrays)
{
    const std::filesystem::path folder(manifest.sequence.folder);
    std::string dependency = "--dependency=afterok";
    for (const std::string& id : afterArrays) {
        dependency += ":" + id;
    }
    std::vector<std::string> command = {
        "sbatch",
        "--parsable",
        dependency,
        "--kill-on-invalid-dep=yes",
        "--job-name=skelvane-encode-" + folder.filename().string(),
        "--output=" + SlurmFilePattern((folder / kLogFolderName).string()) + "/encode_%j.log",
    };
    AddResources(manifest, command);
    std::string wrap = "exec " + ShellQuote(manifest.program) + " encode --input " + ShellQuote(folder.string()) +
                       " --output " + ShellQuote(manifest.thenEncode) + " --prefix " +
                       ShellQuote(manifest.sequence.prefix) + " --threads " + std::to_string(manifest.threads) +
                       " --progress json";
    if (!manifest.encodeRate.empty()) {
        wrap += " --rate " + ShellQuote(manifest.encodeRate);
    }
    for (const std::string& option : manifest.encodeOptions) {
        wrap += " " + ShellQuote(option);
    }
    command.push_back("--wrap=" + wrap);
    return command;
}

std::vector<std::string> SbatchCommand(const CFarmManifest& manifest, const std::string& arraySpec,
                                       const std::string& scriptPath)
{
    const std::filesystem::path folder(manifest.sequence.folder);
    std::vector<std::string> command = {
        "sbatch",
        "--parsable",
        "--array=" + arraySpec,
        "--job-name=skelvane-" + folder.filename().string(),
        "--output=" + SlurmFilePattern((folder / kLogFolderName).string()) + "/%A_%a.log",
    };
    AddResources(manifest, command);
    command.push_back(scriptPath);
    return command;
}

}  // namespace skelvane::farm
