// Pixel blocks of images.
//
// Fresh pages are expensive: on the machines we render on, first touching a
// newly mapped 64 MiB dome costs more than rendering it, and the C library
// returns blocks of that size to the system on every free. A job allocates
// the same few large blocks for every frame (faces, dome, its 24-bit form), so
// large blocks are kept in a small cache and handed out again instead.
#pragma once

#include <cstdint>
#include <memory>

namespace skelvane {

struct PixelBlockDeleter {
    void operator()(std::uint8_t* block) const;
};

using PixelBlock = std::unique_ptr<std::uint8_t[], PixelBlockDeleter>;

// What a fresh block holds: zeros, or whatever its memory held before, for a
// writer that fills every byte it will read (a reused large block then costs
// no pass over its memory).
enum class BlockContents { Zeroed, Unspecified };

// A block of `bytes` bytes; null for 0 bytes. Throws std::bad_alloc.
PixelBlock AllocatePixelBlock(std::int64_t bytes, BlockContents contents = BlockContents::Zeroed);

}  // namespace skelvane
