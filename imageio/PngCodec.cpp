// PNG reading and writing over libpng 1.6.
//
// 1. The library reads through a cursor over the file in memory; a read past
//    the end is a library error. It writes through a callback that appends to
//    a growing byte vector.
// 2. libpng reports errors by jumping to the point set with setjmp. Every
//    sequence of library calls runs in one small function that sets that
//    point and owns nothing with a destructor; the structures are destroyed by
//    a guard in the caller, so every error path frees them.
// 3. Reading asks the library for rows the buffer can hold as they are:
//    palette images without transparency arrive as one 8-bit index per pixel
//    (low depths unpacked) and keep their palette; everything else arrives as
//    8-bit blue, green, red, alpha, with gray widened to three equal channels,
//    tRNS turned into alpha and a 0xFF filler where the file has no alpha.
//    The row width the library will deliver is checked against the rows
//    allocated before a single row is read.
// 4. Writing keeps libpng's zlib settings (default level; the filtered
//    strategy for filtered rows); true-colour rows use the Up filter only (see
//    WritePngRows), palette rows none. Large non-interlaced images are
//    filtered here, byte for byte as the library would, a piece at a time as
//    the pieces are deflated on all cores (ParallelZlib); the library then
//    writes only the chunks around the data, and the IDAT chunks carry the
//    finished stream.
// 5. Before allocating, the size the header promises is checked against what
//    the file could hold: deflate cannot compress by more than 1032:1.
#include "imageio/PngCodec.h"

#include <algorithm>
#include <csetjmp>
#include <cstring>
#include <new>
#include <span>

#include <png.h>
#include <zlib.h>

#include "imageio/CodecFile.h"
#include "imageio/ParallelZlib.h"

namespace skelvane {
namespace {

// ---- memory input and output ----

struct PngMemoryReader {
    const std::uint8_t* data;
    std::size_t size;
    std::size_t position;
};

void PngReadFromMemory(png_structp png, png_bytep destination, std::size_t length)
{
    auto* reader = static_cast<PngMemoryReader*>(png_get_io_ptr(png));
    if (length > reader->size - reader->position) {
        png_error(png, "PNG data ends early");
    }
    std::memcpy(destination, reader->data + reader->position, length);
    reader->position += length;
}

struct PngMemoryWriter {
    std::vector<std::uint8_t>* out;
    bool outOfMemory;
};

bool AppendBytes(PngMemoryWriter& writer, png_const_bytep bytes, std::size_t length) noexcept
{
    try {
        writer.out->insert(writer.out->end(), bytes, bytes + length);
        return true;
    } catch (const std::bad_alloc&) {
        writer.outOfMemory = true;
        return false;
    }
}

void PngWriteToMemory(png_structp png, png_bytep source, std::size_t length)
{
    auto* writer = static_cast<PngMemoryWriter*>(png_get_io_ptr(png));
    if (!AppendBytes(*writer, source, length)) {
        png_error(png, "out of memory");
    }
}

// Nothing is buffered outside the vector. Installed so that the library never
// falls back to flushing the I/O pointer as a C stream.
void PngFlushMemory(png_structp) {}

// ---- reading ----

struct ReadGuard {
    png_structp png = nullptr;
    png_infop info = nullptr;
    ~ReadGuard() { png_destroy_read_struct(&png, &info, nullptr); }
};

struct PngHeader {
    png_uint_32 width;
    png_uint_32 height;
    int bitDepth;
    int colorType;
    int interlace;
    bool hasTransparency;
    png_colorp palette;
    int paletteCount;
};

// Bytes per delivered pixel: 1 for palette indices, 4 for blue-green-red-alpha.
int DeliveredBytesPerPixel(const PngHeader& header)
{
    return header.colorType == PNG_COLOR_TYPE_PALETTE && !header.hasTransparency ? 1 : 4;
}

bool ReadPngHeader(png_structp png, png_infop info, PngMemoryReader& reader, PngHeader& header)
{
    if (setjmp(png_jmpbuf(png))) {
        return false;
    }
    png_set_read_fn(png, &reader, PngReadFromMemory);
    png_read_info(png, info);
    png_get_IHDR(png, info, &header.width, &header.height, &header.bitDepth, &header.colorType,
                 &header.interlace, nullptr, nullptr);
    header.hasTransparency = png_get_valid(png, info, PNG_INFO_tRNS) != 0;
    header.palette = nullptr;
    header.paletteCount = 0;
    if (header.colorType == PNG_COLOR_TYPE_PALETTE &&
        png_get_PLTE(png, info, &header.palette, &header.paletteCount) == 0) {
        png_error(png, "palette image without PLTE");
    }
    return true;
}

bool ReadPngRows(png_structp png, png_infop info, const PngHeader& header, png_bytepp rows)
{
    if (setjmp(png_jmpbuf(png))) {
        return false;
    }
    const int colorType = header.colorType;
    if (header.bitDepth == 16) {
        png_set_strip_16(png);
    }
    if (DeliveredBytesPerPixel(header) == 1) {
        if (header.bitDepth < 8) {
            png_set_packing(png);
        }
    } else {
        if (colorType == PNG_COLOR_TYPE_PALETTE) {
            png_set_palette_to_rgb(png);
        }
        const bool gray = (colorType & PNG_COLOR_MASK_COLOR) == 0;
        if (gray && header.bitDepth < 8) {
            png_set_expand_gray_1_2_4_to_8(png);
        }
        if (header.hasTransparency) {
            png_set_tRNS_to_alpha(png);
        }
        if (gray) {
            png_set_gray_to_rgb(png);
        }
        if ((colorType & PNG_COLOR_MASK_ALPHA) == 0 && !header.hasTransparency) {
            png_set_filler(png, 0xFF, PNG_FILLER_AFTER);
        }
        png_set_bgr(png);
    }
    png_set_interlace_handling(png);
    png_read_update_info(png, info);
    const int bytesPerPixel = DeliveredBytesPerPixel(header);
    if (png_get_bit_depth(png, info) != 8 || png_get_channels(png, info) != bytesPerPixel ||
        png_get_rowbytes(png, info) != static_cast<std::size_t>(header.width) * bytesPerPixel) {
        png_error(png, "unexpected row layout after transformations");
    }
    png_read_image(png, rows);
    png_read_end(png, info);
    return true;
}

// The smallest file that could hold the image: deflate needs at least one
// byte for every 1032 it produces.
bool FileCanHold(const PngHeader& header, std::size_t fileSize)
{
    constexpr std::uint64_t kMaxDeflateRatio = 1032;
    constexpr std::uint64_t kSlack = 4096;
    const std::uint64_t channels = (header.colorType & PNG_COLOR_MASK_COLOR ? 3 : 1) +
                                   (header.colorType & PNG_COLOR_MASK_ALPHA ? 1 : 0);
    const std::uint64_t bits = header.colorType == PNG_COLOR_TYPE_PALETTE ? header.bitDepth
                                                                          : channels * header.bitDepth;
    const std::uint64_t rowBytes = (std::uint64_t{header.width} * bits + 7) / 8 + 1;
    return rowBytes * header.height <= std::uint64_t{fileSize} * kMaxDeflateRatio + kSlack;
}

// ---- writing ----

struct WriteGuard {
    png_structp png = nullptr;
    png_infop info = nullptr;
    ~WriteGuard() { png_destroy_write_struct(&png, &info); }
};

struct PngWriteLayout {
    png_uint_32 width;
    png_uint_32 height;
    int colorType;
    int interlace;
    const png_color* palette;  // 256 entries for palette images, else null
    // The whole zlib stream of the filtered rows when it was compressed ahead,
    // else empty and the library filters and compresses the rows itself.
    std::span<const std::uint8_t> deflated;
};

// Below two pieces' worth of filtered data the library's own single-threaded
// compression is kept: there is little to share out.
constexpr std::size_t kDeflatePieceBytes = std::size_t{1} << 20;
// The library writes an image of one row unfiltered; such rows are never
// large enough to be filtered here.
static_assert(std::size_t{kMaxImageSide} * 4 + 1 < 2 * kDeflatePieceBytes);
// IDAT chunks of this size keep the chunk overhead negligible while staying
// far below the format's 2^31 - 1 limit.
constexpr std::size_t kIdatBytes = std::size_t{1} << 20;

// One row's Up differences, blue and red swapped into the file's order;
// alpha, when present, stays last.
template <std::size_t kBytesPerPixel>
void FilterUpRow(const std::uint8_t* row, const std::uint8_t* above, std::size_t pixels, std::uint8_t* out)
{
    for (std::size_t x = 0; x < pixels * kBytesPerPixel; x += kBytesPerPixel) {
        out[x] = static_cast<std::uint8_t>(row[x + 2] - above[x + 2]);
        out[x + 1] = static_cast<std::uint8_t>(row[x + 1] - above[x + 1]);
        out[x + 2] = static_cast<std::uint8_t>(row[x] - above[x]);
        if constexpr (kBytesPerPixel == 4) {
            out[x + 3] = static_cast<std::uint8_t>(row[x + 3] - above[x + 3]);
        }
    }
}

// Row y filtered as the library filters it with the filters set in
// WritePngRows: a filter byte, then the samples in red-green-blue(-alpha)
// order.
void FilterRow(const CImageBuffer& image, std::int32_t y, std::uint8_t* out)
{
    static constexpr std::uint8_t kZeros[kMaxImageSide * 4] = {};  // above the first row
    const auto pixels = static_cast<std::size_t>(image.GetWidth());
    const std::uint8_t* row = image.Row(y);
    const std::uint8_t* above = y > 0 ? image.Row(y - 1) : kZeros;
    switch (image.GetBitCount()) {
    case 32:
        out[0] = PNG_FILTER_VALUE_UP;
        FilterUpRow<4>(row, above, pixels, out + 1);
        break;
    case 24:
        out[0] = PNG_FILTER_VALUE_UP;
        FilterUpRow<3>(row, above, pixels, out + 1);
        break;
    default:
        out[0] = PNG_FILTER_VALUE_NONE;
        std::memcpy(out + 1, row, pixels);
    }
}

// A filter byte and the row's samples.
std::size_t FilteredRowBytes(const CImageBuffer& image)
{
    return static_cast<std::size_t>(image.GetWidth()) * static_cast<std::size_t>(image.GetBitCount() / 8) + 1;
}

// Bytes of the filtered rows from `begin` on: whole rows straight into `out`,
// the rows cut at either end through a scratch row.
void FilteredBytes(const CImageBuffer& image, std::size_t begin, std::span<std::uint8_t> out)
{
    const std::size_t stride = FilteredRowBytes(image);
    std::vector<std::uint8_t> scratch;
    auto y = static_cast<std::int32_t>(begin / stride);
    std::size_t skip = begin % stride;
    for (std::size_t written = 0; written < out.size(); ++y, skip = 0) {
        const std::size_t length = std::min(stride - skip, out.size() - written);
        if (length == stride) {
            FilterRow(image, y, out.data() + written);
        } else {
            scratch.resize(stride);
            FilterRow(image, y, scratch.data());
            std::memcpy(out.data() + written, scratch.data() + skip, length);
        }
        written += length;
    }
}

bool WritePngRows(png_structp png, png_infop info, PngMemoryWriter& writer, const PngWriteLayout& layout,
                  png_bytepp rows)
{
    if (setjmp(png_jmpbuf(png))) {
        return false;
    }
    png_set_write_fn(png, &writer, PngWriteToMemory, PngFlushMemory);
    png_set_IHDR(png, info, layout.width, layout.height, 8, layout.colorType, layout.interlace,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    if (layout.palette) {
        png_set_PLTE(png, info, layout.palette, 256);
    } else {
        // Rendered frames are resampled, so each row predicts the next well:
        // the Up filter alone gave smaller files than adaptive filtering in
        // about four fifths of the time on dome renders of photographs.
        png_set_filter(png, PNG_FILTER_TYPE_BASE, PNG_FILTER_UP);
    }
    png_write_info(png, info);
    if (layout.deflated.empty()) {
        png_set_bgr(png);
        png_write_image(png, rows);
        png_write_end(png, info);
        return true;
    }
    // IEND goes through png_write_chunk too: png_write_end would insist on
    // IDAT data the library wrote itself.
    for (std::size_t at = 0; at < layout.deflated.size(); at += kIdatBytes) {
        png_write_chunk(png, reinterpret_cast<png_const_bytep>("IDAT"), layout.deflated.data() + at,
                        std::min(kIdatBytes, layout.deflated.size() - at));
    }
    png_write_chunk(png, reinterpret_cast<png_const_bytep>("IEND"), nullptr, 0);
    return true;
}

}  // namespace

bool DecodePng(std::span<const std::uint8_t> data, CImageBuffer& image)
{
    image.Release();
    ReadGuard guard;
    guard.png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    if (!guard.png) {
        return false;
    }
    guard.info = png_create_info_struct(guard.png);
    if (!guard.info) {
        return false;
    }
    PngMemoryReader reader{data.data(), data.size(), 0};
    PngHeader header{};
    if (!ReadPngHeader(guard.png, guard.info, reader, header)) {
        return false;
    }
    if (header.width > static_cast<png_uint_32>(kMaxImageSide) ||
        header.height > static_cast<png_uint_32>(kMaxImageSide) || !FileCanHold(header, data.size())) {
        return false;
    }
    const int bitCount = DeliveredBytesPerPixel(header) * 8;
    if (!image.AllocateForReader(static_cast<std::int32_t>(header.width), static_cast<std::int32_t>(header.height),
                                 bitCount)) {
        return false;
    }
    if (header.colorType == PNG_COLOR_TYPE_PALETTE) {
        auto& palette = image.Palette();
        for (int i = 0; i < header.paletteCount && i < 256; ++i) {
            palette[i].red = header.palette[i].red;
            palette[i].green = header.palette[i].green;
            palette[i].blue = header.palette[i].blue;
        }
        image.SetPaletteCount(std::min(header.paletteCount, 256));
    }
    std::vector<png_bytep> rows(header.height);
    for (png_uint_32 y = 0; y < header.height; ++y) {
        rows[y] = image.Row(static_cast<std::int32_t>(y));
    }
    bool read = false;
    {
        const PageFaultsAhead faultsAhead = FaultRowsAhead(image, 0, image.GetHeight());
        read = ReadPngRows(guard.png, guard.info, header, rows.data());
    }
    if (!read) {
        image.Release();
        return false;
    }
    return image.ConvertTo32();
}

bool EncodePng(const CImageBuffer& image, bool interlace, std::vector<std::uint8_t>& out)
{
    if (image.IsEmpty()) {
        return false;
    }
    PngWriteLayout layout{static_cast<png_uint_32>(image.GetWidth()), static_cast<png_uint_32>(image.GetHeight()), 0,
                          interlace ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE, nullptr, {}};
    png_color palette[256];
    switch (image.GetBitCount()) {
    case 32:
        layout.colorType = PNG_COLOR_TYPE_RGB_ALPHA;
        break;
    case 24:
        layout.colorType = PNG_COLOR_TYPE_RGB;
        break;
    case 8:
        layout.colorType = PNG_COLOR_TYPE_PALETTE;
        for (int i = 0; i < 256; ++i) {
            palette[i] = {image.Palette()[i].red, image.Palette()[i].green, image.Palette()[i].blue};
        }
        layout.palette = palette;
        break;
    default:
        return false;
    }
    std::vector<png_bytep> rows(static_cast<std::size_t>(image.GetHeight()));
    for (std::int32_t y = 0; y < image.GetHeight(); ++y) {
        // The library copies each row before transforming it.
        rows[y] = const_cast<png_bytep>(image.Row(y));
    }
    std::vector<std::uint8_t> deflated;
    const std::size_t filteredBytes = FilteredRowBytes(image) * static_cast<std::size_t>(image.GetHeight());
    if (!interlace && filteredBytes >= 2 * kDeflatePieceBytes) {
        deflated = ZlibCompressInPieces(
            filteredBytes,
            [&image](std::size_t begin, std::span<std::uint8_t> bytes) { FilteredBytes(image, begin, bytes); },
            layout.palette ? Z_DEFAULT_STRATEGY : Z_FILTERED, kDeflatePieceBytes);
        layout.deflated = deflated;
    }
    const std::size_t start = out.size();
    PngMemoryWriter writer{&out, false};
    bool written;
    {
        WriteGuard guard;
        guard.png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
        if (!guard.png) {
            return false;
        }
        guard.info = png_create_info_struct(guard.png);
        if (!guard.info) {
            return false;
        }
        written = WritePngRows(guard.png, guard.info, writer, layout, rows.data());
    }
    if (!written) {
        out.resize(start);
        if (writer.outOfMemory) {
            throw std::bad_alloc();
        }
    }
    return written;
}

bool CImageBuffer::LoadPng(const std::filesystem::path& path)
{
    return LoadImageFile(*this, path, ReleaseBeforeOpen::No,
                         [](std::span<const std::uint8_t> data, CImageBuffer& image) { return DecodePng(data, image); });
}

bool CImageBuffer::SavePng(const std::filesystem::path& path, bool interlace)
{
    return SaveImageFile(*this, path, [interlace](CImageBuffer& image, std::vector<std::uint8_t>& out) {
        return EncodePng(image, interlace, out);
    });
}

}  // namespace skelvane
