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

// In front of its pixels every block keeps where its allocation starts, how
// many bytes it holds and the use it was last allocated for.
struct BlockHeader {
    std::uint8_t* start;
    std::size_t capacity;
    int use;
};

thread_local int t_blockUse = 0;

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

PixelBlock WithHeader(std::uint8_t* start, std::size_t capacity, int use)
{
    std::uint8_t* pixels = PixelsOf(start);
    const BlockHeader header{start, capacity, use};
    std::memcpy(pixels - sizeof header, &header, sizeof header);
    return PixelBlock(pixels);
}

struct CachedBlock {
    std::uint8_t* start;  // the allocation, with the header before its pixels
    std::size_t capacity;
    int use;
};

class LargeBlockCache {
public:
    // The smallest block that fits, among those last used for `use` if any fit.
    std::uint8_t* Take(std::size_t bytes, int use)
    {
        std::lock_guard lock(m_mutex);
        std::size_t best = m_blocks.size();
        auto better = [&](const CachedBlock& block) {
            if (best == m_blocks.size()) {
                return true;
            }
            const CachedBlock& held = m_blocks[best];
            if ((block.use == use) != (held.use == use)) {
                return block.use == use;
            }
            return block.capacity < held.capacity;
        };
        for (std::size_t n = 0; n < m_blocks.size(); ++n) {
            const std::size_t capacity = m_blocks[n].capacity;
            const bool fits = capacity >= bytes && capacity - bytes <= bytes / 4;
            if (fits && better(m_blocks[n])) {
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

    void Give(std::uint8_t* start, std::size_t capacity, int use)
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
        m_blocks.push_back({start, capacity, use});
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
        if (std::uint8_t* start = Cache().Take(size, t_blockUse)) {
            std::uint8_t* pixels = PixelsOf(start);
            BlockHeader header;
            std::memcpy(&header, pixels - sizeof header, sizeof header);
            header.use = t_blockUse;
            std::memcpy(pixels - sizeof header, &header, sizeof header);
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
    return WithHeader(static_cast<std::uint8_t*>(start), size, t_blockUse);
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
    Cache().Give(header.start, header.capacity, header.use);
}

BlockUse::BlockUse(int use) : m_outer(t_blockUse)
{
    t_blockUse = use;
}

BlockUse::~BlockUse()
{
    t_blockUse = m_outer;
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
