#include "engine/image/DepthConversion.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include "engine/jobs/ParallelRows.h"

namespace skelvane {
namespace {

// Bayer's 8 x 8 threshold matrix: each entry b gives the offset (2b + 1) / 128.
constexpr std::uint8_t kBayer[8][8] = {
    {0, 32, 8, 40, 2, 34, 10, 42},  {48, 16, 56, 24, 50, 18, 58, 26}, {12, 44, 4, 36, 14, 46, 6, 38},
    {60, 28, 52, 20, 62, 30, 54, 22}, {3, 35, 11, 43, 1, 33, 9, 41},  {51, 19, 59, 27, 49, 17, 57, 25},
    {15, 47, 7, 39, 13, 45, 5, 37},  {63, 31, 55, 23, 61, 29, 53, 21},
};

// The channels of one pixel in memory order.
constexpr int kChannels = 4;

// ---- 8-bit rows from deep ones ----

// floor(v x 255 / 65535 + offset / 128) in integers: a whole level v = 257 k
// gives k for every offset below 128.
inline std::uint32_t Ordered16(std::uint32_t value, std::uint32_t offset)
{
    return (value * (255u * 128u) + offset * 65535u) / (65535u * 128u);
}

inline std::uint32_t OrderedFloat(float value, std::uint32_t offset)
{
    const float level = ClampUnit(value) * 255.0f + static_cast<float>(offset) / 128.0f;
    return std::min(static_cast<std::uint32_t>(level), 255u);
}

void NarrowRow16(const Pixel16* in, std::uint32_t* out, std::int32_t width, std::int32_t y, Dither dither)
{
    if (dither == Dither::None) {
        for (std::int32_t x = 0; x < width; ++x) {
            out[x] = WordOfPixel16(in[x]);
        }
        return;
    }
    for (std::int32_t x = 0; x < width; ++x) {
        const auto offset = static_cast<std::uint32_t>(OrderedDitherOffset(x, y));
        out[x] = Ordered16(in[x].alpha, offset) << 24 | Ordered16(in[x].red, offset) << 16 |
                 Ordered16(in[x].green, offset) << 8 | Ordered16(in[x].blue, offset);
    }
}

void NarrowRowF(const PixelF* in, std::uint32_t* out, std::int32_t width, std::int32_t y, Dither dither)
{
    if (dither == Dither::None) {
        for (std::int32_t x = 0; x < width; ++x) {
            out[x] = WordOfPixelF(in[x]);
        }
        return;
    }
    for (std::int32_t x = 0; x < width; ++x) {
        const auto offset = static_cast<std::uint32_t>(OrderedDitherOffset(x, y));
        out[x] = OrderedFloat(in[x].alpha, offset) << 24 | OrderedFloat(in[x].red, offset) << 16 |
                 OrderedFloat(in[x].green, offset) << 8 | OrderedFloat(in[x].blue, offset);
    }
}

// A deep pixel's channels in 8-bit levels, in memory order. A 16-bit level
// divided by 257 is exact for whole 8-bit levels.
inline void LevelsOf(const Pixel16& p, float* levels)
{
    levels[0] = static_cast<float>(p.blue) / 257.0f;
    levels[1] = static_cast<float>(p.green) / 257.0f;
    levels[2] = static_cast<float>(p.red) / 257.0f;
    levels[3] = static_cast<float>(p.alpha) / 257.0f;
}

inline void LevelsOf(const PixelF& p, float* levels)
{
    levels[0] = ClampUnit(p.blue) * 255.0f;
    levels[1] = ClampUnit(p.green) * 255.0f;
    levels[2] = ClampUnit(p.red) * 255.0f;
    levels[3] = ClampUnit(p.alpha) * 255.0f;
}

// Floyd-Steinberg over the whole picture, rows from the top, even rows left
// to right and odd rows back. `ahead` holds the errors owed to the current
// row, `below` those owed to the next, each with a guard pixel either side.
template <class P>
void DiffuseInto(const CImageBuffer& source, CImageBuffer& target)
{
    const std::int32_t width = source.GetWidth();
    const auto slots = static_cast<std::size_t>(width + 2) * kChannels;
    std::vector<float> ahead(slots, 0.0f);
    std::vector<float> below(slots, 0.0f);
    for (std::int32_t y = 0; y < source.GetHeight(); ++y) {
        const P* in = source.RowOf<P>(y);
        std::uint32_t* out = target.Row32(y);
        const bool forward = y % 2 == 0;
        const int step = forward ? 1 : -1;
        for (std::int32_t i = 0; i < width; ++i) {
            const std::int32_t x = forward ? i : width - 1 - i;
            float levels[kChannels];
            LevelsOf(in[x], levels);
            std::uint32_t word = 0;
            for (int c = 0; c < kChannels; ++c) {
                const std::size_t at = static_cast<std::size_t>(x + 1) * kChannels + c;
                const float wanted = levels[c] + ahead[at];
                const float level = std::clamp(std::floor(wanted + 0.5f), 0.0f, 255.0f);
                const float error = wanted - level;
                ahead[at + step * kChannels] += error * (7.0f / 16.0f);
                below[at - step * kChannels] += error * (3.0f / 16.0f);
                below[at] += error * (5.0f / 16.0f);
                below[at + step * kChannels] += error * (1.0f / 16.0f);
                word |= static_cast<std::uint32_t>(level) << (8 * c);
            }
            out[x] = word;
        }
        std::swap(ahead, below);
        std::fill(below.begin(), below.end(), 0.0f);
    }
}

// ---- deep rows from others ----

void WidenRow8To16(const std::uint32_t* in, Pixel16* out, std::int32_t width)
{
    for (std::int32_t x = 0; x < width; ++x) {
        out[x] = Pixel16OfWord(in[x]);
    }
}

void WidenRow8ToF(const std::uint32_t* in, PixelF* out, std::int32_t width)
{
    for (std::int32_t x = 0; x < width; ++x) {
        out[x] = PixelFOfWord(in[x]);
    }
}

void WidenRow16ToF(const Pixel16* in, PixelF* out, std::int32_t width)
{
    for (std::int32_t x = 0; x < width; ++x) {
        out[x] = PixelFOf16(in[x]);
    }
}

void RoundRowFTo16(const PixelF* in, Pixel16* out, std::int32_t width)
{
    for (std::int32_t x = 0; x < width; ++x) {
        out[x] = Pixel16OfF(in[x]);
    }
}

void ConvertRow(const CImageBuffer& source, CImageBuffer& target, std::int32_t y, Dither dither)
{
    const std::int32_t width = source.GetWidth();
    const ChannelType from = source.GetChannelType();
    const ChannelType to = target.GetChannelType();
    if (from == to) {
        std::memcpy(target.Row(y), source.Row(y), static_cast<std::size_t>(source.BytesPerPixel()) * width);
    } else if (to == ChannelType::Uint8) {
        if (from == ChannelType::Uint16) {
            NarrowRow16(source.Row16(y), target.Row32(y), width, y, dither);
        } else {
            NarrowRowF(source.RowF(y), target.Row32(y), width, y, dither);
        }
    } else if (to == ChannelType::Uint16) {
        if (from == ChannelType::Uint8) {
            WidenRow8To16(source.Row32(y), target.Row16(y), width);
        } else {
            RoundRowFTo16(source.RowF(y), target.Row16(y), width);
        }
    } else if (from == ChannelType::Uint8) {
        WidenRow8ToF(source.Row32(y), target.RowF(y), width);
    } else {
        WidenRow16ToF(source.Row16(y), target.RowF(y), width);
    }
}

}  // namespace

int OrderedDitherOffset(std::int32_t x, std::int32_t y)
{
    return 2 * kBayer[y & 7][x & 7] + 1;
}

bool CopyAtChannelType(const CImageBuffer& source, ChannelType type, Dither dither, CImageBuffer& target)
{
    if (&source == &target) {
        return ConvertChannelType(target, type, dither);
    }
    target.Release();
    const int bitCount = source.GetBitCount();
    if (source.IsEmpty() || (bitCount != 32 && !source.IsDeep())) {
        return false;
    }
    const std::int32_t width = source.GetWidth();
    const std::int32_t height = source.GetHeight();
    target.Create(width, height, type, BlockContents::Unspecified);
    target.SetColour(source.Colour());
    target.SetFileChannelType(source.FileChannelType());
    if (dither == Dither::Diffusion && type == ChannelType::Uint8 && source.IsDeep()) {
        if (source.GetChannelType() == ChannelType::Uint16) {
            DiffuseInto<Pixel16>(source, target);
        } else {
            DiffuseInto<PixelF>(source, target);
        }
        return true;
    }
    ForEachRowBand(height, width, [&](std::int32_t first, std::int32_t end) {
        for (std::int32_t y = first; y < end; ++y) {
            ConvertRow(source, target, y, dither);
        }
    });
    return true;
}

bool ConvertChannelType(CImageBuffer& image, ChannelType type, Dither dither)
{
    if (!image.IsEmpty() && image.GetBitCount() == BitCountOf(type)) {
        return true;
    }
    CImageBuffer converted;
    if (!CopyAtChannelType(image, type, dither, converted)) {
        return false;
    }
    image = std::move(converted);
    return true;
}

}  // namespace skelvane
