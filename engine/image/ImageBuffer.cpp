#include "engine/image/ImageBuffer.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <utility>

#include "engine/image/DepthConversion.h"
#include "engine/image/StretchRows.h"
#include "engine/jobs/ParallelRows.h"

namespace skelvane {
namespace {

std::int32_t ClampInt(std::int32_t value, std::int32_t low, std::int32_t high)
{
    return value < low ? low : (value > high ? high : value);
}

// Widens a 5-bit channel to 8 bits so that full intensity stays full.
constexpr std::uint32_t Widen5(std::uint32_t v)
{
    return (v << 3) | (v >> 2);
}

}  // namespace

CImageBuffer::~CImageBuffer() = default;

CImageBuffer::CImageBuffer(CImageBuffer&& other) noexcept
{
    *this = std::move(other);
}

CImageBuffer& CImageBuffer::operator=(CImageBuffer&& other) noexcept
{
    if (this != &other) {
        m_fileHeader = std::exchange(other.m_fileHeader, {});
        m_infoHeader = std::exchange(other.m_infoHeader, {});
        m_paletteCount = std::exchange(other.m_paletteCount, 0);
        m_palette = std::exchange(other.m_palette, {});
        m_stride = std::exchange(other.m_stride, 0);
        m_bytesPerPixel = std::exchange(other.m_bytesPerPixel, 0);
        m_imageSize = std::exchange(other.m_imageSize, 0);
        m_bits = std::move(other.m_bits);
        m_rows = std::move(other.m_rows);
        m_colour = std::move(other.m_colour);
        m_fileType = std::exchange(other.m_fileType, std::nullopt);
    }
    return *this;
}

void CImageBuffer::Release()
{
    m_bits.reset();
    m_rows.reset();
    m_fileHeader = {};
    m_infoHeader = {};
    m_paletteCount = 0;
    m_palette = {};
    m_stride = 0;
    m_bytesPerPixel = 0;
    m_imageSize = 0;
    m_colour.reset();
    m_fileType.reset();
}

namespace {

// Row y of the table is picture row y counted from the top; memory holds the
// bottom row first.
std::unique_ptr<std::uint8_t*[]> MakeRowTable(std::uint8_t* bits, std::int32_t height, std::int64_t stride)
{
    auto rows = std::make_unique_for_overwrite<std::uint8_t*[]>(static_cast<std::size_t>(height));
    std::uint8_t* row = bits + (height - 1) * stride;
    for (std::int32_t y = 0; y < height; ++y, row -= stride) {
        rows[y] = row;
    }
    return rows;
}

}  // namespace

void CImageBuffer::BuildRowTable()
{
    m_rows = MakeRowTable(m_bits.get(), m_infoHeader.height, m_stride);
}

void CImageBuffer::SetBlockBookkeeping()
{
    m_imageSize = static_cast<std::int64_t>(m_stride) * m_infoHeader.height;
    m_fileHeader.type = kBitmapType;
    m_fileHeader.size = static_cast<std::uint32_t>(m_imageSize + kBitmapHeadersSize);
    m_fileHeader.reserved1 = 0;
    m_fileHeader.reserved2 = 0;
    m_fileHeader.offBits = kBitmapHeadersSize;
    // A converted image is always plain, bottom-up and palette-free in its
    // header, so a BMP written from it never contradicts its own data.
    m_infoHeader.size = 40;
    m_infoHeader.planes = 1;
    m_infoHeader.compression = 0;
    m_infoHeader.sizeImage = 0;
    m_infoHeader.clrUsed = 0;
    m_infoHeader.clrImportant = 0;
}

bool CImageBuffer::Create(std::int32_t width, std::int32_t height, BlockContents contents)
{
    return Create(width, height, ChannelType::Uint8, contents);
}

bool CImageBuffer::Create(std::int32_t width, std::int32_t height, ChannelType type, BlockContents contents)
{
    Release();
    width = std::max(width, 0);
    height = std::max(height, 0);
    if (width == 0 || height == 0) {
        return false;
    }
    const int bitCount = BitCountOf(type);
    const std::int64_t stride = bitCount / 8 * static_cast<std::int64_t>(width);
    PixelBlock bits = AllocatePixelBlock(stride * height, contents);
    m_infoHeader.width = width;
    m_infoHeader.height = height;
    m_infoHeader.bitCount = static_cast<std::uint16_t>(bitCount);
    m_bytesPerPixel = bitCount / 8;
    m_stride = static_cast<std::int32_t>(stride);
    m_bits = std::move(bits);
    SetBlockBookkeeping();
    try {
        BuildRowTable();
    } catch (...) {
        Release();
        throw;
    }
    return true;
}

bool CImageBuffer::AllocateForReader(std::int32_t width, std::int32_t height, int bitCount, BlockContents contents)
{
    Release();
    if (width <= 0 || height <= 0 || width > kMaxImageSide || height > kMaxImageSide) {
        return false;
    }
    if (bitCount != 8 && bitCount != 16 && bitCount != 24 && bitCount != 32 && bitCount != 64 && bitCount != 128) {
        return false;
    }
    const std::int64_t stride = PaddedRowBytes(width, bitCount);
    PixelBlock bits = AllocatePixelBlock(stride * height, contents);
    m_infoHeader.width = width;
    m_infoHeader.height = height;
    m_infoHeader.bitCount = static_cast<std::uint16_t>(bitCount);
    m_bytesPerPixel = bitCount / 8;
    m_stride = static_cast<std::int32_t>(stride);
    m_bits = std::move(bits);
    SetBlockBookkeeping();
    try {
        BuildRowTable();
    } catch (...) {
        Release();
        throw;
    }
    return true;
}

bool CImageBuffer::CopyFrom(const CImageBuffer& source)
{
    if (source.IsEmpty() || &source == this) {
        return !source.IsEmpty();
    }
    Release();
    try {
        PixelBlock bits = AllocatePixelBlock(source.m_imageSize);
        std::memcpy(bits.get(), source.m_bits.get(), static_cast<std::size_t>(source.m_imageSize));
        m_bytesPerPixel = source.m_bytesPerPixel;
        m_stride = source.m_stride;
        m_fileHeader = source.m_fileHeader;
        m_infoHeader = source.m_infoHeader;
        m_imageSize = source.m_imageSize;
        m_bits = std::move(bits);
        BuildRowTable();
    } catch (...) {
        Release();
        throw;
    }
    m_paletteCount = source.m_paletteCount;
    std::copy_n(source.m_palette.begin(), std::clamp(source.m_paletteCount, 0, 256), m_palette.begin());
    m_colour = source.m_colour;
    m_fileType = source.m_fileType;
    return true;
}

ChannelType CImageBuffer::GetChannelType() const
{
    switch (m_infoHeader.bitCount) {
    case 64:
        return ChannelType::Uint16;
    case 128:
        return ChannelType::Float;
    default:
        return ChannelType::Uint8;
    }
}

bool CImageBuffer::IsOpaque() const
{
    const std::int32_t width = GetWidth();
    for (std::int32_t y = 0; y < GetHeight(); ++y) {
        switch (m_infoHeader.bitCount) {
        case 32:
            for (std::int32_t x = 0; x < width; ++x) {
                if (Row32(y)[x] < 0xFF000000u) {
                    return false;
                }
            }
            break;
        case 64:
            for (std::int32_t x = 0; x < width; ++x) {
                if (Row16(y)[x].alpha != 0xFFFF) {
                    return false;
                }
            }
            break;
        case 128:
            for (std::int32_t x = 0; x < width; ++x) {
                if (!(RowF(y)[x].alpha >= 1.0f)) {
                    return false;
                }
            }
            break;
        default:
            return true;
        }
    }
    return true;
}

std::uint32_t CImageBuffer::GetPixel(std::int32_t x, std::int32_t y) const
{
    if (IsEmpty()) {
        return 0xFF000000u;
    }
    x = ClampInt(x, 0, m_infoHeader.width - 1);
    y = ClampInt(y, 0, m_infoHeader.height - 1);
    switch (GetChannelType()) {
    case ChannelType::Uint16:
        return WordOfPixel16(Row16(y)[x]);
    case ChannelType::Float:
        return WordOfPixelF(RowF(y)[x]);
    case ChannelType::Uint8:
        break;
    }
    const std::int64_t offset = (static_cast<std::int64_t>(x) * m_bytesPerPixel) & ~std::int64_t{3};
    std::uint32_t word;
    std::memcpy(&word, m_rows[y] + offset, sizeof word);
    return word;
}

void CImageBuffer::SetPixel(std::int32_t x, std::int32_t y, std::uint32_t value)
{
    if (IsEmpty()) {
        return;
    }
    x = ClampInt(x, 0, m_infoHeader.width - 1);
    y = ClampInt(y, 0, m_infoHeader.height - 1);
    switch (GetChannelType()) {
    case ChannelType::Uint16:
        Row16(y)[x] = Pixel16OfWord(value);
        return;
    case ChannelType::Float:
        RowF(y)[x] = PixelFOfWord(value);
        return;
    case ChannelType::Uint8:
        break;
    }
    const std::int64_t offset = (static_cast<std::int64_t>(x) * m_bytesPerPixel) & ~std::int64_t{3};
    std::memcpy(m_rows[y] + offset, &value, sizeof value);
}

bool CImageBuffer::ConvertTo32()
{
    if (IsEmpty()) {
        return false;
    }
    const int bitCount = m_infoHeader.bitCount;
    const std::int32_t width = m_infoHeader.width;
    const std::int32_t height = m_infoHeader.height;
    if (bitCount == 32) {
        m_stride = 4 * width;
        m_bytesPerPixel = 4;
        SetBlockBookkeeping();
        BuildRowTable();
        return true;
    }
    if (IsDeep()) {
        return ConvertChannelType(*this, ChannelType::Uint8, Dither::None);
    }
    if (bitCount != 8 && bitCount != 16 && bitCount != 24) {
        return false;
    }
    const std::int64_t newStride = 4 * static_cast<std::int64_t>(width);
    PixelBlock converted = AllocatePixelBlock(newStride * height);
    const std::uint8_t* oldBits = m_bits.get();
    const std::int64_t oldStride = m_stride;
    const auto palette = m_palette;
    ForEachRowBand(height, width, [&](std::int32_t first, std::int32_t end) {
        for (std::int32_t r = first; r < end; ++r) {
            const std::uint8_t* in = oldBits + r * oldStride;
            auto* out = reinterpret_cast<std::uint32_t*>(converted.get() + r * newStride);
            switch (bitCount) {
            case 8:
                for (std::int32_t x = 0; x < width; ++x) {
                    const RgbQuad& entry = palette[in[x]];
                    out[x] = 0xFF000000u | std::uint32_t{entry.red} << 16 | std::uint32_t{entry.green} << 8 |
                             entry.blue;
                }
                break;
            case 16:
                for (std::int32_t x = 0; x < width; ++x) {
                    const std::uint32_t w = in[2 * x] | std::uint32_t{in[2 * x + 1]} << 8;
                    out[x] = 0xFF000000u | Widen5((w >> 10) & 31) << 16 | Widen5((w >> 5) & 31) << 8 |
                             Widen5(w & 31);
                }
                break;
            default:
                for (std::int32_t x = 0; x < width; ++x) {
                    const std::uint8_t* p = in + 3 * x;
                    out[x] = 0xFF000000u | std::uint32_t{p[2]} << 16 | std::uint32_t{p[1]} << 8 | p[0];
                }
                break;
            }
        }
    });
    auto rows = MakeRowTable(converted.get(), height, newStride);
    m_bits = std::move(converted);
    m_rows = std::move(rows);
    m_stride = static_cast<std::int32_t>(newStride);
    m_bytesPerPixel = 4;
    m_infoHeader.bitCount = 32;
    SetBlockBookkeeping();
    return true;
}

bool CImageBuffer::ConvertTo24()
{
    if (IsEmpty() || m_infoHeader.bitCount != 32) {
        return false;
    }
    const std::int32_t width = m_infoHeader.width;
    const std::int32_t height = m_infoHeader.height;
    const std::int64_t newStride = PaddedRowBytes(width, 24);
    PixelBlock converted = AllocatePixelBlock(newStride * height);
    const std::uint8_t* oldBits = m_bits.get();
    const std::int64_t oldStride = m_stride;
    ForEachRowBand(height, width, [&](std::int32_t first, std::int32_t end) {
        for (std::int32_t r = first; r < end; ++r) {
            const std::uint8_t* in = oldBits + r * oldStride;
            std::uint8_t* out = converted.get() + r * newStride;
            for (std::int32_t x = 0; x < width; ++x, in += 4, out += 3) {
                out[0] = in[0];
                out[1] = in[1];
                out[2] = in[2];
            }
        }
    });
    auto rows = MakeRowTable(converted.get(), height, newStride);
    m_bits = std::move(converted);
    m_rows = std::move(rows);
    m_stride = static_cast<std::int32_t>(newStride);
    m_bytesPerPixel = 3;
    m_infoHeader.bitCount = 24;
    SetBlockBookkeeping();
    return true;
}

void CImageBuffer::StretchFrom(std::int32_t dstX, std::int32_t dstY, std::int32_t dstW, std::int32_t dstH,
                               const CImageBuffer& source,
                               std::int32_t srcX, std::int32_t srcY, std::int32_t srcW, std::int32_t srcH)
{
    const bool sameDepth = GetBitCount() == source.GetBitCount() && (GetBitCount() == 32 || IsDeep());
    if (IsEmpty() || source.IsEmpty() || !sameDepth || dstW <= 0 || dstH <= 0 || srcW <= 0 || srcH <= 0) {
        return;
    }
    const std::int32_t W = GetWidth();
    const std::int32_t H = GetHeight();
    const std::int32_t SW = source.GetWidth();
    const std::int32_t SH = source.GetHeight();

    // Clipping, in 64 bits so that far-off rectangles cannot wrap.
    auto clamp64 = [](std::int64_t v, std::int32_t high) {
        return static_cast<std::int32_t>(v < 0 ? 0 : (v > high ? high : v));
    };
    const std::int32_t dx0 = srcX < 0 ? clamp64(std::int64_t{dstX} - srcX, W - 1) : clamp64(dstX, W - 1);
    const std::int32_t dx1 = clamp64(std::int64_t{dstX} + dstW - 1, W - 1);
    const std::int32_t dy0 = srcY < 0 ? clamp64(std::int64_t{dstY} - srcY, H - 1) : clamp64(dstY, H - 1);
    const std::int32_t dy1 = clamp64(std::int64_t{dstY} + dstH - 1, H - 1);
    const std::int32_t sx0 = dstX < 0 ? clamp64(std::int64_t{srcX} - dstX, SW - 1) : clamp64(srcX, SW - 1);
    const std::int32_t sx1 = clamp64(std::int64_t{srcX} + srcW - 1, SW - 1);
    const std::int32_t sy0 = dstY < 0 ? clamp64(std::int64_t{srcY} - dstY, SH - 1) : clamp64(srcY, SH - 1);
    const std::int32_t sy1 = clamp64(std::int64_t{srcY} + srcH - 1, SH - 1);

    const std::int32_t nx = dx1 - dx0 + 1;
    const std::int32_t ny = dy1 - dy0 + 1;
    const std::int32_t snx = sx1 - sx0 + 1;
    const std::int32_t sny = sy1 - sy0 + 1;
    if (nx <= 0 || ny <= 0 || snx <= 0 || sny <= 0) {
        return;
    }
    const auto stepX = static_cast<std::int32_t>(static_cast<double>(snx) / nx * 256);
    const auto stepY = static_cast<std::int32_t>(static_cast<double>(sny) / ny * 256);

    const CStretchColumns columns(sx0, stepX, nx, SW);
    // Row i's four source rows and fraction into `row`.
    auto locate = [&](std::int32_t i, auto& row, auto rowOf) {
        const std::int32_t py = i * stepY;
        const std::int32_t cy = sy0 + (py >> 8);
        row.fraction = py & 255;
        row.outside = 0;
        for (int m = 0; m < 4; ++m) {
            const std::int32_t y = cy + m - 1;
            const bool outside = y < 0 || y >= SH;
            row.rows[m] = rowOf(outside ? cy : y);
            row.outside |= static_cast<std::uint32_t>(outside) << m;
        }
    };
    auto deepRows = [&]<class P>(P*) {
        ForEachRowBand(ny, nx, [&](std::int32_t firstRow, std::int32_t endRow) {
            for (std::int32_t i = firstRow; i < endRow; ++i) {
                DeepStretchRowSources<P> row;
                locate(i, row, [&](std::int32_t y) { return source.RowOf<P>(y); });
                StretchDeepRow(columns.Plan(), row, RowOf<P>(dy0 + i) + dx0);
            }
        });
    };
    switch (GetChannelType()) {
    case ChannelType::Uint16:
        deepRows(static_cast<Pixel16*>(nullptr));
        return;
    case ChannelType::Float:
        deepRows(static_cast<PixelF*>(nullptr));
        return;
    case ChannelType::Uint8:
        break;
    }
    ForEachRowBand(ny, nx, [&](std::int32_t firstRow, std::int32_t endRow) {
        StretchWeights weights;
        for (std::int32_t i = firstRow; i < endRow; ++i) {
            StretchRowSources row;
            locate(i, row, [&](std::int32_t y) { return source.Row32(y); });
            columns.RenderRow(row, Row32(dy0 + i) + dx0, weights);
        }
    });
}

}  // namespace skelvane
