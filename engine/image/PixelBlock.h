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
#include <thread>

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

// Faults in the pages of `bytes` bytes from `start` on a second thread while
// this one fills them: a decoder writes a panorama row by row on one core,
// and the kernel clearing its fresh pages can run on the other. Joins when
// destroyed. Spans below the cached block size are left alone, and so is
// everything where the kernel cannot populate pages or no thread starts: the
// writer's own first touch then faults the pages in, as it would anyway.
class PageFaultsAhead {
public:
    PageFaultsAhead(const std::uint8_t* start, std::int64_t bytes);
    ~PageFaultsAhead();
    PageFaultsAhead(const PageFaultsAhead&) = delete;
    PageFaultsAhead& operator=(const PageFaultsAhead&) = delete;

private:
    std::thread m_thread;
};

}  // namespace skelvane
