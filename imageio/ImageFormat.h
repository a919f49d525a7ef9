// The image format is chosen by the file name's extension alone.
#pragma once

#include <filesystem>

namespace skelvane {

enum class ImageFormat : int {
    NoFormat = 0,
    Bmp = 1,
    Pcx = 2,
    Jpeg = 4,
    Gif = 8,
    Tga = 16,
    Tif = 32,
    Png = 64,
};

// The extension is the last dot of the file name and what follows it.
ImageFormat GetImageFormat(const std::filesystem::path& path);

}  // namespace skelvane
