// A numbered sequence of dome images in one folder, as a render (or a render
// farm's many machines) leaves it: FullDome_001.png, FullDome_002.png, ... or
// 0000.jpg, 0001.jpg, ... The frame number is the run of digits that ends the
// name before its extension; what comes before it is the sequence's prefix.
//
// Files that are hidden (staging files of a render still running), folders,
// names without a frame number and extensions no reader knows are no part of
// any sequence. The folder must hold exactly one sequence (one prefix and one
// extension), or the prefix asked for must pick one; its frames come in
// frame-number order, each number once, and without gaps unless gaps are
// allowed.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace skelvane {

struct DomeSequenceChoice {
    std::optional<std::string> prefix;  // only names with exactly this prefix
    bool skipGaps = false;              // missing frames are left out, not refused
};

struct DomeSequence {
    std::vector<std::filesystem::path> files;  // in frame-number order
    std::vector<std::uint64_t> numbers;        // the frame number of each
    std::uint64_t missing = 0;                 // frames absent between the first and the last
};

enum class DomeSequenceProblem { None, Folder, NoSequence, SeveralSequences, NumberTwice, Gap };

// Lists the sequence in `folder`. On a problem `reason` says it for a person
// to read: the folder cannot be listed, holds no sequence or more than one,
// has a frame number twice, or has a gap that is not to be skipped.
DomeSequenceProblem FindDomeSequence(const std::filesystem::path& folder, const DomeSequenceChoice& choice,
                                     DomeSequence& sequence, std::string& reason);

}  // namespace skelvane
