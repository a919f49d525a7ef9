#include "imageio/ImageFormat.h"

#include <cctype>
#include <string>
#include <string_view>

namespace skelvane {
namespace {

bool EqualsIgnoringCase(std::string_view a, std::string_view b)
{
    if (a.size() != b.size()) {
        return false;
    }
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i]))) {
            return false;
        }
    }
    return true;
}

struct ExtensionEntry {
    std::string_view extension;
    ImageFormat format;
};

// Checked in this order; the first match decides.
constexpr ExtensionEntry kExtensions[] = {
    {".jpg", ImageFormat::Jpeg}, {".jpeg", ImageFormat::Jpeg}, {".gif", ImageFormat::Gif},
    {".png", ImageFormat::Png},  {".bmp", ImageFormat::Bmp},   {".pcx", ImageFormat::Pcx},
    {".tif", ImageFormat::Tif},  {".tga", ImageFormat::Tga},
};

}  // namespace

ImageFormat GetImageFormat(const std::filesystem::path& path)
{
    const std::string name = path.filename().string();
    const std::size_t dot = name.rfind('.');
    if (dot == std::string::npos) {
        return ImageFormat::NoFormat;
    }
    const std::string_view extension = std::string_view(name).substr(dot);
    for (const ExtensionEntry& entry : kExtensions) {
        if (EqualsIgnoringCase(extension, entry.extension)) {
            return entry.format;
        }
    }
    return ImageFormat::NoFormat;
}

}  // namespace skelvane
