#include "engine/image/PixelBlock.h"

#include <sys/mman.h>

#include <cstdlib>
#include <cstring>
#include <mutex>
#include <new>
#include <system_error>
#include <vector>

#include "engine/image/PageAdvice.h"

namespace skelvane {
namespace {

// Blocks below this size are left to the C library, which reuses them well.
constexpr std::size_t kCachedMinimum = std::size_t{8} << 20;
// What the cache may hold while nobody uses it.
constexpr std::size_t kCacheLimit = std::size_t{768} << 20;
constexpr std::size_t kCacheSlots = 12;

// In front of its pixels every block keeps where its allocation starts and
// how many bytes it holds.
struct BlockHeader {
    std::uint8_t* start;
    std::size_t capacity;
};

// Pixels start on a 64-byte line, and so does every row of an image whose
// rows are a multiple of 64 bytes: the vector loops' streaming stores then
// cover whole rows instead of leaving their ends to one-pixel loops.
constexpr std::size_t kAlignment = 64;
// What a block allocates beyond its pixels.
constexpr std::size_t kOverhead = sizeof(BlockHeader) + kAlignment - 1;

std::uint8_t* PixelsOf(std::uint8_t* start)
{
    const auto first = reinterpret_cast<std::uintptr_t>(start) + sizeof(BlockHeader);
    return start + ((first + kAlignment - 1) & ~(kAlignment - 1)) - reinterpret_cast<std::uintptr_t>(start);
}

PixelBlock WithHeader(std::uint8_t* start, std::size_t capacity)
{
    std::uint8_t* pixels = PixelsOf(start);
    const BlockHeader header{start, capacity};
    std::memcpy(pixels - sizeof header, &header, sizeof header);
    return PixelBlock(pixels);
}

struct CachedBlock {
    std::uint8_t* start;  // the allocation, with the header before its pixels
    std::size_t capacity;
};

class LargeBlockCache {
public:
    std::uint8_t* Take(std::size_t bytes)
    {
        std::lock_guard lock(m_mutex);
        std::size_t best = m_blocks.size();
        for (std::size_t n = 0; n < m_blocks.size(); ++n) {
            const std::size_t capacity = m_blocks[n].capacity;
            const bool fits = capacity >= bytes && capacity - bytes <= bytes / 4;
            if (fits && (best == m_blocks.size() || capacity < m_blocks[best].capacity)) {
                best = n;
            }
        }
        if (best == m_blocks.size()) {
            return nullptr;
        }
        std::uint8_t* start = m_blocks[best].start;
        m_held -= m_blocks[best].capacity;
        m_blocks.erase(m_blocks.begin() + static_cast<std::ptrdiff_t>(best));
        return start;
    }

    void Give(std::uint8_t* start, std::size_t capacity)
    {
        std::unique_lock lock(m_mutex);
        if (capacity > kCacheLimit) {
            lock.unlock();
            std::free(start);
            return;
        }
        // Oldest blocks go first when the cache is full.
        std::vector<std::uint8_t*> evicted;
        while (!m_blocks.empty() && (m_held + capacity > kCacheLimit || m_blocks.size() >= kCacheSlots)) {
            evicted.push_back(m_blocks.front().start);
            m_held -= m_blocks.front().capacity;
            m_blocks.erase(m_blocks.begin());
        }
        m_blocks.push_back({start, capacity});
        m_held += capacity;
        lock.unlock();
        for (std::uint8_t* block : evicted) {
            std::free(block);
        }
    }

private:
    std::mutex m_mutex;
    std::vector<CachedBlock> m_blocks;
    std::size_t m_held = 0;
};

LargeBlockCache& Cache()
{
    // Never destroyed: blocks may be released by static objects at exit.
    static auto* cache = new LargeBlockCache;
    return *cache;
}

}  // namespace

PixelBlock AllocatePixelBlock(std::int64_t bytes, BlockContents contents)
{
    if (bytes <= 0) {
        return PixelBlock(nullptr);
    }
    if (static_cast<std::uint64_t>(bytes) > SIZE_MAX - kOverhead) {
        throw CAllocationFailure(bytes);
    }
    const auto size = static_cast<std::size_t>(bytes);
    const bool zeroed = contents == BlockContents::Zeroed;
    if (size >= kCachedMinimum) {
        // A cached block still carries its header.
        if (std::uint8_t* start = Cache().Take(size)) {
            std::uint8_t* pixels = PixelsOf(start);
            if (zeroed) {
                std::memset(pixels, 0, size);
            }
            return PixelBlock(pixels);
        }
    }
    void* start = zeroed ? std::calloc(size + kOverhead, 1) : std::malloc(size + kOverhead);
    if (!start) {
        throw CAllocationFailure(bytes);
    }
    AdviseHugePages(start, size + kOverhead);
    return WithHeader(static_cast<std::uint8_t*>(start), size);
}

void PixelBlockDeleter::operator()(std::uint8_t* block) const
{
    if (!block) {
        return;
    }
    BlockHeader header;
    std::memcpy(&header, block - sizeof header, sizeof header);
    if (header.capacity < kCachedMinimum) {
        std::free(header.start);
        return;
    }
    Cache().Give(header.start, header.capacity);
}

PageFaultsAhead::PageFaultsAhead(const std::uint8_t* start, std::int64_t bytes)
{
    if (!start || bytes < static_cast<std::int64_t>(kCachedMinimum)) {
        return;
    }
    const PageSpan pages = WholePagesOf(start, static_cast<std::size_t>(bytes));
    try {
        // Populating leaves the contents of pages already present alone, so it
        // may race the writer; the writer's data is never touched.
        m_thread = std::thread([pages] { madvise(pages.first, pages.length, MADV_POPULATE_WRITE); });
    } catch (const std::system_error&) {
    }
}

PageFaultsAhead::~PageFaultsAhead()
{
    if (m_thread.joinable()) {
        m_thread.join();
    }
}

}  // namespace skelvane
