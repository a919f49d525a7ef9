// Advice to the kernel on how large arrays are backed.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

namespace skelvane {

// The whole pages within [start, start + bytes), as madvise takes them.
struct PageSpan {
    void* first;
    std::size_t length;  // 0 when no whole page lies within
};

PageSpan WholePagesOf(const void* start, std::size_t bytes);

// Large arrays are read in scattered order (a render gathers face pixels from
// all over six faces) or written once and read in every frame (the maps):
// with 2 MiB pages the translation caches cover them, and a fresh array takes
// one fault per 2 MiB instead of one per 4 KiB, which made building a
// 4096-pixel cube map three times faster. Only advice, given before the first
// touch: where transparent huge pages are off, nothing changes. Spans below
// 8 MiB are left alone, as the C library serves those from its heap.
void AdviseHugePages(void* start, std::size_t bytes);

// Gives the whole pages within [start, start + bytes) back to the system: the
// span stays mapped and reads as zeros when it is next touched. For memory
// whose contents nobody will read again.
void DiscardPages(void* start, std::size_t bytes);

// `count` elements left uninitialised, for a builder that writes every one.
template <class T>
std::unique_ptr<T[]> MakeLargeArray(std::size_t count)
{
    auto array = std::make_unique_for_overwrite<T[]>(count);
    AdviseHugePages(array.get(), count * sizeof(T));
    return array;
}

}  // namespace skelvane
