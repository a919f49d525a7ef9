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
#include <new>
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

// An allocation that failed, with the bytes it asked for, so that a report can
// say more than "Out of memory.": an image of 32768 x 16384 pixels and a
// machine short of a few bytes call for different answers.
class CAllocationFailure : public std::bad_alloc {
public:
    explicit CAllocationFailure(std::int64_t bytes) noexcept : m_bytes(bytes) {}
    std::int64_t Bytes() const noexcept { return m_bytes; }

private:
    std::int64_t m_bytes;
};

// A block of `bytes` bytes; null for 0 bytes. Throws CAllocationFailure.
PixelBlock AllocatePixelBlock(std::int64_t bytes, BlockContents contents = BlockContents::Zeroed);

// A cached block holds every page any earlier use touched. Where a job
// allocates blocks of one size for different parts of each frame (a cube
// face of which the dome reads all, one of which it reads the upper half,
// one it never reads), a block passed from part to part ends up with all its
// pages, while one that stays with its part keeps only the pages that part
// touches. While a BlockUse lives on a thread, the large blocks allocated
// there are marked with `use` and are, from the cache, preferably ones last
// allocated for the same use. Uses are the caller's numbers; 0 is none.
class BlockUse {
public:
    explicit BlockUse(int use);
    ~BlockUse();
    BlockUse(const BlockUse&) = delete;
    BlockUse& operator=(const BlockUse&) = delete;

private:
    int m_outer;
};

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
