// The file side of every codec: codecs themselves work on bytes in memory.
#pragma once

#include <algorithm>
#include <filesystem>
#include <span>
#include <vector>

#include "engine/ImageBuffer.h"
#include "engine/PixelBlock.h"
#include "imageio/ImageFormat.h"
#include "imageio/MappedFile.h"

namespace skelvane {

enum class ReleaseBeforeOpen { No, Yes };

// Reads the whole file and decodes it into `image`. After a failed decode the
// image is empty; a file that cannot be read leaves it as it was unless the
// codec releases before opening (which the BMP reader does).
template <class Decode>
bool LoadImageFile(CImageBuffer& image, const std::filesystem::path& path, ReleaseBeforeOpen release,
                   Decode&& decode)
{
    if (release == ReleaseBeforeOpen::Yes) {
        image.Release();
    }
    MappedInput input;
    if (!input.Open(path)) {
        return false;
    }
    image.Release();
    bool loaded = false;
    try {
        loaded = decode(input.Data(), image);
    } catch (...) {
        image.Release();
        throw;
    }
    if (!loaded) {
        image.Release();
    }
    return loaded;
}

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

// Encodes `image` as Save() does for a file of `format`: JPEG at quality 100,
// run-length TGA, non-interlaced PNG. False for an empty image or a format
// without a writer.
bool EncodeForSave(CImageBuffer& image, ImageFormat format, std::vector<std::uint8_t>& out);

// Encodes `image` into memory and writes the file only when encoding succeeded.
template <class Encode>
bool SaveImageFile(CImageBuffer& image, const std::filesystem::path& path, Encode&& encode)
{
    if (image.IsEmpty()) {
        return false;
    }
    MappedOutput output(path);
    if (!encode(image, output.Bytes())) {
        return false;
    }
    return output.Commit();
}

}  // namespace skelvane
