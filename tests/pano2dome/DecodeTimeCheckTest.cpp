#include "pano2dome/DecodeTimeCheck.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <vector>

namespace skelvane {
namespace {

struct Packet {
    std::int64_t presentation;
    std::int64_t decode;      // as the encoder gave it
    std::int64_t framesSent;
    std::int64_t written;     // what the muxer must be given
};

TEST(DecodeTimeCheck, KeepsSoundTimesAndReplacesOnlyImpossibleOnes)
{
    constexpr std::int64_t kMin = std::numeric_limits<std::int64_t>::min();
    constexpr std::int64_t kMax = std::numeric_limits<std::int64_t>::max();
    struct Case {
        const char* what;
        std::vector<Packet> packets;  // in decode order
    };
    const Case cases[] = {
        {"B-pyramid, drained", {{0, -2, 5, -2}, {4, -1, 5, -1}, {2, 0, 5, 0}, {1, 1, 5, 1}, {3, 2, 5, 2}}},
        {"intra only", {{0, 0, 1, 0}, {1, 1, 2, 1}, {2, 2, 3, 2}}},
        {"long stream, first packet after the lookahead", {{0, -2, 30, -2}, {3, -1, 31, -1}}},
        {"held back 16 B-frames", {{0, -1, 1, -1}, {17, 0, 18, 0}}},
        {"one frame, stale time", {{0, -274877907008, 1, 0}}},
        {"one frame, the far end of the range", {{0, kMin + 1, 1, 0}}},
        {"one frame, later than shown", {{0, kMax, 1, 0}}},
        {"two frames, both stale", {{0, 4567845621853339492, 2, -1}, {1, 4567845621853339493, 2, 0}}},
        {"two frames, the second not after the first", {{0, -1, 2, -1}, {1, -1, 2, 0}}},
        {"further back than the frames sent allow", {{0, -18, 1, 0}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        DecodeTimeCheck check;
        for (const Packet& p : c.packets) {
            EXPECT_EQ(check.Next(p.presentation, p.decode, p.framesSent), p.written) << "shown at " << p.presentation;
        }
    }
}

}  // namespace
}  // namespace skelvane
