// How a sequence is cut into the tasks of a job array: chunk c holds the K
// frames from first + c * K on (the last chunk may be shorter), and the array
// index of its task is c, whichever array it is submitted in, so a resumed
// chunk runs the same command as the first time.
#pragma once

#include <string>
#include <vector>

#include "farm/FrameSequence.h"

namespace skelvane::farm {

struct FrameRange {
    long long first = 0;
    long long last = -1;
};

class CFarmChunks {
public:
    // chunkSize must be positive.
    CFarmChunks(const CFrameSequence& sequence, int chunkSize) : m_sequence(sequence), m_size(chunkSize) {}

    int Size() const { return m_size; }
    long long Count() const { return (m_sequence.Count() + m_size - 1) / m_size; }
    FrameRange Frames(long long chunk) const;
    long long ChunkOf(long long frame) const { return (frame - m_sequence.first) / m_size; }

private:
    CFrameSequence m_sequence;
    int m_size;
};

// The --array value for these chunk indices (ascending, no repeats): runs
// joined into ranges, "0-11", "3,7,9-12", with "%M" when at most M tasks may
// run at once (M > 0).
std::string ArraySpec(const std::vector<long long>& chunks, int maxRunning);

// The indices an --array value names, ranges expanded; a "%M" throttle is
// ignored and a ":step" honoured. Empty for text that is not an array value
// or names an index of `limit` or more.
std::vector<long long> ParseArraySpec(const std::string& spec, long long limit);

}  // namespace skelvane::farm
