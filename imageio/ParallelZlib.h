// One zlib stream compressed as independent pieces on several cores.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace skelvane {

// Compresses `data` at zlib's default level with the given strategy
// (Z_DEFAULT_STRATEGY, Z_FILTERED, ...) and returns a complete zlib stream
// (header, deflate data, Adler-32) that any inflater reads in one pass.
// The data is cut into pieces of `pieceBytes` (the last may be shorter),
// deflated at the same time; each piece starts from the 32 KiB before it as
// its dictionary, so matches across a cut are still found and the stream is
// only a few bytes per piece larger than one deflated whole.
std::vector<std::uint8_t> ZlibCompressInPieces(std::span<const std::uint8_t> data, int strategy,
                                               std::size_t pieceBytes);

}  // namespace skelvane
