#include "support/TestImages.h"

#include <algorithm>
#include <fstream>
#include <iterator>
#include <stdexcept>

namespace skelvane::test {

std::uint32_t PatternPixel(std::int32_t x, std::int32_t y, std::uint32_t seed)
{
    const std::uint32_t red = (x * 7u + y * 3u + seed * 11u) & 255u;
    const std::uint32_t green = (x * 13u + y * 29u + seed * 5u + 64u) & 255u;
    const std::uint32_t blue = (x * 31u + y * 17u + seed * 23u + 128u) & 255u;
    return 0xFF000000u | red << 16 | green << 8 | blue;
}

CImageBuffer MakePatternImage(std::int32_t width, std::int32_t height, std::uint32_t seed)
{
    CImageBuffer image;
    image.Create(width, height);
    for (std::int32_t y = 0; y < height; ++y) {
        for (std::int32_t x = 0; x < width; ++x) {
            image.SetPixel(x, y, PatternPixel(x, y, seed));
        }
    }
    return image;
}

CImageBuffer MakeUniformImage(std::int32_t width, std::int32_t height, std::uint32_t value)
{
    CImageBuffer image;
    image.Create(width, height);
    for (std::int32_t y = 0; y < height; ++y) {
        for (std::int32_t x = 0; x < width; ++x) {
            image.SetPixel(x, y, value);
        }
    }
    return image;
}

std::vector<std::uint32_t> PixelsOf(const CImageBuffer& image)
{
    std::vector<std::uint32_t> pixels;
    pixels.reserve(static_cast<std::size_t>(image.GetWidth()) * image.GetHeight());
    for (std::int32_t y = 0; y < image.GetHeight(); ++y) {
        for (std::int32_t x = 0; x < image.GetWidth(); ++x) {
            pixels.push_back(image.GetPixel(x, y));
        }
    }
    return pixels;
}

std::vector<std::uint8_t> RowBytes(const CImageBuffer& image)
{
    std::vector<std::uint8_t> bytes;
    const auto rowBytes = static_cast<std::size_t>(image.GetWidth()) * static_cast<std::size_t>(image.BytesPerPixel());
    for (std::int32_t y = 0; y < image.GetHeight(); ++y) {
        bytes.insert(bytes.end(), image.Row(y), image.Row(y) + rowBytes);
    }
    return bytes;
}

std::vector<std::uint8_t> RowBytes(CBandedImage& image)
{
    std::vector<std::uint8_t> bytes;
    const auto rowBytes =
        static_cast<std::size_t>(image.GetWidth()) * static_cast<std::size_t>(image.GetBitCount() / 8);
    const std::int32_t batch = std::min(16, image.BandRows());
    std::vector<std::uint8_t*> rows(static_cast<std::size_t>(batch));
    for (std::int32_t first = 0; first < image.GetHeight(); first += batch) {
        const std::int32_t count = std::min(batch, image.GetHeight() - first);
        image.Rows(first, count, rows.data());
        for (std::int32_t i = 0; i < count; ++i) {
            bytes.insert(bytes.end(), rows[static_cast<std::size_t>(i)], rows[static_cast<std::size_t>(i)] + rowBytes);
        }
    }
    return bytes;
}

std::vector<std::uint8_t> ReadFileBytes(const std::filesystem::path& path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        throw std::runtime_error("cannot read " + path.string());
    }
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void WriteFileBytes(const std::filesystem::path& path, const std::vector<std::uint8_t>& bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

}  // namespace skelvane::test
