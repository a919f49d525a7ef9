// x265 dates the decoding of its first packets by the time its B-frame delay
// spans, which it measures when that many frames have arrived. A stream that
// ends sooner (one or two frames) never measures it, and those packets carry
// whatever that memory held: the muxer refuses them ("Not yet implemented")
// or, when the number overflows, guesses. Such times are replaced before the
// muxer sees them; an encoder's sound times pass unchanged.
#pragma once

#include <cstdint>
#include <optional>

namespace skelvane {

class DecodeTimeCheck {
public:
    // No encoder here holds back more frames than this beyond those it was
    // given (x264 and x265 allow 16 B-frames).
    static constexpr std::int64_t kMostHeldBackFrames = 16;

    // The decode time to write for the next packet in decode order, all in
    // frames: `presentation` and `decode` as the encoder gave them, after
    // `framesSent` frames went to the encoder. The encoder's own time unless
    // it cannot be right: later than the packet is shown, not after the
    // previous packet's, or further back than the frames sent allow. A time
    // that cannot be right becomes the one after the previous packet's; the
    // first packet's, the earliest that leaves room for every frame sent.
    std::int64_t Next(std::int64_t presentation, std::int64_t decode, std::int64_t framesSent);

private:
    std::optional<std::int64_t> m_previous;
};

}  // namespace skelvane
