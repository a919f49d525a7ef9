// The file side of every codec: codecs themselves work on bytes in memory.
#pragma once

#include <filesystem>
#include <span>
#include <vector>

#include "engine/ImageBuffer.h"
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
