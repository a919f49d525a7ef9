#include "engine/image/PageAdvice.h"

#include <sys/mman.h>

namespace skelvane {
PageSpan WholePagesOf(const void* start, std::size_t bytes)
{
    constexpr std::uintptr_t kPage = 4096;
    const auto at = reinterpret_cast<std::uintptr_t>(start);
    const auto first = (at + kPage - 1) & ~(kPage - 1);
    const auto end = (at + bytes) & ~(kPage - 1);
    return {reinterpret_cast<void*>(first), end > first ? end - first : 0};
}

void DiscardPages(void* start, std::size_t bytes)
{
    const PageSpan pages = WholePagesOf(start, bytes);
    if (pages.length > 0) {
        madvise(pages.first, pages.length, MADV_DONTNEED);
    }
}

}  // namespace skelvane
