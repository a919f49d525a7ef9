// PNG reading and writing over libpng 1.6.
//
// 1. The library reads through a cursor over the file in memory; a read past
//    the end is a library error. It writes through a callback that appends to
//    a growing byte vector.
// 2. libpng reports errors by jumping to the point set with setjmp, after an
//    error hook has kept its message as the reason (and an allocation hook
//    has noted memory that ran out, which is raised again as std::bad_alloc
//    instead of passing for a damaged file). Every sequence of library calls
//    runs in one small function that sets that point and owns nothing with a
//    destructor; the structures are destroyed by a guard in the caller, so
//    every error path frees them.
// 3. Reading asks the library for rows the buffer can hold as they are:
//    palette images without transparency arrive as one 8-bit index per pixel
//    (low depths unpacked) and keep their palette; everything else arrives as
//    blue, green, red, alpha, with gray widened to three equal channels,
//    tRNS turned into alpha and an opaque filler where the file has no alpha:
//    16-bit files as little-endian 16-bit samples (a 16-bit image), all
//    others as 8-bit ones. The row width the library will deliver is checked
//    against the rows allocated before a single row is read. The colour
//    chunks (iCCP, sRGB, gAMA, cHRM) become the image's colour description.
// 4. Writing: true-colour rows use the Up filter only (see WritePngRows),
//    palette rows none. Non-interlaced images are filtered here, byte for
//    byte as the library would, a piece at a time as the pieces are deflated
//    on all cores (ParallelZlib, at the level asked for); the library then
//    writes only the chunks around the data, and the IDAT chunks carry the
//    finished stream. Interlaced images keep the library's own filtering and
//    zlib at its default level. 16-bit images are written gray where every
//    pixel is gray and with alpha where some pixel is not opaque, with the
//    colour chunks of their description; 8-bit files get none, as they always
//    had.
// 5. Before allocating, the size the header promises is checked against the
//    limit and against what the IDAT chunks could hold: deflate cannot
//    compress by more than 1032:1.
#include "imageio/PngCodec.h"

#include <algorithm>
#include <atomic>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>

#include <png.h>

#include "imageio/DecoderSupport.h"
#include "imageio/ParallelZlib.h"

namespace skelvane {
namespace {

// ---- errors and memory ----

// What libpng's hooks saw, for the reason of a failure.
struct PngErrorState {
    char message[256];
    bool outOfMemory;
};

[[noreturn]] void PngError(png_structp png, png_const_charp message)
{
    auto* state = static_cast<PngErrorState*>(png_get_error_ptr(png));
    std::snprintf(state->message, sizeof state->message, "%s", message);
    png_longjmp(png, 1);
}

png_voidp PngAllocate(png_structp png, png_alloc_size_t size)
{
    void* block = std::malloc(size);
    if (!block) {
        static_cast<PngErrorState*>(png_get_mem_ptr(png))->outOfMemory = true;
    }
    return block;
}

void PngFree(png_structp, png_voidp block)
{
    std::free(block);
}

// Warnings keep the library's own handler (the standard error stream).
png_structp CreateReadStruct(PngErrorState& state)
{
    return png_create_read_struct_2(PNG_LIBPNG_VER_STRING, &state, PngError, nullptr, &state, PngAllocate, PngFree);
}

png_structp CreateWriteStruct(PngErrorState& state)
{
    return png_create_write_struct_2(PNG_LIBPNG_VER_STRING, &state, PngError, nullptr, &state, PngAllocate, PngFree);
}

// ---- memory input and output ----

struct PngMemoryReader {
    const std::uint8_t* data;
    std::size_t size;
    std::size_t position;
    bool endedEarly;
};

void PngReadFromMemory(png_structp png, png_bytep destination, std::size_t length)
{
    auto* reader = static_cast<PngMemoryReader*>(png_get_io_ptr(png));
    if (length > reader->size - reader->position) {
        reader->endedEarly = true;
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

// Bytes per delivered pixel: 1 for palette indices, 4 for blue-green-red-alpha
// of 8 bits, 8 for the same of 16 bits.
int DeliveredBytesPerPixel(const PngHeader& header)
{
    if (header.bitDepth == 16) {
        return 8;
    }
    return header.colorType == PNG_COLOR_TYPE_PALETTE && !header.hasTransparency ? 1 : 4;
}

// 16-bit files are read at their depth, all others at 8 bits.
int DeliveredBitDepth(const PngHeader& header)
{
    return header.bitDepth == 16 ? 16 : 8;
}

// The colour chunks of a file that was read: iCCP, sRGB, gAMA, cHRM.
ColourDescriptionPtr ReadColourChunks(png_structp png, png_infop info)
{
    auto colour = std::make_shared<ColourDescription>();
    png_charp name = nullptr;
    int compression = 0;
    png_bytep profile = nullptr;
    png_uint_32 length = 0;
    if (png_get_iCCP(png, info, &name, &compression, &profile, &length) != 0 && profile && length > 0) {
        colour->iccProfile.assign(profile, profile + length);
        colour->iccName = name ? name : "";
    }
    int intent = 0;
    if (png_get_sRGB(png, info, &intent) != 0) {
        colour->srgbIntent = intent;
    }
    png_fixed_point gamma = 0;
    if (png_get_gAMA_fixed(png, info, &gamma) != 0 && gamma > 0) {
        colour->gamma = static_cast<float>(gamma) / 100000.0f;
        colour->linear = gamma == PNG_FP_1;
    }
    double white[2];
    double red[2];
    double green[2];
    double blue[2];
    if (png_get_cHRM(png, info, &white[0], &white[1], &red[0], &red[1], &green[0], &green[1], &blue[0], &blue[1]) !=
        0) {
        auto pair = [](const double* xy) { return std::array<float, 2>{static_cast<float>(xy[0]), static_cast<float>(xy[1])}; };
        colour->chromaticities = Chromaticities{pair(white), pair(red), pair(green), pair(blue)};
    }
    if (colour->IsEmpty()) {
        return nullptr;
    }
    return colour;
}

bool ReadPngHeader(png_structp png, png_infop info, PngMemoryReader& reader, PngHeader& header,
                   ColourDescriptionPtr& colour)
{
    if (setjmp(png_jmpbuf(png))) {
        return false;
    }
    png_set_read_fn(png, &reader, PngReadFromMemory);
    png_read_info(png, info);
    colour = ReadColourChunks(png, info);
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

// How far the rows got, for the reason of a file that ends early.
struct PngRowProgress {
    int pass = 0;
    int passes = 1;
    png_uint_32 rowsDone = 0;  // of the current pass
};

bool ReadPngRows(png_structp png, png_infop info, const PngHeader& header, png_bytepp rows,
                 PngRowProgress& progress)
{
    if (setjmp(png_jmpbuf(png))) {
        return false;
    }
    const int colorType = header.colorType;
    if (header.bitDepth == 16) {
        png_set_swap(png);  // little-endian words, as the image holds them
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
            png_set_filler(png, header.bitDepth == 16 ? 0xFFFF : 0xFF, PNG_FILLER_AFTER);
        }
        png_set_bgr(png);
    }
    progress.passes = png_set_interlace_handling(png);
    png_read_update_info(png, info);
    const int bytesPerPixel = DeliveredBytesPerPixel(header);
    const int bitDepth = DeliveredBitDepth(header);
    if (png_get_bit_depth(png, info) != bitDepth || png_get_channels(png, info) != bytesPerPixel * 8 / bitDepth ||
        png_get_rowbytes(png, info) != static_cast<std::size_t>(header.width) * bytesPerPixel) {
        png_error(png, "unexpected row layout after transformations");
    }
    // As png_read_image does it, counting: each pass goes over every row.
    for (progress.pass = 0; progress.pass < progress.passes; ++progress.pass) {
        for (progress.rowsDone = 0; progress.rowsDone < header.height; ++progress.rowsDone) {
            png_read_row(png, rows[progress.rowsDone], nullptr);
        }
    }
    png_read_end(png, info);
    return true;
}

// Bytes of compressed image data: the run of IDAT chunks from the one the
// library stopped at after the header, as far as the file holds them.
std::uint64_t IdatBytes(const PngMemoryReader& reader)
{
    std::size_t at = reader.position - std::min<std::size_t>(reader.position, 8);
    if (reader.size - at < 8 || std::memcmp(reader.data + at + 4, "IDAT", 4) != 0) {
        return reader.size - reader.position;  // not where expected: count the rest
    }
    std::uint64_t total = 0;
    while (reader.size - at >= 8 && std::memcmp(reader.data + at + 4, "IDAT", 4) == 0) {
        const std::uint8_t* p = reader.data + at;
        const std::size_t length = std::size_t{p[0]} << 24 | std::size_t{p[1]} << 16 | std::size_t{p[2]} << 8 | p[3];
        const std::size_t room = reader.size - at - 8;
        if (length >= room) {
            return total + room;
        }
        total += length;
        at += 8 + length + std::min<std::size_t>(4, room - length);  // and its CRC
    }
    return total;
}

// False, with the reason, for a header the IDAT data cannot back: deflate
// needs at least one byte for every 1032 it produces.
bool CheckPngSize(const PngHeader& header, const PngMemoryReader& reader, std::string& reason)
{
    if (!CheckDeclaredSize(header.width, header.height, reason)) {
        return false;
    }
    constexpr std::uint64_t kMaxDeflateRatio = 1032;
    constexpr std::uint64_t kSlack = 4096;  // stream headers; small images always pass
    const std::uint64_t channels = (header.colorType & PNG_COLOR_MASK_COLOR ? 3 : 1) +
                                   (header.colorType & PNG_COLOR_MASK_ALPHA ? 1 : 0);
    const std::uint64_t bits = header.colorType == PNG_COLOR_TYPE_PALETTE ? header.bitDepth
                                                                          : channels * header.bitDepth;
    const std::uint64_t rowBytes = (std::uint64_t{header.width} * bits + 7) / 8 + 1;
    const std::uint64_t filtered = rowBytes * header.height;
    const std::uint64_t needed = filtered > kSlack ? (filtered - kSlack + kMaxDeflateRatio - 1) / kMaxDeflateRatio : 0;
    return CheckDataCovers(header.width, header.height, needed, IdatBytes(reader), reason);
}

// Why reading failed. Memory that ran out is raised again.
std::string ReadFailure(const PngErrorState& state, const PngMemoryReader& reader, const PngRowProgress* rows,
                        png_uint_32 height)
{
    if (state.outOfMemory) {
        throw std::bad_alloc();
    }
    if (!reader.endedEarly) {
        return LibraryReason(state.message);
    }
    if (!rows) {
        return "cut short before its image data";
    }
    if (rows->pass == rows->passes) {
        return "cut short after its image data";
    }
    if (rows->passes > 1) {
        return "cut short in interlace pass " + std::to_string(rows->pass + 1) + " of " + std::to_string(rows->passes);
    }
    if (rows->rowsDone == 0) {
        return "cut short before its first row";
    }
    return "cut short after row " + std::to_string(rows->rowsDone) + " of " + std::to_string(height);
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
    int bitDepth;  // 8, or 16 for a 16-bit image
    int colorType;
    int interlace;
    const png_color* palette;  // 256 entries for palette images, else null
    // The whole zlib stream of the filtered rows when it was compressed ahead,
    // else empty and the library filters and compresses the rows itself.
    std::span<const std::uint8_t> deflated;
    // The chunks that describe the values (16-bit files only), or null.
    const ColourDescription* colour;
};

// Samples a pixel of the file has.
int ChannelsOf(int colorType)
{
    switch (colorType) {
    case PNG_COLOR_TYPE_GRAY:
    case PNG_COLOR_TYPE_PALETTE:
        return 1;
    case PNG_COLOR_TYPE_GRAY_ALPHA:
        return 2;
    case PNG_COLOR_TYPE_RGB:
        return 3;
    default:
        return 4;
    }
}

// Bytes of one row of the file's samples, without the filter byte.
std::size_t FileRowBytes(const PngWriteLayout& layout)
{
    return std::size_t{layout.width} * static_cast<std::size_t>(ChannelsOf(layout.colorType) * layout.bitDepth / 8);
}

// The colour type a 16-bit image needs: gray where every pixel is, alpha only
// where some pixel is not opaque.
int ColorTypeOf16(const CImageBuffer& image)
{
    bool gray = true;
    for (std::int32_t y = 0; y < image.GetHeight() && gray; ++y) {
        const Pixel16* row = image.Row16(y);
        for (std::int32_t x = 0; x < image.GetWidth() && gray; ++x) {
            gray = row[x].red == row[x].green && row[x].green == row[x].blue;
        }
    }
    return (gray ? PNG_COLOR_TYPE_GRAY : PNG_COLOR_TYPE_RGB) | (image.IsOpaque() ? 0 : PNG_COLOR_MASK_ALPHA);
}

// Row y of a 16-bit image as the file holds it: big-endian samples, gray
// or red, green, blue, then alpha where the layout has it.
void FileRow16(const CImageBuffer& image, const PngWriteLayout& layout, std::int32_t y, std::uint8_t* out)
{
    const Pixel16* row = image.Row16(y);
    const bool gray = (layout.colorType & PNG_COLOR_MASK_COLOR) == 0;
    const bool alpha = (layout.colorType & PNG_COLOR_MASK_ALPHA) != 0;
    auto put = [&out](std::uint16_t sample) {
        out[0] = static_cast<std::uint8_t>(sample >> 8);
        out[1] = static_cast<std::uint8_t>(sample);
        out += 2;
    };
    for (png_uint_32 x = 0; x < layout.width; ++x) {
        if (gray) {
            put(row[x].green);
        } else {
            put(row[x].red);
            put(row[x].green);
            put(row[x].blue);
        }
        if (alpha) {
            put(row[x].alpha);
        }
    }
}

// Pieces of a few megabytes keep both cores busy on a single picture of 2048²
// and more, while the matches a piece cannot find in the one before it cost
// less than a thousandth of the file.
constexpr std::size_t kDeflatePieceBytes = std::size_t{4} << 20;
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

// Row y of a 16-bit image with the Up filter: the file's bytes of the row
// less those of the row above, byte for byte.
void FilterUpRow16(const CImageBuffer& image, const PngWriteLayout& layout, std::int32_t y, std::uint8_t* out)
{
    thread_local std::vector<std::uint8_t> above;
    const std::size_t bytes = FileRowBytes(layout);
    FileRow16(image, layout, y, out);
    if (y == 0) {
        return;
    }
    above.resize(bytes);
    FileRow16(image, layout, y - 1, above.data());
    for (std::size_t i = 0; i < bytes; ++i) {
        out[i] = static_cast<std::uint8_t>(out[i] - above[i]);
    }
}

// Row y filtered as the library filters it with the filters set in
// WritePngRows: a filter byte, then the samples in the file's order. The
// library leaves the row of a one-row image unfiltered (the Up differences of
// a first row are its samples all the same).
void FilterRow(const CImageBuffer& image, const PngWriteLayout& layout, std::int32_t y, std::uint8_t* out)
{
    static constexpr std::uint8_t kZeros[kMaxImageSide * 4] = {};  // above the first row
    const auto pixels = static_cast<std::size_t>(image.GetWidth());
    const std::uint8_t* row = image.Row(y);
    const std::uint8_t* above = y > 0 ? image.Row(y - 1) : kZeros;
    const std::uint8_t up = image.GetHeight() > 1 ? PNG_FILTER_VALUE_UP : PNG_FILTER_VALUE_NONE;
    switch (image.GetBitCount()) {
    case 64:
        out[0] = up;
        FilterUpRow16(image, layout, y, out + 1);
        break;
    case 32:
        out[0] = up;
        FilterUpRow<4>(row, above, pixels, out + 1);
        break;
    case 24:
        out[0] = up;
        FilterUpRow<3>(row, above, pixels, out + 1);
        break;
    default:
        out[0] = PNG_FILTER_VALUE_NONE;
        std::memcpy(out + 1, row, pixels);
    }
}

// Bytes of the filtered rows from `begin` on: whole rows straight into `out`,
// the rows cut at either end through a scratch row.
void FilteredBytes(const CImageBuffer& image, const PngWriteLayout& layout, std::size_t begin,
                   std::span<std::uint8_t> out)
{
    const std::size_t stride = FileRowBytes(layout) + 1;
    std::vector<std::uint8_t> scratch;
    auto y = static_cast<std::int32_t>(begin / stride);
    std::size_t skip = begin % stride;
    for (std::size_t written = 0; written < out.size(); ++y, skip = 0) {
        const std::size_t length = std::min(stride - skip, out.size() - written);
        if (length == stride) {
            FilterRow(image, layout, y, out.data() + written);
        } else {
            scratch.resize(stride);
            FilterRow(image, layout, y, scratch.data());
            std::memcpy(out.data() + written, scratch.data() + skip, length);
        }
        written += length;
    }
}

// The chunks that tell what the values mean: the ICC profile, else the sRGB
// chunk, else gamma and chromaticities (gamma 1 for linear values).
void SetColourChunks(png_structp png, png_infop info, const ColourDescription& colour)
{
    if (!colour.iccProfile.empty()) {
        const std::string name = colour.iccName.empty() ? "ICC profile" : colour.iccName.substr(0, 79);
        png_set_iCCP(png, info, name.c_str(), PNG_COMPRESSION_TYPE_BASE, colour.iccProfile.data(),
                     static_cast<png_uint_32>(colour.iccProfile.size()));
        return;
    }
    if (colour.srgbIntent >= 0) {
        png_set_sRGB(png, info, colour.srgbIntent);
        return;
    }
    if (colour.gamma > 0.0f) {
        png_set_gAMA_fixed(png, info, static_cast<png_fixed_point>(colour.gamma * 100000.0f + 0.5f));
    } else if (colour.linear) {
        png_set_gAMA_fixed(png, info, PNG_FP_1);
    }
    if (const std::optional<Chromaticities>& c = colour.chromaticities) {
        png_set_cHRM(png, info, c->white[0], c->white[1], c->red[0], c->red[1], c->green[0], c->green[1],
                     c->blue[0], c->blue[1]);
    }
}

bool WritePngRows(png_structp png, png_infop info, PngMemoryWriter& writer, const PngWriteLayout& layout,
                  png_bytepp rows)
{
    if (setjmp(png_jmpbuf(png))) {
        return false;
    }
    png_set_write_fn(png, &writer, PngWriteToMemory, PngFlushMemory);
    png_set_IHDR(png, info, layout.width, layout.height, layout.bitDepth, layout.colorType, layout.interlace,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    if (layout.palette) {
        png_set_PLTE(png, info, layout.palette, 256);
    } else {
        // Rendered frames are resampled, so each row predicts the next well:
        // the Up filter alone gave smaller files than adaptive filtering in
        // about four fifths of the time on dome renders of photographs.
        png_set_filter(png, PNG_FILTER_TYPE_BASE, PNG_FILTER_UP);
    }
    if (layout.colour) {
        // A profile the library finds fault with is left out rather than
        // failing the file.
        png_set_benign_errors(png, 1);
        SetColourChunks(png, info, *layout.colour);
    }
    png_write_info(png, info);
    if (layout.deflated.empty()) {
        if (layout.bitDepth == 8) {
            png_set_bgr(png);  // 16-bit rows are handed over in the file's order
        }
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

bool DecodePng(std::span<const std::uint8_t> data, CImageBuffer& image, std::string* error)
{
    image.Release();
    std::string reason;
    auto fail = [&] { return FailDecode(image, reason, error); };
    PngErrorState state{};
    ReadGuard guard;
    guard.png = CreateReadStruct(state);
    if (guard.png) {
        guard.info = png_create_info_struct(guard.png);
    }
    if (!guard.png || !guard.info) {
        throw std::bad_alloc();
    }
    PngMemoryReader reader{data.data(), data.size(), 0, false};
    PngHeader header{};
    ColourDescriptionPtr colour;
    if (!ReadPngHeader(guard.png, guard.info, reader, header, colour)) {
        reason = ReadFailure(state, reader, nullptr, 0);
        return fail();
    }
    if (!CheckPngSize(header, reader, reason)) {
        return fail();
    }
    const int bitCount = DeliveredBytesPerPixel(header) * 8;
    if (!image.AllocateForReader(static_cast<std::int32_t>(header.width), static_cast<std::int32_t>(header.height),
                                 bitCount)) {
        reason = "the image cannot be allocated";
        return fail();
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
    PngRowProgress progress;
    bool read = false;
    {
        const PageFaultsAhead faultsAhead = FaultRowsAhead(image, 0, image.GetHeight());
        read = ReadPngRows(guard.png, guard.info, header, rows.data(), progress);
    }
    if (!read) {
        image.Release();
        reason = ReadFailure(state, reader, &progress, header.height);
        return fail();
    }
    image.SetColour(std::move(colour));
    return image.IsDeep() || image.ConvertTo32();
}

bool EncodePng(const CImageBuffer& image, bool interlace, std::vector<std::uint8_t>& out, std::string* error,
               int level)
{
    if (level < kMinDeflateLevel || level > kMaxDeflateLevel) {
        throw std::invalid_argument("PNG deflate level out of range");
    }
    if (image.IsEmpty()) {
        return false;
    }
    PngWriteLayout layout{static_cast<png_uint_32>(image.GetWidth()),
                          static_cast<png_uint_32>(image.GetHeight()),
                          8,
                          0,
                          interlace ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE,
                          nullptr,
                          {},
                          nullptr};
    png_color palette[256];
    switch (image.GetBitCount()) {
    case 64:
        layout.bitDepth = 16;
        layout.colorType = ColorTypeOf16(image);
        layout.colour = image.Colour().get();
        break;
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
    std::vector<std::uint8_t> deflated;
    const std::size_t filteredBytes = (FileRowBytes(layout) + 1) * static_cast<std::size_t>(image.GetHeight());
    if (!interlace) {
        deflated = ZlibCompressInPieces(
            filteredBytes,
            [&image, &layout](std::size_t begin, std::span<std::uint8_t> bytes) {
                FilteredBytes(image, layout, begin, bytes);
            },
            level, kDeflatePieceBytes);
        layout.deflated = deflated;
    }
    // The library reads 8-bit rows where they are; 16-bit ones it gets in
    // the file's order, unless they were compressed ahead.
    std::vector<std::uint8_t> fileRows;
    std::vector<png_bytep> rows(static_cast<std::size_t>(image.GetHeight()));
    if (layout.bitDepth == 16 && layout.deflated.empty()) {
        const std::size_t bytes = FileRowBytes(layout);
        fileRows.resize(bytes * rows.size());
        for (std::int32_t y = 0; y < image.GetHeight(); ++y) {
            rows[y] = fileRows.data() + bytes * static_cast<std::size_t>(y);
            FileRow16(image, layout, y, rows[y]);
        }
    } else {
        for (std::int32_t y = 0; y < image.GetHeight(); ++y) {
            // The library copies each row before transforming it.
            rows[y] = const_cast<png_bytep>(image.Row(y));
        }
    }
    const std::size_t start = out.size();
    PngMemoryWriter writer{&out, false};
    PngErrorState state{};
    bool written;
    {
        WriteGuard guard;
        guard.png = CreateWriteStruct(state);
        if (guard.png) {
            guard.info = png_create_info_struct(guard.png);
        }
        if (!guard.png || !guard.info) {
            throw std::bad_alloc();
        }
        written = WritePngRows(guard.png, guard.info, writer, layout, rows.data());
    }
    if (!written) {
        out.resize(start);
        if (writer.outOfMemory || state.outOfMemory) {
            throw std::bad_alloc();
        }
        if (error) {
            *error = LibraryReason(state.message);
        }
    }
    return written;
}

namespace {

std::atomic<int> g_saveLevel{kDefaultDeflateLevel};

}  // namespace

void SetPngSaveLevel(int level)
{
    if (level < kMinDeflateLevel || level > kMaxDeflateLevel) {
        throw std::invalid_argument("PNG deflate level out of range");
    }
    g_saveLevel.store(level, std::memory_order_relaxed);
}

int PngSaveLevel()
{
    return g_saveLevel.load(std::memory_order_relaxed);
}

namespace {

bool DecodePngFile(std::span<const std::uint8_t> file, CImageBuffer& image, const PixelRect&, std::string& reason)
{
    return DecodePng(file, image, &reason);
}

bool EncodePngFile(CImageBuffer& image, const ImageWriteOptions&, std::vector<std::uint8_t>& out, std::string& reason)
{
    return EncodePng(image, false, out, &reason, PngSaveLevel());
}

constexpr std::string_view kPngExtensions[] = {"png"};

}  // namespace

const ImageCodec kPngCodec{
    .name = "PNG",
    .extensions = kPngExtensions,
    .reads = {kDepth8 | kDepth16, true},
    .writes = {kDepth8 | kDepth16, true},
    .decode = DecodePngFile,
    .encode = EncodePngFile,
};

}  // namespace skelvane
