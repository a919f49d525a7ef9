// One zlib stream compressed as independent pieces on several cores.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <vector>

namespace skelvane {

// Writes the data's bytes from offset `begin` on into all of `out`. Called
// from several threads at once, for ranges that overlap.
using ByteSource = std::function<void(std::size_t begin, std::span<std::uint8_t> out)>;

// Compresses `size` bytes from `source` at zlib's default level with the given
// strategy (Z_DEFAULT_STRATEGY, Z_FILTERED, ...) and returns a complete zlib
// stream (header, deflate data, Adler-32) that any inflater reads in one pass.
// The data is cut into pieces of `pieceBytes` (the last may be shorter),
// produced and deflated at the same time, so the whole data is never held at
// once. Each piece starts from the 32 KiB before it as its dictionary, so
// matches across a cut are still found and the stream is only a few bytes per
// piece larger than one deflated whole.
std::vector<std::uint8_t> ZlibCompressInPieces(std::size_t size, const ByteSource& source, int strategy,
                                               std::size_t pieceBytes);

}  // namespace skelvane
