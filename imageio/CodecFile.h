// The file side of every codec: codecs themselves work on bytes in memory.
#pragma once

#include <algorithm>
#include <filesystem>
#include <span>
#include <string>
#include <vector>

#include "engine/image/ImageBuffer.h"
#include "engine/image/PixelBlock.h"
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
// run-length TGA, non-interlaced PNG. False where the codec refuses the image
// or the format has no writer.
bool EncodeForSave(CImageBuffer& image, ImageFormat format, std::vector<std::uint8_t>& out);

// Encodes `image` into memory and writes the file only when encoding
// succeeded. On failure `error`, where given, says why.
template <class Encode>
bool SaveImageFile(CImageBuffer& image, const std::filesystem::path& path, Encode&& encode,
                   std::string* error = nullptr)
{
    MappedOutput output(path);
    if (image.IsEmpty() || !encode(image, output.Bytes())) {
        if (error) {
            *error = "the image cannot be encoded as a " + path.extension().string() + " file";
        }
        return false;
    }
    if (!output.Commit()) {
        if (error) {
            *error = output.Error();
        }
        return false;
    }
    return true;
}

}  // namespace skelvane
