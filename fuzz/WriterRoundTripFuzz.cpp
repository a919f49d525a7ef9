// The writers of the codec registry with random sizes, depths and contents,
// as Save writes: every lossless format must read back exactly what it wrote
// (alpha made opaque where the format writes none), a lossy one at the same
// size. Every format writes 32-bit buffers; some also 8 and 24 bits, and the
// others must refuse those cleanly.
//
// Input layout: byte 0 picks the format, bytes 1..2 the width, 3..4 the
// height, byte 5 the depth; the rest fills the palette and pixels (repeated
// as needed).
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "engine/image/ImageBuffer.h"
#include "imageio/ImageCodecRegistry.h"

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
    const auto codecs = skelvane::ImageCodecs();
    const skelvane::ImageCodec& codec = *codecs[data[0] % codecs.size()];
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
    std::string reason;
    skelvane::ImageWriteOptions options;
    options.depth = skelvane::kDepth8;
    if (!codec.encode(image, options, file, reason)) {
        Require(bitCount != 32);
        return 0;
    }
    CImageBuffer decoded;
    Require(codec.decode(file, decoded, skelvane::kWholeImage, reason));
    Require(decoded.GetWidth() == width && decoded.GetHeight() == height);
    if (!codec.lossless) {
        return 0;
    }
    if (!codec.writes.alpha) {
        for (std::uint32_t& pixel : expected) {
            pixel |= 0xFF000000u;
        }
    }
    Require(PixelsOf(decoded) == expected);
    return 0;
}
