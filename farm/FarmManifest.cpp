#include "farm/FarmManifest.h"

#include <charconv>
#include <fstream>
#include <sstream>
#include <system_error>

#include "farm/FarmChunks.h"
#include "imageio/MappedFile.h"

namespace skelvane::farm {
namespace fs = std::filesystem;

namespace {

constexpr const char* kMagic = "skelvane-farm";
constexpr int kVersion = 1;
// A manifest is a few kilobytes; anything far larger is not one.
constexpr std::uintmax_t kMaxManifestBytes = 16u << 20;

std::string Escape(const std::string& value)
{
    std::string text;
    for (const char c : value) {
        if (c == '\\') {
            text += "\\\\";
        } else if (c == '\n') {
            text += "\\n";
        } else {
            text += c;
        }
    }
    return text;
}

std::string Unescape(std::string_view text)
{
    std::string value;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\\' && i + 1 < text.size()) {
            value += text[i + 1] == 'n' ? '\n' : text[i + 1];
            ++i;
        } else {
            value += text[i];
        }
    }
    return value;
}

template <typename Number>
bool ParseNumber(const std::string& text, Number& value)
{
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    return error == std::errc() && end == text.data() + text.size();
}

std::string Describe(const CFarmManifest& manifest)
{
    const CFrameSequence& sequence = manifest.sequence;
    std::ostringstream out;
    out << kMagic << ' ' << kVersion << '\n';
    out << "command " << Escape(sequence.command) << '\n';
    out << "program " << Escape(manifest.program) << '\n';
    out << "workdir " << Escape(manifest.workDir) << '\n';
    for (const std::string& argument : manifest.arguments) {
        out << "argument " << Escape(argument) << '\n';
    }
    out << "folder " << Escape(sequence.folder) << '\n';
    out << "prefix " << Escape(sequence.prefix) << '\n';
    out << "digits " << sequence.digits << '\n';
    out << "format " << Escape(sequence.format) << '\n';
    out << "frames " << sequence.first << ' ' << sequence.last << '\n';
    out << "chunk " << manifest.chunkSize << '\n';
    out << "max-running " << manifest.maxRunning << '\n';
    out << "threads " << manifest.threads << '\n';
    out << "time " << Escape(manifest.time) << '\n';
    out << "mem " << Escape(manifest.memory) << '\n';
    out << "partition " << Escape(manifest.partition) << '\n';
    out << "then-encode " << Escape(manifest.thenEncode) << '\n';
    out << "encode-rate " << Escape(manifest.encodeRate) << '\n';
    for (const std::string& option : manifest.encodeOptions) {
        out << "encode-option " << Escape(option) << '\n';
    }
    for (const CFarmSubmission& submission : manifest.submissions) {
        out << "submission " << Escape(submission.jobId) << ' ' << Escape(submission.chunks) << '\n';
    }
    for (const std::string& job : manifest.encodeJobs) {
        out << "encode-job " << Escape(job) << '\n';
    }
    return out.str();
}

// Applies one "key value" line; false when the line is not understood.
bool ApplyLine(const std::string& key, const std::string& raw, CFarmManifest& manifest)
{
    CFrameSequence& sequence = manifest.sequence;
    const std::string value = Unescape(raw);
    if (key == "command") {
        sequence.command = value;
    } else if (key == "program") {
        manifest.program = value;
    } else if (key == "workdir") {
        manifest.workDir = value;
    } else if (key == "argument") {
        manifest.arguments.push_back(value);
    } else if (key == "folder") {
        sequence.folder = value;
    } else if (key == "prefix") {
        sequence.prefix = value;
    } else if (key == "digits") {
        return ParseNumber(value, sequence.digits);
    } else if (key == "format") {
        sequence.format = value;
    } else if (key == "frames") {
        const std::size_t space = value.find(' ');
        return space != std::string::npos && ParseNumber(value.substr(0, space), sequence.first) &&
               ParseNumber(value.substr(space + 1), sequence.last);
    } else if (key == "chunk") {
        return ParseNumber(value, manifest.chunkSize);
    } else if (key == "max-running") {
        return ParseNumber(value, manifest.maxRunning);
    } else if (key == "threads") {
        return ParseNumber(value, manifest.threads);
    } else if (key == "time") {
        manifest.time = value;
    } else if (key == "mem") {
        manifest.memory = value;
    } else if (key == "partition") {
        manifest.partition = value;
    } else if (key == "then-encode") {
        manifest.thenEncode = value;
    } else if (key == "encode-rate") {
        manifest.encodeRate = value;
    } else if (key == "encode-option") {
        manifest.encodeOptions.push_back(value);
    } else if (key == "encode-job") {
        manifest.encodeJobs.push_back(value);
    } else if (key == "submission") {
        // Job ids and array values hold no blanks; the split is on the raw text.
        const std::size_t space = raw.find(' ');
        if (space == std::string::npos) {
            return false;
        }
        manifest.submissions.push_back({Unescape(raw.substr(0, space)), Unescape(raw.substr(space + 1))});
    } else {
        return false;
    }
    return true;
}

std::string CheckConsistency(const CFarmManifest& manifest)
{
    const CFrameSequence& sequence = manifest.sequence;
    if (sequence.command != "cube2dome" && sequence.command != "pano2dome") {
        return "it names no render command";
    }
    if (sequence.Count() <= 0 || sequence.first < 0) {
        return "it holds no frames";
    }
    if (manifest.chunkSize < 1 || manifest.threads < 1 || manifest.maxRunning < 0) {
        return "its chunk size, threads or task limit are out of range";
    }
    const long long chunks = CFarmChunks(sequence, manifest.chunkSize).Count();
    for (const CFarmSubmission& submission : manifest.submissions) {
        if (submission.jobId.empty() || ParseArraySpec(submission.chunks, chunks).empty()) {
            return "its submission of job " + submission.jobId + " names chunks the sequence does not have";
        }
    }
    return {};
}

}  // namespace

fs::path ManifestPath(const fs::path& outputFolder)
{
    return outputFolder / kManifestName;
}

bool WriteFarmManifest(const CFarmManifest& manifest, const fs::path& file, ManifestWrite mode, std::string& error)
{
    const std::string text = Describe(manifest);
    MappedOutput output(file, mode == ManifestWrite::Create ? MappedOutput::Mode::Exclusive
                                                            : MappedOutput::Mode::Replace);
    output.Bytes().assign(text.begin(), text.end());
    if (!output.Commit()) {
        error = file.string() + ": " + output.Error();
        return false;
    }
    return true;
}

std::optional<CFarmManifest> ReadFarmManifest(const fs::path& file, std::string& error)
{
    std::error_code code;
    const std::uintmax_t size = fs::file_size(file, code);
    if (code) {
        error = file.string() + ": " + (code == std::errc::no_such_file_or_directory
                                            ? "there is no farm manifest (was the sequence submitted with farm submit?)"
                                            : code.message());
        return std::nullopt;
    }
    std::ifstream in(file, std::ios::binary);
    if (!in || size > kMaxManifestBytes) {
        error = file.string() + ": the farm manifest cannot be read.";
        return std::nullopt;
    }
    std::string line;
    if (!std::getline(in, line) || line != std::string(kMagic) + " " + std::to_string(kVersion)) {
        error = file.string() + " is not a farm manifest of this version.";
        return std::nullopt;
    }
    CFarmManifest manifest;
    manifest.arguments.clear();
    int number = 1;
    while (std::getline(in, line)) {
        ++number;
        if (line.empty()) {
            continue;
        }
        const std::size_t space = line.find(' ');
        const std::string key = line.substr(0, space);
        const std::string value = space == std::string::npos ? std::string() : line.substr(space + 1);
        if (!ApplyLine(key, value, manifest)) {
            error = file.string() + ", line " + std::to_string(number) + ": \"" + line + "\" is not understood.";
            return std::nullopt;
        }
    }
    if (const std::string problem = CheckConsistency(manifest); !problem.empty()) {
        error = file.string() + " is damaged: " + problem + ".";
        return std::nullopt;
    }
    return manifest;
}

}  // namespace skelvane::farm
