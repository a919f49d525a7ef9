// What the decoders share: the checks every header goes through before
// anything is allocated, the words they fail with, and faulting in the rows
// of a fresh image while it is filled.
#pragma once

#include <algorithm>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>

#include "engine/image/ImageBuffer.h"
#include "engine/image/PixelBlock.h"

namespace skelvane {

// False, with the reason, unless both sides lie in 1..kMaxImageSide:
// "header claims 40000 x 300 pixels, more than the 32768 limit".
bool CheckDeclaredSize(std::int64_t width, std::int64_t height, std::string& reason);

// False, with the reason, when the `available` bytes of image data are fewer
// than the `needed` that the least a picture of that size could be coded in
// takes: "header claims 32768 x 32768 pixels, which take at least 2097152
// bytes of image data; the file has 402". Such a file would have us allocate
// far more than it can describe.
bool CheckDataCovers(std::int64_t width, std::int64_t height, std::uint64_t needed, std::uint64_t available,
                     std::string& reason);

// Ends a decode that failed: the image left empty, the reason handed to the
// caller who asked for it. Always false, for `return FailDecode(...)`.
inline bool FailDecode(CImageBuffer& image, std::string& reason, std::string* error)
{
    image.Release();
    if (error) {
        *error = std::move(reason);
    }
    return false;
}

// A library's message as a reason: its first letter in lower case unless it
// starts a word in capitals ("Not a JPEG file" -> "not a JPEG file", "IHDR:
// CRC error" stays).
std::string LibraryReason(std::string_view message);

// Faults in the pages of rows [top, bottom) of a freshly allocated image on a
// second thread while the decoder fills them (see PageFaultsAhead).
inline PageFaultsAhead FaultRowsAhead(const CImageBuffer& image, std::int32_t top, std::int32_t bottom)
{
    if (top >= bottom) {
        return PageFaultsAhead(nullptr, 0);
    }
    // Rows may be stored bottom up.
    const std::uint8_t* first = std::min(image.Row(top), image.Row(bottom - 1));
    const std::uint8_t* last = std::max(image.Row(top), image.Row(bottom - 1));
    return PageFaultsAhead(first, last - first + image.Stride());
}

}  // namespace skelvane
