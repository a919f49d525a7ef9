// Writers with random sizes, depths and contents: every lossless format must
// read back exactly what it wrote, and JPEG must read back at the same size.
// BMP and JPEG accept only 32-bit buffers; PNG and TGA also 8 and 24 bits.
//
// Input layout: byte 0 picks format and options, bytes 1..2 the width, 3..4
// the height, byte 5 the depth; the rest fills the palette and pixels
// (repeated as needed).
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "engine/image/ImageBuffer.h"
#include "imageio/BmpCodec.h"
#include "imageio/JpegCodec.h"
#include "imageio/PngCodec.h"
#include "imageio/TgaCodec.h"

namespace {

using skelvane::CImageBuffer;

constexpr std::int32_t kMaxFuzzSide = 300;

class ByteSource {
public:
    explicit ByteSource(std::span<const std::uint8_t> bytes) : m_bytes(bytes) {}
    std::uint8_t Next()
    {
        if (m_bytes.empty()) {
            return static_cast<std::uint8_t>(m_counter++ * 37);
        }
        const std::uint8_t value = m_bytes[m_index];
        m_index = (m_index + 1) % m_bytes.size();
        return value;
    }

private:
    std::span<const std::uint8_t> m_bytes;
    std::size_t m_index = 0;
    unsigned m_counter = 0;
};

// The source image as a 32-bit copy, the form every reader delivers.
std::vector<std::uint32_t> PixelsOf(CImageBuffer& image)
{
    CImageBuffer copy;
    if (!copy.CopyFrom(image) || !copy.ConvertTo32()) {
        __builtin_trap();
    }
    std::vector<std::uint32_t> pixels;
    pixels.reserve(static_cast<std::size_t>(copy.GetWidth()) * copy.GetHeight());
    for (std::int32_t y = 0; y < copy.GetHeight(); ++y) {
        const std::uint32_t* row = copy.Row32(y);
        pixels.insert(pixels.end(), row, row + copy.GetWidth());
    }
    return pixels;
}

void Require(bool condition)
{
    if (!condition) {
        __builtin_trap();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 6) {
        return 0;
    }
    const int format = data[0] & 3;
    const bool option = (data[0] & 4) != 0;  // run length (TGA), interlace (PNG)
    const std::int32_t width = 1 + (data[1] | data[2] << 8) % kMaxFuzzSide;
    const std::int32_t height = 1 + (data[3] | data[4] << 8) % kMaxFuzzSide;
    static constexpr int kDepths[] = {8, 24, 32};
    const int bitCount = kDepths[data[5] % 3];
    ByteSource source({data + 6, size - 6});

    CImageBuffer image;
    Require(image.AllocateForReader(width, height, bitCount));
    if (bitCount == 8) {
        image.SetPaletteCount(256);
        for (skelvane::RgbQuad& entry : image.Palette()) {
            entry = {source.Next(), source.Next(), source.Next(), 0};
        }
    }
    for (std::int32_t y = 0; y < height; ++y) {
        std::uint8_t* row = image.Row(y);
        for (std::int32_t i = 0; i < width * (bitCount / 8); ++i) {
            row[i] = source.Next();
        }
    }
    // 32-bit sources carry alpha; formats without it read back opaque.
    std::vector<std::uint32_t> expected = PixelsOf(image);

    std::vector<std::uint8_t> file;
    CImageBuffer decoded;
    // BMP and JPEG write through a 24-bit conversion that only a 32-bit
    // buffer allows; the others write the depth they are given.
    if (bitCount != 32 && (format == 0 || format == 3)) {
        Require(format == 0 ? !skelvane::EncodeBmp(image, file)
                            : !skelvane::EncodeJpeg(image, 75, file));
        return 0;
    }
    switch (format) {
    case 0:  // BMP is written at 24 bits
        Require(skelvane::EncodeBmp(image, file));
        Require(skelvane::DecodeBmp(file, decoded));
        for (std::uint32_t& pixel : expected) {
            pixel |= 0xFF000000u;
        }
        break;
    case 1:
        Require(skelvane::EncodePng(image, option, file));
        Require(skelvane::DecodePng(file, decoded));
        break;
    case 2:
        Require(skelvane::EncodeTga(image, option, file));
        Require(skelvane::DecodeTga(file, decoded));
        break;
    default:  // JPEG is lossy: only the size must survive
        Require(skelvane::EncodeJpeg(image, option ? 100 : 75, file));
        Require(skelvane::DecodeJpeg(file, decoded));
        Require(decoded.GetWidth() == width && decoded.GetHeight() == height);
        return 0;
    }
    Require(decoded.GetWidth() == width && decoded.GetHeight() == height);
    Require(PixelsOf(decoded) == expected);
    return 0;
}
