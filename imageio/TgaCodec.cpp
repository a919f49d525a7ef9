// TGA reading and writing.
//
// Reading:
// 1. Check the 18-byte header: a known image type, a pixel depth that fits
//    it, sides within the limit, and for colour-mapped images a map of
//    8-bit-addressable entries. A colour map carried by a true-colour or gray
//    image is skipped unread.
// 2. Before allocating, check that the bytes after the header and map can
//    hold the pixels: the whole raw block, or for run-length data at least one
//    packet (header byte + pixel) per 128 pixels.
// 3. Take the pixel stream in file order, one file row at a time. Raw rows are
//    converted where they lie; run-length rows are first expanded into a row
//    of file pixels, with a packet allowed to continue into the next row, but
//    never past the last pixel or the end of the file.
// 4. Each file row becomes one 32-bit row of the image: the origin bits choose
//    the image row (bottom-up unless 0x20) and the direction (right-to-left
//    with 0x10).
//
// Writing: the fixed header and image ID, then rows from the top, either raw
// or each row run-length encoded on its own by the rule below.
#include "imageio/TgaCodec.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <string>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "imageio/DecoderSupport.h"

namespace skelvane {
namespace {

constexpr std::size_t kHeaderBytes = 18;
constexpr int kMaxPacketPixels = 127;  // written packets; files may hold up to 128
constexpr char kImageId[] = "Quorvanta - TGA";
constexpr std::size_t kImageIdBytes = 14;  // the text without its last character

enum TgaImageType : std::uint8_t {
    kColorMapped = 1,
    kTrueColor = 2,
    kGray = 3,
    kRleColorMapped = 9,
    kRleTrueColor = 10,
    kRleGray = 11,
};

constexpr std::uint8_t kTopDownBit = 0x20;
constexpr std::uint8_t kRightToLeftBit = 0x10;

struct TgaHeader {
    std::uint8_t idLength;
    std::uint8_t colorMapType;
    std::uint8_t imageType;
    std::uint16_t mapFirst;
    std::uint16_t mapLength;
    std::uint8_t mapEntryBits;
    std::uint16_t width;
    std::uint16_t height;
    std::uint8_t pixelBits;
    std::uint8_t descriptor;
};

std::uint16_t ReadU16(const std::uint8_t* p)
{
    return static_cast<std::uint16_t>(p[0] | p[1] << 8);
}

void PutU16(std::uint8_t* p, std::uint32_t value)
{
    p[0] = static_cast<std::uint8_t>(value);
    p[1] = static_cast<std::uint8_t>(value >> 8);
}

TgaHeader ParseHeader(const std::uint8_t* p)
{
    return {p[0], p[1], p[2], ReadU16(p + 3), ReadU16(p + 5), p[7], ReadU16(p + 12), ReadU16(p + 14), p[16], p[17]};
}

// How one file pixel becomes a 32-bit word.
enum class PixelKind { Indexed8, Gray8, GrayAlpha16, Rgb555, Bgr24, Bgra32 };

constexpr std::uint32_t Widen5(std::uint32_t v)
{
    return (v << 3) | (v >> 2);
}

constexpr std::uint32_t FromRgb555(std::uint32_t w)
{
    return 0xFF000000u | Widen5((w >> 10) & 31) << 16 | Widen5((w >> 5) & 31) << 8 | Widen5(w & 31);
}

// Colour map entries become opaque words, whatever their size.
std::uint32_t MapEntry(const std::uint8_t* p, int entryBytes)
{
    if (entryBytes == 2) {
        return FromRgb555(ReadU16(p));
    }
    return 0xFF000000u | std::uint32_t{p[2]} << 16 | std::uint32_t{p[1]} << 8 | p[0];
}

void ConvertRow(const std::uint8_t* in, std::uint32_t* out, std::int32_t width, PixelKind kind,
                const std::uint32_t* lookup)
{
    switch (kind) {
    case PixelKind::Indexed8:
        for (std::int32_t x = 0; x < width; ++x) {
            out[x] = lookup[in[x]];
        }
        break;
    case PixelKind::Gray8:
        for (std::int32_t x = 0; x < width; ++x) {
            out[x] = 0xFF000000u | in[x] * 0x010101u;
        }
        break;
    case PixelKind::GrayAlpha16:
        for (std::int32_t x = 0; x < width; ++x) {
            out[x] = std::uint32_t{in[2 * x + 1]} << 24 | in[2 * x] * 0x010101u;
        }
        break;
    case PixelKind::Rgb555:
        for (std::int32_t x = 0; x < width; ++x) {
            out[x] = FromRgb555(ReadU16(in + 2 * x));
        }
        break;
    case PixelKind::Bgr24:
        for (std::int32_t x = 0; x < width; ++x, in += 3) {
            out[x] = 0xFF000000u | std::uint32_t{in[2]} << 16 | std::uint32_t{in[1]} << 8 | in[0];
        }
        break;
    case PixelKind::Bgra32:
        std::memcpy(out, in, static_cast<std::size_t>(width) * 4);
        break;
    }
}

// The pixel kind a header describes, or false for a combination we refuse.
bool PixelKindOf(const TgaHeader& header, PixelKind& kind)
{
    switch (header.imageType) {
    case kColorMapped:
    case kRleColorMapped:
        kind = PixelKind::Indexed8;
        return header.colorMapType == 1 && header.pixelBits == 8;
    case kGray:
    case kRleGray:
        kind = header.pixelBits == 16 ? PixelKind::GrayAlpha16 : PixelKind::Gray8;
        return header.pixelBits == 8 || header.pixelBits == 16;
    case kTrueColor:
    case kRleTrueColor:
        switch (header.pixelBits) {
        case 15:
        case 16:
            kind = PixelKind::Rgb555;
            return true;
        case 24:
            kind = PixelKind::Bgr24;
            return true;
        case 32:
            kind = PixelKind::Bgra32;
            return true;
        default:
            return false;
        }
    default:
        return false;
    }
}

// Run-length packets in file order; a packet may continue into the next row.
class RleReader {
public:
    RleReader(const std::uint8_t* data, const std::uint8_t* end, int pixelBytes)
        : m_next(data), m_end(end), m_pixelBytes(pixelBytes)
    {
    }

    // Expands the next `width` pixels into `row`; false when the data ends first.
    bool ExpandRow(std::uint8_t* row, std::int32_t width)
    {
        const auto pixelBytes = static_cast<std::size_t>(m_pixelBytes);
        std::int32_t x = 0;
        while (x < width) {
            if (m_pending == 0 && !StartPacket()) {
                return false;
            }
            const std::int32_t count = std::min(m_pending, width - x);
            std::uint8_t* out = row + x * pixelBytes;
            if (m_run) {
                for (std::int32_t i = 0; i < count; ++i, out += pixelBytes) {
                    std::memcpy(out, m_runPixel, pixelBytes);
                }
            } else {
                const std::size_t bytes = count * pixelBytes;
                if (bytes > static_cast<std::size_t>(m_end - m_next)) {
                    return false;
                }
                std::memcpy(out, m_next, bytes);
                m_next += bytes;
            }
            m_pending -= count;
            x += count;
        }
        return true;
    }

    // True when the last packet ended exactly with the last pixel.
    bool Finished() const { return m_pending == 0; }

private:
    bool StartPacket()
    {
        if (m_next == m_end) {
            return false;
        }
        const std::uint8_t header = *m_next++;
        m_pending = (header & 0x7F) + 1;
        m_run = (header & 0x80) != 0;
        if (m_run) {
            if (static_cast<std::size_t>(m_end - m_next) < static_cast<std::size_t>(m_pixelBytes)) {
                return false;
            }
            m_runPixel = m_next;
            m_next += m_pixelBytes;
        }
        return true;
    }

    const std::uint8_t* m_next;
    const std::uint8_t* m_end;
    int m_pixelBytes;
    std::int32_t m_pending = 0;
    bool m_run = false;
    const std::uint8_t* m_runPixel = nullptr;
};

// ---- run-length encoding of one row ----

template <int N>
bool SamePixel(const std::uint8_t* a, const std::uint8_t* b)
{
    return std::memcmp(a, b, N) == 0;
}

// First i in [from, last) whose pixel equals pixel i + 1; `last` when none.
// Pixel `last` must exist.
template <int N>
std::int32_t FirstEqualPair(const std::uint8_t* row, std::int32_t from, std::int32_t last)
{
    std::int32_t i = from;
#if defined(__SSE2__)
    if constexpr (N == 4) {
        for (; i + 4 <= last; i += 4) {
            const __m128i here = _mm_loadu_si128(reinterpret_cast<const __m128i*>(row + 4 * i));
            const __m128i next = _mm_loadu_si128(reinterpret_cast<const __m128i*>(row + 4 * (i + 1)));
            const int equal = _mm_movemask_ps(_mm_castsi128_ps(_mm_cmpeq_epi32(here, next)));
            if (equal != 0) {
                return i + std::countr_zero(static_cast<unsigned>(equal));
            }
        }
    }
#endif
    for (; i < last; ++i) {
        if (SamePixel<N>(row + i * N, row + (i + 1) * N)) {
            return i;
        }
    }
    return last;
}

// A run takes a pixel and its direct repeats (2 to 127 pixels). Otherwise a
// raw packet grows until it holds 127 pixels or the row ends, and stops after
// taking a pixel that equals the one after it, so that pair's second pixel
// starts the next packet.
template <int N>
std::size_t EncodeRleRow(const std::uint8_t* row, std::int32_t width, std::uint8_t* out)
{
    std::uint8_t* const start = out;
    std::int32_t x = 0;
    while (x < width) {
        const std::uint8_t* pixel = row + x * N;
        std::int32_t run = 1;
        while (x + run < width && run < kMaxPacketPixels && SamePixel<N>(pixel, row + (x + run) * N)) {
            ++run;
        }
        if (run > 1) {
            *out++ = static_cast<std::uint8_t>(0x80 | (run - 1));
            std::memcpy(out, pixel, N);
            out += N;
            x += run;
            continue;
        }
        const std::int32_t last = std::min(width - 1, x + kMaxPacketPixels);
        const std::int32_t pairAt = FirstEqualPair<N>(row, x + 1, last);
        const std::int32_t count =
            pairAt < last ? pairAt - x + 1 : std::min(width - x, kMaxPacketPixels);
        *out++ = static_cast<std::uint8_t>(count - 1);
        std::memcpy(out, pixel, static_cast<std::size_t>(count) * N);
        out += static_cast<std::size_t>(count) * N;
        x += count;
    }
    return static_cast<std::size_t>(out - start);
}

std::size_t EncodeRleRow(const std::uint8_t* row, std::int32_t width, int pixelBytes, std::uint8_t* out)
{
    switch (pixelBytes) {
    case 2:
        return EncodeRleRow<2>(row, width, out);
    case 3:
        return EncodeRleRow<3>(row, width, out);
    default:
        return EncodeRleRow<4>(row, width, out);
    }
}

}  // namespace

bool DecodeTga(std::span<const std::uint8_t> data, CImageBuffer& image, std::string* error)
{
    image.Release();
    std::string reason;
    auto fail = [&](std::string why) {
        image.Release();
        if (error) {
            *error = std::move(why);
        }
        return false;
    };
    if (data.size() < kHeaderBytes) {
        return fail("shorter than a TGA header");
    }
    const TgaHeader header = ParseHeader(data.data());
    PixelKind kind;
    if (header.colorMapType > 1) {
        return fail("not a TGA file (colour map type " + std::to_string(header.colorMapType) + ")");
    }
    if (!PixelKindOf(header, kind)) {
        return fail("TGA image type " + std::to_string(header.imageType) + " with " +
                    std::to_string(header.pixelBits) + "-bit pixels is not supported");
    }
    if (!CheckDeclaredSize(header.width, header.height, reason)) {
        return fail(reason);
    }
    const std::uint8_t* const end = data.data() + data.size();
    std::size_t offset = kHeaderBytes + header.idLength;

    // The colour map: read for colour-mapped images, skipped otherwise.
    std::uint32_t lookup[256];
    std::fill(std::begin(lookup), std::end(lookup), 0xFF000000u);
    if (header.colorMapType == 1) {
        const int entryBytes = (header.mapEntryBits + 7) / 8;
        const std::size_t mapBytes = std::size_t{header.mapLength} * entryBytes;
        if (offset > data.size() || mapBytes > data.size() - offset) {
            return fail("the colour map reaches past the end of the file");
        }
        if (kind == PixelKind::Indexed8) {
            const bool knownEntry = header.mapEntryBits == 15 || header.mapEntryBits == 16 ||
                                    header.mapEntryBits == 24 || header.mapEntryBits == 32;
            if (!knownEntry) {
                return fail("colour map entries of " + std::to_string(header.mapEntryBits) +
                            " bits are not supported");
            }
            if (header.mapFirst + header.mapLength > 256) {
                return fail("the colour map reaches past entry 255");
            }
            for (int i = 0; i < header.mapLength; ++i) {
                lookup[header.mapFirst + i] = MapEntry(data.data() + offset + i * entryBytes, entryBytes);
            }
        }
        offset += mapBytes;
    }
    if (offset > data.size()) {
        return fail("the image ID reaches past the end of the file");
    }

    // The pixels must fit in what is left of the file before anything is allocated.
    const bool runLength = header.imageType >= kRleColorMapped;
    const int pixelBytes = (header.pixelBits + 7) / 8;
    const std::uint64_t pixels = std::uint64_t{header.width} * header.height;
    const std::uint64_t needed = runLength ? (pixels + 127) / 128 * (1 + pixelBytes) : pixels * pixelBytes;
    if (!CheckDataCovers(header.width, header.height, needed, data.size() - offset, reason)) {
        return fail(reason);
    }
    if (!image.AllocateForReader(header.width, header.height, 32)) {
        return fail("the image cannot be allocated");
    }

    const bool topDown = (header.descriptor & kTopDownBit) != 0;
    const bool rightToLeft = (header.descriptor & kRightToLeftBit) != 0;
    const std::int32_t width = header.width;
    const std::int32_t height = header.height;
    const std::size_t fileRowBytes = static_cast<std::size_t>(width) * pixelBytes;
    const std::uint8_t* next = data.data() + offset;
    RleReader packets(next, end, pixelBytes);
    std::vector<std::uint8_t> expanded(runLength && kind != PixelKind::Bgra32 ? fileRowBytes : 0);
    for (std::int32_t fileRow = 0; fileRow < height; ++fileRow) {
        const std::uint8_t* in = next;
        std::uint32_t* out = image.Row32(topDown ? fileRow : height - 1 - fileRow);
        if (runLength) {
            // 32-bit pixels are already in the buffer's layout.
            std::uint8_t* target = kind == PixelKind::Bgra32 ? reinterpret_cast<std::uint8_t*>(out) : expanded.data();
            if (!packets.ExpandRow(target, width)) {
                return fail("cut short after row " + std::to_string(fileRow) + " of " + std::to_string(height));
            }
            in = expanded.data();
        } else {
            next += fileRowBytes;
        }
        if (!runLength || kind != PixelKind::Bgra32) {
            ConvertRow(in, out, width, kind, lookup);
        }
        if (rightToLeft) {
            std::reverse(out, out + width);
        }
    }
    if (runLength && !packets.Finished()) {
        return fail("a run-length packet reaches past the last pixel");
    }
    return image.ConvertTo32();
}

bool EncodeTga(CImageBuffer& image, bool runLength, std::vector<std::uint8_t>& out)
{
    if (image.IsEmpty()) {
        return false;
    }
    // A true-colour file cannot hold palette indices.
    if (image.GetBitCount() == 8 && !image.ConvertTo32()) {
        return false;
    }
    const int bitCount = image.GetBitCount();
    const std::int32_t width = image.GetWidth();
    const std::int32_t height = image.GetHeight();
    const int pixelBytes = (bitCount + 7) / 8;
    const std::size_t rowBytes = static_cast<std::size_t>(width) * bitCount / 8;

    std::uint8_t header[kHeaderBytes + kImageIdBytes] = {};
    header[0] = kImageIdBytes;
    header[2] = runLength ? kRleTrueColor : kTrueColor;
    // A colour map length and entry size although no map follows: the
    // files have always carried them and readers ignore them.
    PutU16(header + 5, 256);
    header[7] = 24;
    PutU16(header + 12, static_cast<std::uint32_t>(width));
    PutU16(header + 14, static_cast<std::uint32_t>(height));
    header[16] = static_cast<std::uint8_t>(bitCount);
    header[17] = kTopDownBit;
    std::memcpy(header + kHeaderBytes, kImageId, kImageIdBytes);

    const std::size_t start = out.size();
    const std::size_t worstRow = static_cast<std::size_t>(width) * (pixelBytes + 1);
    out.reserve(start + sizeof header + (runLength ? worstRow : rowBytes) * static_cast<std::size_t>(height));
    out.insert(out.end(), header, header + sizeof header);
    if (runLength) {
        std::vector<std::uint8_t> packed(worstRow);
        for (std::int32_t y = 0; y < height; ++y) {
            const std::size_t bytes = EncodeRleRow(image.Row(y), width, pixelBytes, packed.data());
            out.insert(out.end(), packed.data(), packed.data() + bytes);
        }
    } else {
        for (std::int32_t y = 0; y < height; ++y) {
            out.insert(out.end(), image.Row(y), image.Row(y) + rowBytes);
        }
    }
    return image.ConvertTo32();
}

namespace {

bool DecodeTgaFile(std::span<const std::uint8_t> file, CImageBuffer& image, const PixelRect&, std::string& reason)
{
    return DecodeTga(file, image, &reason);
}

// Saves are run-length encoded.
bool EncodeTgaFile(CImageBuffer& image, const ImageWriteOptions&, std::vector<std::uint8_t>& out, std::string&)
{
    return EncodeTga(image, true, out);
}

constexpr std::string_view kTgaExtensions[] = {"tga"};

}  // namespace

const ImageCodec kTgaCodec{
    .name = "TGA",
    .extensions = kTgaExtensions,
    .reads = {kDepth8, true},
    .writes = {kDepth8, true},
    .decode = DecodeTgaFile,
    .encode = EncodeTgaFile,
};

}  // namespace skelvane
