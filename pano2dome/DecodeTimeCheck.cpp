#include "pano2dome/DecodeTimeCheck.h"

#include <algorithm>

namespace skelvane {

std::int64_t DecodeTimeCheck::Next(std::int64_t presentation, std::int64_t decode, std::int64_t framesSent)
{
    // The encoder's number may be anywhere in the 64-bit range, so it is only
    // compared, never subtracted from.
    const std::int64_t earliest = presentation - std::max<std::int64_t>(framesSent, 1) - kMostHeldBackFrames;
    const bool possible = decode <= presentation && decode >= earliest && (!m_previous || decode > *m_previous);
    if (!possible) {
        decode = m_previous ? *m_previous + 1 : presentation - std::max<std::int64_t>(framesSent - 1, 0);
    }
    m_previous = decode;
    return decode;
}

}  // namespace skelvane
