// BMP reader and writer.
//
// Reading goes in three steps:
//  1. ParseLayout reads the headers into a BmpLayout and checks every field
//     against the file: header size, sides (kMaxImageSide), bit count and
//     compression, bit-field masks, palette size and the bytes the pixel
//     rows need. Nothing is allocated before all of this holds.
//  2. One row decoder per pixel kind fills a buffer allocated by
//     AllocateForReader: palette indices (1, 2, 4, 8 bits, or run-length
//     packets) into an 8-bit buffer with its palette, 24-bit rows as they
//     are, and 16/32-bit pixels through their channel masks straight into
//     32 bits (5 and 6-bit channels are scaled exactly, so full intensity
//     stays full).
//  3. ConvertTo32 turns the buffer into the working format and leaves a
//     plain, bottom-up, palette-free header.
#include "imageio/BmpCodec.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <limits>

#include "engine/jobs/ParallelRows.h"
#include "imageio/DecoderSupport.h"

namespace skelvane {
namespace {

constexpr std::size_t kFileHeaderSize = 14;
constexpr std::size_t kInfoHeaderSize = 40;
// The writer leaves two zero bytes between the headers and the pixels.
constexpr std::uint32_t kWrittenPixelOffset = kFileHeaderSize + kInfoHeaderSize + 2;

constexpr std::uint64_t kMaxRunLengthPixelsPerByte = 255;

constexpr std::uint32_t kCompressionRgb = 0;
constexpr std::uint32_t kCompressionRle8 = 1;
constexpr std::uint32_t kCompressionRle4 = 2;
constexpr std::uint32_t kCompressionBitFields = 3;
constexpr std::uint32_t kCompressionJpeg = 4;  // embedded streams are not read
constexpr std::uint32_t kCompressionPng = 5;
constexpr std::uint32_t kCompressionAlphaBitFields = 6;

// Header sizes: OS/2 1.x (12), OS/2 2.x (16 and 64, 40 shared with Windows),
// Windows 3 (40), its bit-field extensions (52, 56), V4 (108) and V5 (124).
constexpr std::uint32_t kOs2V1HeaderSize = 12;
constexpr std::uint32_t kOs2V2HeaderSize = 64;
constexpr std::array<std::uint32_t, 8> kKnownHeaderSizes = {12, 16, 40, 52, 56, 64, 108, 124};

std::uint16_t Read16(std::span<const std::uint8_t> bytes, std::size_t offset)
{
    return static_cast<std::uint16_t>(bytes[offset] | bytes[offset + 1] << 8);
}

std::uint32_t Read32(std::span<const std::uint8_t> bytes, std::size_t offset)
{
    return std::uint32_t{bytes[offset]} | std::uint32_t{bytes[offset + 1]} << 8 |
           std::uint32_t{bytes[offset + 2]} << 16 | std::uint32_t{bytes[offset + 3]} << 24;
}

void Write16(std::uint8_t* out, std::uint16_t value)
{
    out[0] = static_cast<std::uint8_t>(value);
    out[1] = static_cast<std::uint8_t>(value >> 8);
}

void Write32(std::uint8_t* out, std::uint32_t value)
{
    for (int i = 0; i < 4; ++i) {
        out[i] = static_cast<std::uint8_t>(value >> (8 * i));
    }
}

bool Fail(std::string* error, std::string_view reason)
{
    if (error) {
        *error = reason;
    }
    return false;
}

// One channel of a bit-field pixel: where it sits and how far it reaches.
struct ChannelMask {
    std::uint32_t mask = 0;
    int shift = 0;
    std::uint32_t maxValue = 0;  // 0 for an absent channel

    static ChannelMask From(std::uint32_t mask)
    {
        ChannelMask channel;
        channel.mask = mask;
        if (mask != 0) {
            channel.shift = std::countr_zero(mask);
            channel.maxValue = mask >> channel.shift;
        }
        return channel;
    }

    bool Contiguous() const { return (maxValue & (maxValue + 1)) == 0; }

    // The channel scaled exactly to 0..255, so the largest value gives 255
    // whatever the channel's width. An absent channel reads as 0.
    std::uint32_t Widen(std::uint32_t pixel) const
    {
        const std::uint32_t value = (pixel & mask) >> shift;
        if (maxValue == 255 || maxValue == 0) {
            return value;
        }
        return static_cast<std::uint32_t>((std::uint64_t{value} * 255 + maxValue / 2) / maxValue);
    }
};

enum class PixelKind {
    Indexed,     // 1, 2, 4 or 8-bit palette indices, plain rows
    RunLength,   // RLE8 or RLE4 packets of palette indices
    Rgb24,       // blue, green, red bytes
    Rgb32,       // blue, green, red and a fourth byte that may be alpha
    BitFields,   // 16 or 32-bit words through channel masks
};

struct BmpLayout {
    std::int32_t width = 0;
    std::int32_t height = 0;  // always positive here
    bool topDown = false;
    int bitCount = 0;
    std::uint32_t compression = kCompressionRgb;
    PixelKind kind = PixelKind::Indexed;
    ChannelMask red, green, blue, alpha;
    std::size_t paletteOffset = 0;
    std::size_t paletteEntrySize = 4;
    int paletteCount = 0;
    std::size_t pixelOffset = 0;
    std::int64_t rowBytes = 0;  // padded row length of plain rows
};

bool ReadMasks(std::span<const std::uint8_t> file, std::uint32_t headerSize, BmpLayout& layout, std::string* error)
{
    // Headers of 52 bytes and more hold the masks themselves (alpha from 56);
    // a 40-byte header is followed by three masks, or four with alpha.
    std::array<std::uint32_t, 4> masks{};
    const std::size_t maskOffset = kFileHeaderSize + kInfoHeaderSize;
    int maskCount = 0;
    if (headerSize >= 52) {
        maskCount = headerSize >= 56 ? 4 : 3;
    } else if (headerSize == kInfoHeaderSize) {
        maskCount = layout.compression == kCompressionAlphaBitFields ? 4 : 3;
    } else {
        return Fail(error, "bit-field masks missing from the header");
    }
    if (maskOffset + 4 * static_cast<std::size_t>(maskCount) > file.size()) {
        return Fail(error, "file shorter than its bit-field masks");
    }
    for (int i = 0; i < maskCount; ++i) {
        masks[i] = Read32(file, maskOffset + 4 * static_cast<std::size_t>(i));
    }
    layout.red = ChannelMask::From(masks[0]);
    layout.green = ChannelMask::From(masks[1]);
    layout.blue = ChannelMask::From(masks[2]);
    layout.alpha = ChannelMask::From(masks[3]);

    const std::uint64_t pixelBits = layout.bitCount == 32 ? 0xFFFFFFFFull : 0xFFFFull;
    std::uint32_t seen = 0;
    for (const ChannelMask* channel : {&layout.red, &layout.green, &layout.blue, &layout.alpha}) {
        if (!channel->Contiguous() || channel->mask > pixelBits || (channel->mask & seen) != 0) {
            return Fail(error, "bit-field masks not contiguous, overlapping or wider than the pixel");
        }
        seen |= channel->mask;
    }
    if ((layout.red.mask | layout.green.mask | layout.blue.mask) == 0) {
        return Fail(error, "bit-field masks empty");
    }
    return true;
}

bool ParseLayout(std::span<const std::uint8_t> file, BmpLayout& layout, std::string* error)
{
    if (file.size() < kFileHeaderSize + 4 || Read16(file, 0) != kBitmapType) {
        return Fail(error, "not a BMP file");
    }
    const std::uint32_t headerSize = Read32(file, kFileHeaderSize);
    if (std::find(kKnownHeaderSizes.begin(), kKnownHeaderSizes.end(), headerSize) == kKnownHeaderSizes.end()) {
        return Fail(error, "unknown information header size");
    }
    if (kFileHeaderSize + headerSize > file.size()) {
        return Fail(error, "file shorter than its headers");
    }

    std::int64_t width = 0;
    std::int64_t height = 0;
    std::uint32_t planes = 0;
    std::uint32_t colorsUsed = 0;
    if (headerSize == kOs2V1HeaderSize) {
        width = Read16(file, 18);
        height = Read16(file, 20);
        planes = Read16(file, 22);
        layout.bitCount = Read16(file, 24);
        layout.paletteEntrySize = 3;
    } else {
        width = static_cast<std::int32_t>(Read32(file, 18));
        height = static_cast<std::int32_t>(Read32(file, 22));
        planes = Read16(file, 26);
        layout.bitCount = Read16(file, 28);
        // Short OS/2 2.x headers end after any field; missing ones are 0.
        layout.compression = headerSize >= 20 ? Read32(file, 30) : kCompressionRgb;
        colorsUsed = headerSize >= 36 ? Read32(file, 46) : 0;
    }
    if (headerSize == kOs2V2HeaderSize && layout.compression != kCompressionRgb &&
        layout.compression != kCompressionRle8 && layout.compression != kCompressionRle4) {
        return Fail(error, "unsupported OS/2 compression");  // Huffman 1D, RLE24
    }
    if (planes != 1) {
        return Fail(error, "plane count is not 1");
    }
    layout.topDown = height < 0;
    height = height < 0 ? -height : height;
    if (std::string reason; !CheckDeclaredSize(width, height, reason)) {
        return Fail(error, reason);
    }
    layout.width = static_cast<std::int32_t>(width);
    layout.height = static_cast<std::int32_t>(height);

    if (layout.compression > kCompressionAlphaBitFields || layout.compression == kCompressionJpeg ||
        layout.compression == kCompressionPng) {
        return Fail(error, "unsupported compression");
    }
    const int bits = layout.bitCount;
    if (bits != 1 && bits != 2 && bits != 4 && bits != 8 && bits != 16 && bits != 24 && bits != 32) {
        return Fail(error, "unsupported bit count");
    }

    const std::size_t paletteOffset = kFileHeaderSize + headerSize;
    switch (layout.compression) {
    case kCompressionRgb:
        if (bits <= 8) {
            layout.kind = PixelKind::Indexed;
        } else if (bits == 16) {
            // 5-5-5 unless masks say otherwise.
            layout.kind = PixelKind::BitFields;
            layout.red = ChannelMask::From(0x7C00);
            layout.green = ChannelMask::From(0x03E0);
            layout.blue = ChannelMask::From(0x001F);
        } else {
            layout.kind = bits == 24 ? PixelKind::Rgb24 : PixelKind::Rgb32;
        }
        break;
    case kCompressionRle8:
    case kCompressionRle4:
        if (bits != (layout.compression == kCompressionRle8 ? 8 : 4)) {
            return Fail(error, "run-length compression with the wrong bit count");
        }
        if (layout.topDown) {
            return Fail(error, "run-length compression with top-down rows");
        }
        layout.kind = PixelKind::RunLength;
        break;
    case kCompressionBitFields:
    case kCompressionAlphaBitFields:
        if (bits != 16 && bits != 32) {
            return Fail(error, "bit-field compression with the wrong bit count");
        }
        layout.kind = PixelKind::BitFields;
        if (!ReadMasks(file, headerSize, layout, error)) {
            return false;
        }
        break;
    default:
        return Fail(error, "unsupported compression");
    }

    layout.pixelOffset = Read32(file, 10);
    if (layout.pixelOffset >= file.size()) {
        return Fail(error, "pixel data offset beyond the end of the file");
    }

    if (bits <= 8) {
        // The palette ends where the pixels begin (some files have less room
        // there than their bit count implies); an explicit count larger than
        // the bit count allows must really be present.
        const std::int64_t maxEntries = std::int64_t{1} << bits;
        const std::int64_t declared = colorsUsed != 0 ? colorsUsed : maxEntries;
        const std::size_t paletteEnd = layout.pixelOffset > paletteOffset ? layout.pixelOffset : file.size();
        const auto room =
            static_cast<std::int64_t>((paletteEnd - std::min(paletteEnd, paletteOffset)) / layout.paletteEntrySize);
        if (declared > maxEntries && declared > room) {
            return Fail(error, "palette larger than the file holds");
        }
        layout.paletteOffset = paletteOffset;
        layout.paletteCount = static_cast<int>(std::min({declared, maxEntries, room}));
    }

    std::uint64_t needed = 0;
    if (layout.kind == PixelKind::RunLength) {
        // Two bytes code at most 255 pixels; allowing twice that for moves
        // over undefined pixels, a few bytes cannot claim a huge image.
        const std::uint64_t pixelCount = std::uint64_t(layout.width) * std::uint64_t(layout.height);
        needed = (pixelCount + kMaxRunLengthPixelsPerByte - 1) / kMaxRunLengthPixelsPerByte;
    } else {
        // Every row but the last is padded; the last needs only its pixels.
        layout.rowBytes = PaddedRowBytes(layout.width, bits);
        const std::int64_t lastRowBytes = (std::int64_t{layout.width} * bits + 7) / 8;
        needed = static_cast<std::uint64_t>(layout.rowBytes * (layout.height - 1) + lastRowBytes);
    }
    if (std::string reason;
        !CheckDataCovers(layout.width, layout.height, needed, file.size() - layout.pixelOffset, reason)) {
        return Fail(error, reason);
    }
    return true;
}

// Picture row (from the top) of file row `i` (the file's order).
std::int32_t PictureRow(const BmpLayout& layout, std::int32_t i)
{
    return layout.topDown ? i : layout.height - 1 - i;
}

void ReadPalette(std::span<const std::uint8_t> file, const BmpLayout& layout, CImageBuffer& image)
{
    auto& palette = image.Palette();
    for (int i = 0; i < layout.paletteCount; ++i) {
        const std::uint8_t* entry = file.data() + layout.paletteOffset + i * layout.paletteEntrySize;
        palette[i] = RgbQuad{entry[0], entry[1], entry[2], 0};
    }
    // Indices beyond the palette stay at the zeroed entries (black).
    image.SetPaletteCount(layout.paletteCount);
}

void DecodeIndexedRows(const std::uint8_t* pixels, const BmpLayout& layout, CImageBuffer& image)
{
    const int bits = layout.bitCount;
    const int perByte = 8 / bits;
    const unsigned valueMask = (1u << bits) - 1;
    ForEachRowBand(layout.height, layout.width, [&](std::int32_t first, std::int32_t end) {
        for (std::int32_t i = first; i < end; ++i) {
            const std::uint8_t* in = pixels + i * layout.rowBytes;
            std::uint8_t* out = image.Row(PictureRow(layout, i));
            if (bits == 8) {
                std::memcpy(out, in, static_cast<std::size_t>(layout.width));
                continue;
            }
            // Leftmost pixel in the most significant bits.
            for (std::int32_t x = 0; x < layout.width; ++x) {
                const int shift = 8 - bits * (x % perByte + 1);
                out[x] = static_cast<std::uint8_t>((in[x / perByte] >> shift) & valueMask);
            }
        }
    });
}

// Run-length packets, bottom row first. Pixels that the packets skip stay at
// index 0; a packet that reaches past its row or the image, or data that end
// before the end-of-bitmap marker, fail the file.
bool DecodeRunLength(std::span<const std::uint8_t> data, const BmpLayout& layout, CImageBuffer& image,
                     std::string* error)
{
    const bool nibbles = layout.bitCount == 4;
    std::int64_t x = 0;
    std::int64_t y = 0;  // from the bottom
    std::size_t pos = 0;
    auto rowFor = [&](std::int64_t count) -> std::uint8_t* {
        if (y >= layout.height || x + count > layout.width) {
            return nullptr;
        }
        return image.Row(static_cast<std::int32_t>(layout.height - 1 - y)) + x;
    };
    for (;;) {
        if (data.size() - pos < 2) {
            return Fail(error, "run-length data end before the end-of-bitmap marker");
        }
        const std::uint8_t count = data[pos];
        const std::uint8_t value = data[pos + 1];
        pos += 2;
        if (count > 0) {
            std::uint8_t* out = rowFor(count);
            if (!out) {
                return Fail(error, "run-length packet reaches past the image");
            }
            if (nibbles) {
                for (int i = 0; i < count; ++i) {
                    out[i] = (i & 1) ? (value & 15) : (value >> 4);
                }
            } else {
                std::memset(out, value, count);
            }
            x += count;
        } else if (value == 0) {  // end of line
            x = 0;
            ++y;
        } else if (value == 1) {  // end of bitmap
            return true;
        } else if (value == 2) {  // move right and up
            if (data.size() - pos < 2) {
                return Fail(error, "run-length data end inside a move");
            }
            x += data[pos];
            y += data[pos + 1];
            pos += 2;
        } else {  // `value` literal pixels, padded to an even number of bytes
            const std::size_t bytes = nibbles ? (value + 1u) / 2 : value;
            if (data.size() - pos < bytes) {
                return Fail(error, "run-length data end inside a literal run");
            }
            std::uint8_t* out = rowFor(value);
            if (!out) {
                return Fail(error, "run-length packet reaches past the image");
            }
            const std::uint8_t* in = data.data() + pos;
            if (nibbles) {
                for (int i = 0; i < value; ++i) {
                    out[i] = (i & 1) ? (in[i / 2] & 15) : (in[i / 2] >> 4);
                }
            } else {
                std::memcpy(out, in, value);
            }
            x += value;
            pos += std::min(bytes + (bytes & 1), data.size() - pos);
        }
    }
}

void DecodeRgb24Rows(const std::uint8_t* pixels, const BmpLayout& layout, CImageBuffer& image)
{
    const auto rowLength = static_cast<std::size_t>(layout.width) * 3;
    ForEachRowBand(layout.height, layout.width, [&](std::int32_t first, std::int32_t end) {
        for (std::int32_t i = first; i < end; ++i) {
            std::memcpy(image.Row(PictureRow(layout, i)), pixels + i * layout.rowBytes, rowLength);
        }
    });
}

// Plain 32-bit rows hold zeros in the fourth byte by convention; it is alpha
// only when some pixel sets it, or every picture would come out transparent.
void DecodeRgb32Rows(const std::uint8_t* pixels, const BmpLayout& layout, CImageBuffer& image)
{
    const auto rowLength = static_cast<std::size_t>(layout.width) * 4;
    bool hasAlpha = false;
    for (std::int32_t i = 0; i < layout.height && !hasAlpha; ++i) {
        const std::uint8_t* in = pixels + i * layout.rowBytes;
        for (std::size_t b = 3; b < rowLength; b += 4) {
            if (in[b] != 0) {
                hasAlpha = true;
                break;
            }
        }
    }
    const std::uint32_t opaque = hasAlpha ? 0 : 0xFF000000u;
    ForEachRowBand(layout.height, layout.width, [&](std::int32_t first, std::int32_t end) {
        for (std::int32_t i = first; i < end; ++i) {
            std::uint32_t* out = image.Row32(PictureRow(layout, i));
            std::memcpy(out, pixels + i * layout.rowBytes, rowLength);
            if (opaque) {
                for (std::int32_t x = 0; x < layout.width; ++x) {
                    out[x] |= opaque;
                }
            }
        }
    });
}

// 16 and 32-bit words through their masks. Without an alpha mask the pixels
// are opaque.
void DecodeBitFieldRows(const std::uint8_t* pixels, const BmpLayout& layout, CImageBuffer& image)
{
    auto colourOf = [&layout](std::uint32_t word) {
        const std::uint32_t alpha = layout.alpha.mask != 0 ? layout.alpha.Widen(word) : 255;
        return alpha << 24 | layout.red.Widen(word) << 16 | layout.green.Widen(word) << 8 | layout.blue.Widen(word);
    };
    if (layout.bitCount == 16) {
        // Every possible word once, rather than three divisions per pixel.
        std::vector<std::uint32_t> colours(65536);
        for (std::uint32_t word = 0; word < colours.size(); ++word) {
            colours[word] = colourOf(word);
        }
        ForEachRowBand(layout.height, layout.width, [&](std::int32_t first, std::int32_t end) {
            for (std::int32_t i = first; i < end; ++i) {
                const std::uint8_t* in = pixels + i * layout.rowBytes;
                std::uint32_t* out = image.Row32(PictureRow(layout, i));
                for (std::int32_t x = 0; x < layout.width; ++x) {
                    out[x] = colours[in[2 * x] | in[2 * x + 1] << 8];
                }
            }
        });
        return;
    }
    ForEachRowBand(layout.height, layout.width, [&](std::int32_t first, std::int32_t end) {
        for (std::int32_t i = first; i < end; ++i) {
            const std::uint8_t* in = pixels + i * layout.rowBytes;
            std::uint32_t* out = image.Row32(PictureRow(layout, i));
            for (std::int32_t x = 0; x < layout.width; ++x) {
                std::uint32_t word;
                std::memcpy(&word, in + 4 * x, 4);
                out[x] = colourOf(word);
            }
        }
    });
}

}  // namespace

bool DecodeBmp(std::span<const std::uint8_t> file, CImageBuffer& image, std::string* error)
{
    image.Release();
    BmpLayout layout;
    if (!ParseLayout(file, layout, error)) {
        return false;
    }
    const int bufferBits = layout.kind == PixelKind::Indexed || layout.kind == PixelKind::RunLength ? 8
                           : layout.kind == PixelKind::Rgb24                                       ? 24
                                                                                                   : 32;
    if (!image.AllocateForReader(layout.width, layout.height, bufferBits)) {
        return Fail(error, "image size refused");
    }
    const std::uint8_t* pixels = file.data() + layout.pixelOffset;
    switch (layout.kind) {
    case PixelKind::Indexed:
        ReadPalette(file, layout, image);
        DecodeIndexedRows(pixels, layout, image);
        break;
    case PixelKind::RunLength:
        ReadPalette(file, layout, image);
        if (!DecodeRunLength(file.subspan(layout.pixelOffset), layout, image, error)) {
            image.Release();
            return false;
        }
        break;
    case PixelKind::Rgb24:
        DecodeRgb24Rows(pixels, layout, image);
        break;
    case PixelKind::Rgb32:
        DecodeRgb32Rows(pixels, layout, image);
        break;
    case PixelKind::BitFields:
        DecodeBitFieldRows(pixels, layout, image);
        break;
    }
    if (!image.ConvertTo32()) {
        image.Release();
        return Fail(error, "conversion to 32 bits failed");
    }
    return true;
}

bool EncodeBmp(CImageBuffer& image, std::vector<std::uint8_t>& out)
{
    if (image.IsEmpty() || image.GetBitCount() != 32) {
        return false;
    }
    const BitmapInfoHeader& info = image.InfoHeader();
    const std::int32_t width = info.width;
    const std::int32_t height = info.height;
    const std::int64_t rowBytes = PaddedRowBytes(width, 24);
    const std::int64_t fileSize = rowBytes * height + kWrittenPixelOffset;
    if (fileSize > std::numeric_limits<std::uint32_t>::max()) {
        return false;
    }

    // Padding bytes and the two bytes before the pixels stay zero.
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(fileSize));
    std::uint8_t* header = bytes.data();
    Write16(header + 0, kBitmapType);
    Write32(header + 2, static_cast<std::uint32_t>(fileSize));
    Write32(header + 10, kWrittenPixelOffset);
    // The information header of the 24-bit form: plain, bottom-up, no palette.
    std::uint8_t* infoOut = header + kFileHeaderSize;
    Write32(infoOut + 0, kInfoHeaderSize);
    Write32(infoOut + 4, static_cast<std::uint32_t>(width));
    Write32(infoOut + 8, static_cast<std::uint32_t>(height));
    Write16(infoOut + 12, 1);
    Write16(infoOut + 14, 24);
    Write32(infoOut + 24, static_cast<std::uint32_t>(info.xPelsPerMeter));
    Write32(infoOut + 28, static_cast<std::uint32_t>(info.yPelsPerMeter));

    // File row r is the picture's row height - 1 - r. Alpha is dropped from
    // the file and, as after a round trip through 24 bits, made opaque here.
    std::uint8_t* pixels = bytes.data() + kWrittenPixelOffset;
    ForEachRowBand(height, width, [&](std::int32_t first, std::int32_t end) {
        for (std::int32_t r = first; r < end; ++r) {
            std::uint32_t* in = image.Row32(height - 1 - r);
            std::uint8_t* rowOut = pixels + r * rowBytes;
            for (std::int32_t x = 0; x < width; ++x, rowOut += 3) {
                const std::uint32_t pixel = in[x];
                rowOut[0] = static_cast<std::uint8_t>(pixel);
                rowOut[1] = static_cast<std::uint8_t>(pixel >> 8);
                rowOut[2] = static_cast<std::uint8_t>(pixel >> 16);
                in[x] = pixel | 0xFF000000u;
            }
        }
    });
    out = std::move(bytes);
    return image.ConvertTo32();
}

namespace {

bool DecodeBmpFile(std::span<const std::uint8_t> file, CImageBuffer& image, const PixelRect&, std::string& reason)
{
    return DecodeBmp(file, image, &reason);
}

bool EncodeBmpFile(CImageBuffer& image, const ImageWriteOptions&, std::vector<std::uint8_t>& out, std::string&)
{
    return EncodeBmp(image, out);
}

constexpr std::string_view kBmpExtensions[] = {"bmp"};

}  // namespace

const ImageCodec kBmpCodec{
    .name = "BMP",
    .extensions = kBmpExtensions,
    .reads = {kDepth8, true},
    .writes = {kDepth8, false},
    .decode = DecodeBmpFile,
    .encode = EncodeBmpFile,
    .emptiesImageBeforeReading = true,
};

}  // namespace skelvane
