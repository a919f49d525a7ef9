// TIFF reading and writing over libtiff 4.5.
//
// 1. The library reads the file in memory through a read-only mapping it is
//    handed (every offset it follows is checked against the mapping's size)
//    and writes through callbacks that grow a byte vector. Its errors and
//    warnings go to hooks of this file's open options, never to the process's
//    global handlers: the first error becomes the reason of a failure,
//    warnings (unknown tags are common) are dropped.
// 2. Before anything is allocated the header is checked: sides within the
//    limit, a sample layout this file can place, tiles of a sane size, and
//    compressed data enough for the picture at its compression's best ratio
//    (a few bytes of Deflate must not become gigabytes).
// 3. Strips and tiles are decoded one at a time into a scratch buffer and
//    their samples placed into the image's blue, green, red, alpha: gray
//    into all three colours, the first extra sample as alpha, min-is-white
//    inverted, planar files one plane at a time. Pictures of up to 8 bits a
//    sample that are none of these go through libtiff's RGBA reader.
// 4. Writing lays the rows out as red, green, blue (and alpha) samples of the
//    image's depth in strips of about a megabyte, or in 256 x 256 tiles,
//    each compressed by the library as it is written.
#include "imageio/TiffCodec.h"

#include <tiffio.h>

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <type_traits>

#include "imageio/DecoderSupport.h"

namespace skelvane {
namespace {

// ---- memory input and output ----

struct TiffMemory {
    const std::uint8_t* data = nullptr;  // the file read
    std::uint64_t size = 0;
    std::vector<std::uint8_t>* out = nullptr;  // the file written, from `base` on
    std::size_t base = 0;
    std::uint64_t position = 0;
    bool outOfMemory = false;
};

TiffMemory& MemoryOf(thandle_t handle)
{
    return *static_cast<TiffMemory*>(handle);
}

std::uint64_t SizeOf(const TiffMemory& memory)
{
    return memory.out ? memory.out->size() - memory.base : memory.size;
}

tmsize_t ReadMemory(thandle_t handle, void* buffer, tmsize_t length)
{
    TiffMemory& memory = MemoryOf(handle);
    const std::uint8_t* data = memory.out ? memory.out->data() + memory.base : memory.data;
    const std::uint64_t size = SizeOf(memory);
    if (length < 0) {
        return -1;
    }
    const std::uint64_t available = memory.position < size ? size - memory.position : 0;
    const auto count = static_cast<std::size_t>(std::min<std::uint64_t>(static_cast<std::uint64_t>(length), available));
    if (count > 0) {
        std::memcpy(buffer, data + memory.position, count);
    }
    memory.position += count;
    return static_cast<tmsize_t>(count);
}

tmsize_t WriteMemory(thandle_t handle, void* buffer, tmsize_t length)
{
    TiffMemory& memory = MemoryOf(handle);
    if (!memory.out || length < 0) {
        return -1;
    }
    const std::uint64_t end = memory.position + static_cast<std::uint64_t>(length);
    try {
        if (memory.base + end > memory.out->size()) {
            memory.out->resize(static_cast<std::size_t>(memory.base + end));
        }
    } catch (const std::bad_alloc&) {
        memory.outOfMemory = true;
        return -1;
    }
    std::memcpy(memory.out->data() + memory.base + memory.position, buffer, static_cast<std::size_t>(length));
    memory.position = end;
    return length;
}

toff_t SeekMemory(thandle_t handle, toff_t offset, int whence)
{
    TiffMemory& memory = MemoryOf(handle);
    const auto delta = static_cast<std::int64_t>(offset);
    std::int64_t from = 0;
    if (whence == SEEK_CUR) {
        from = static_cast<std::int64_t>(memory.position);
    } else if (whence == SEEK_END) {
        from = static_cast<std::int64_t>(SizeOf(memory));
    }
    const std::int64_t target = whence == SEEK_SET ? delta : from + delta;
    if (target < 0) {
        return static_cast<toff_t>(-1);
    }
    memory.position = static_cast<std::uint64_t>(target);
    return memory.position;
}

int CloseMemory(thandle_t)
{
    return 0;
}

toff_t SizeMemory(thandle_t handle)
{
    return SizeOf(MemoryOf(handle));
}

// The file read is lent to the library as it is; nothing is mapped for
// writing.
int MapMemory(thandle_t handle, void** base, toff_t* size)
{
    TiffMemory& memory = MemoryOf(handle);
    if (memory.out || !memory.data) {
        return 0;
    }
    *base = const_cast<std::uint8_t*>(memory.data);
    *size = memory.size;
    return 1;
}

void UnmapMemory(thandle_t, void*, toff_t) {}

// ---- errors ----

struct TiffMessages {
    std::string error;  // the first one
};

int OnError(TIFF*, void* user, const char*, const char* format, va_list arguments)
{
    auto* messages = static_cast<TiffMessages*>(user);
    if (messages->error.empty()) {
        char text[512];
        std::vsnprintf(text, sizeof text, format, arguments);
        messages->error = text;
    }
    return 1;
}

int OnWarning(TIFF*, void*, const char*, const char*, va_list)
{
    return 1;
}

// The most the library may allocate at once: a strip or tile of a large
// picture, never a whole picture a header merely claims.
constexpr tmsize_t kMaxLibraryAllocation = tmsize_t{1} << 30;

struct TiffCloser {
    void operator()(TIFF* tiff) const { TIFFClose(tiff); }
};
using TiffPtr = std::unique_ptr<TIFF, TiffCloser>;

TiffPtr OpenMemory(TiffMemory& memory, const char* mode, TiffMessages& messages)
{
    std::unique_ptr<TIFFOpenOptions, void (*)(TIFFOpenOptions*)> options(TIFFOpenOptionsAlloc(),
                                                                         TIFFOpenOptionsFree);
    if (!options) {
        throw std::bad_alloc();
    }
    TIFFOpenOptionsSetMaxSingleMemAlloc(options.get(), kMaxLibraryAllocation);
    TIFFOpenOptionsSetErrorHandlerExtR(options.get(), OnError, &messages);
    TIFFOpenOptionsSetWarningHandlerExtR(options.get(), OnWarning, &messages);
    return TiffPtr(TIFFClientOpenExt("TIFF", mode, &memory, ReadMemory, WriteMemory, SeekMemory, CloseMemory,
                                     SizeMemory, MapMemory, UnmapMemory, options.get()));
}

// ---- reading ----

// How the samples of a pixel land in the image's blue, green, red, alpha.
struct SampleLayout {
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    std::uint16_t bits = 0;
    std::uint16_t samples = 0;   // per pixel
    std::uint16_t format = SAMPLEFORMAT_UINT;
    std::uint16_t photometric = PHOTOMETRIC_MINISBLACK;
    std::uint16_t planar = PLANARCONFIG_CONTIG;
    std::uint16_t compression = COMPRESSION_NONE;
    bool gray = false;           // one colour sample, else three
    int alphaSample = -1;        // the first extra sample, or none
    bool associatedAlpha = false;
    bool invert = false;         // min-is-white
};

SampleLayout LayoutOf(TIFF* tiff)
{
    SampleLayout layout;
    TIFFGetField(tiff, TIFFTAG_IMAGEWIDTH, &layout.width);
    TIFFGetField(tiff, TIFFTAG_IMAGELENGTH, &layout.height);
    TIFFGetFieldDefaulted(tiff, TIFFTAG_BITSPERSAMPLE, &layout.bits);
    TIFFGetFieldDefaulted(tiff, TIFFTAG_SAMPLESPERPIXEL, &layout.samples);
    TIFFGetFieldDefaulted(tiff, TIFFTAG_SAMPLEFORMAT, &layout.format);
    TIFFGetFieldDefaulted(tiff, TIFFTAG_PLANARCONFIG, &layout.planar);
    TIFFGetFieldDefaulted(tiff, TIFFTAG_COMPRESSION, &layout.compression);
    if (!TIFFGetField(tiff, TIFFTAG_PHOTOMETRIC, &layout.photometric)) {
        layout.photometric = layout.samples >= 3 ? PHOTOMETRIC_RGB : PHOTOMETRIC_MINISBLACK;
    }
    layout.gray = layout.photometric != PHOTOMETRIC_RGB;
    layout.invert = layout.photometric == PHOTOMETRIC_MINISWHITE;
    const int colours = layout.gray ? 1 : 3;
    if (layout.samples > colours) {
        layout.alphaSample = colours;
        std::uint16_t extraCount = 0;
        std::uint16_t* extra = nullptr;
        if (TIFFGetField(tiff, TIFFTAG_EXTRASAMPLES, &extraCount, &extra) && extraCount > 0 && extra) {
            layout.associatedAlpha = extra[0] == EXTRASAMPLE_ASSOCALPHA;
        }
    }
    return layout;
}

// Whether this file places the samples itself (else libtiff's RGBA reader
// may): 8- and 16-bit unsigned or 32-bit float samples, gray or RGB.
bool PlacesDirectly(const SampleLayout& layout)
{
    const bool integer = (layout.bits == 8 || layout.bits == 16) &&
                         (layout.format == SAMPLEFORMAT_UINT || layout.format == SAMPLEFORMAT_VOID);
    const bool floats = layout.bits == 32 && layout.format == SAMPLEFORMAT_IEEEFP;
    const bool photometric = layout.photometric == PHOTOMETRIC_MINISBLACK ||
                             layout.photometric == PHOTOMETRIC_MINISWHITE ||
                             (layout.photometric == PHOTOMETRIC_RGB && layout.samples >= 3);
    const bool planar = layout.planar == PLANARCONFIG_CONTIG || layout.planar == PLANARCONFIG_SEPARATE;
    return (integer || floats) && photometric && planar && layout.samples >= 1 && !(floats && layout.invert);
}

ChannelType ChannelTypeOf(const SampleLayout& layout)
{
    return layout.bits == 32 ? ChannelType::Float : layout.bits == 16 ? ChannelType::Uint16 : ChannelType::Uint8;
}

// The largest factor by which each compression can shrink data. Others,
// rare in pictures, get a bound wide enough for the best of them.
std::uint64_t BestRatio(std::uint16_t compression)
{
    switch (compression) {
    case COMPRESSION_NONE:
        return 1;
    case COMPRESSION_PACKBITS:
        return 64;  // two bytes for a run of 128
    case COMPRESSION_LZW:
        return 2600;  // a full table's longest string for each 12-bit code
    case COMPRESSION_ADOBE_DEFLATE:
    case COMPRESSION_DEFLATE:
    case COMPRESSION_JPEG:
        return 1032;
    default:
        return 65536;
    }
}

// Bytes of compressed data the strips or tiles claim, as far as the file
// holds them.
std::uint64_t CompressedBytes(TIFF* tiff, std::uint64_t fileSize)
{
    const std::uint32_t count = TIFFIsTiled(tiff) ? TIFFNumberOfTiles(tiff) : TIFFNumberOfStrips(tiff);
    // Every strip with data takes at least a byte of the file.
    const std::uint64_t looked = std::min<std::uint64_t>(count, fileSize);
    std::uint64_t total = 0;
    for (std::uint32_t k = 0; k < looked && total < fileSize; ++k) {
        int error = 0;
        const std::uint64_t bytes = TIFFGetStrileByteCountWithErr(tiff, k, &error);
        if (error != 0) {
            break;
        }
        total += std::min(bytes, fileSize);
    }
    return std::min(total, fileSize);
}

bool CheckTiffSize(TIFF* tiff, const SampleLayout& layout, std::uint64_t fileSize, std::string& reason)
{
    if (!CheckDeclaredSize(layout.width, layout.height, reason)) {
        return false;
    }
    const std::uint64_t raw = std::uint64_t{layout.width} * layout.height *
                              std::max<std::uint64_t>(layout.samples, 1) * std::max<std::uint64_t>(layout.bits, 1) /
                              8;
    const std::uint64_t needed = raw / BestRatio(layout.compression);
    return CheckDataCovers(layout.width, layout.height, needed, CompressedBytes(tiff, fileSize), reason);
}

// Sample types of the file and of the image alike.
template <class T>
constexpr T Opaque()
{
    if constexpr (std::is_same_v<T, float>) {
        return 1.0f;
    } else {
        return static_cast<T>(~T{0});
    }
}

// Places `count` pixels' samples from `in` into the image row `out` (four
// samples a pixel: blue, green, red, alpha): the samples firstSample ..
// firstSample + sampleCount - 1 of each pixel, `step` samples apart.
template <class T>
void PlaceSamples(const SampleLayout& layout, const T* in, int step, int firstSample, int sampleCount, T* out,
                  std::uint32_t count)
{
    // Contiguous RGB and RGBA, the usual files, go straight.
    if (!layout.gray && !layout.invert && firstSample == 0 && sampleCount >= 3) {
        const bool alpha = layout.alphaSample == 3 && sampleCount >= 4;
        for (std::uint32_t i = 0; i < count; ++i, in += step, out += 4) {
            out[0] = in[2];
            out[1] = in[1];
            out[2] = in[0];
            out[3] = alpha ? in[3] : Opaque<T>();
        }
        return;
    }
    for (std::uint32_t i = 0; i < count; ++i, in += step, out += 4) {
        for (int k = 0; k < sampleCount; ++k) {
            const int sample = firstSample + k;
            T value = in[k];
            if (sample == layout.alphaSample) {
                out[3] = value;
                continue;
            }
            if (layout.invert) {
                value = static_cast<T>(Opaque<T>() - value);
            }
            if (layout.gray && sample == 0) {
                out[0] = out[1] = out[2] = value;
            } else if (!layout.gray && sample < 3) {
                out[2 - sample] = value;
            }
        }
        if (firstSample == 0 && layout.alphaSample < 0) {
            out[3] = Opaque<T>();
        }
    }
}

// Places one decoded row of `count` pixels starting at column x0 of picture
// row y; `plane` is the sample of a planar file, -1 for a contiguous one.
template <class T>
void PlaceRow(const SampleLayout& layout, const std::uint8_t* bytes, int plane, CImageBuffer& image, std::uint32_t y,
              std::uint32_t x0, std::uint32_t count)
{
    const T* in = reinterpret_cast<const T*>(bytes);
    T* out = reinterpret_cast<T*>(image.Row(static_cast<std::int32_t>(y))) + std::size_t{x0} * 4;
    if (plane < 0) {
        PlaceSamples(layout, in, layout.samples, 0, layout.samples, out, count);
    } else {
        PlaceSamples(layout, in, 1, plane, 1, out, count);
    }
}

void PlaceRowOfDepth(const SampleLayout& layout, const std::uint8_t* bytes, int plane, CImageBuffer& image,
                     std::uint32_t y, std::uint32_t x0, std::uint32_t count)
{
    switch (layout.bits) {
    case 8:
        PlaceRow<std::uint8_t>(layout, bytes, plane, image, y, x0, count);
        break;
    case 16:
        PlaceRow<std::uint16_t>(layout, bytes, plane, image, y, x0, count);
        break;
    default:
        PlaceRow<float>(layout, bytes, plane, image, y, x0, count);
        break;
    }
}

// Planes a planar file has that this reader places: colours and alpha.
int PlanesRead(const SampleLayout& layout)
{
    if (layout.planar != PLANARCONFIG_SEPARATE) {
        return 1;
    }
    return std::min<int>(layout.samples, layout.alphaSample >= 0 ? layout.alphaSample + 1 : (layout.gray ? 1 : 3));
}

bool ReadStrips(TIFF* tiff, const SampleLayout& layout, CImageBuffer& image)
{
    std::uint32_t rowsPerStrip = layout.height;
    TIFFGetFieldDefaulted(tiff, TIFFTAG_ROWSPERSTRIP, &rowsPerStrip);
    rowsPerStrip = std::clamp<std::uint32_t>(rowsPerStrip, 1, layout.height);
    const std::uint64_t rowBytes = TIFFScanlineSize64(tiff);
    if (rowBytes == 0) {
        return false;
    }
    const std::uint32_t stripsPerPlane = (layout.height - 1) / rowsPerStrip + 1;
    std::vector<std::uint8_t> buffer(static_cast<std::size_t>(rowBytes * rowsPerStrip));
    const bool planar = layout.planar == PLANARCONFIG_SEPARATE;
    for (int plane = 0; plane < PlanesRead(layout); ++plane) {
        for (std::uint32_t s = 0; s < stripsPerPlane; ++s) {
            const std::uint32_t firstRow = s * rowsPerStrip;
            const std::uint32_t rows = std::min(rowsPerStrip, layout.height - firstRow);
            const std::uint32_t strip = static_cast<std::uint32_t>(plane) * stripsPerPlane + s;
            if (TIFFReadEncodedStrip(tiff, strip, buffer.data(), static_cast<tmsize_t>(rowBytes * rows)) < 0) {
                return false;
            }
            for (std::uint32_t r = 0; r < rows; ++r) {
                PlaceRowOfDepth(layout, buffer.data() + r * rowBytes, planar ? plane : -1, image, firstRow + r, 0,
                                layout.width);
            }
        }
    }
    return true;
}

// Tiles whose sides go past this are refused: no writer makes them, and a
// tile is decoded whole.
constexpr std::uint32_t kMaxTileSide = 1u << 14;

bool ReadTiles(TIFF* tiff, const SampleLayout& layout, CImageBuffer& image, std::string& reason)
{
    std::uint32_t tileWidth = 0;
    std::uint32_t tileHeight = 0;
    TIFFGetField(tiff, TIFFTAG_TILEWIDTH, &tileWidth);
    TIFFGetField(tiff, TIFFTAG_TILELENGTH, &tileHeight);
    if (tileWidth == 0 || tileHeight == 0 || tileWidth > kMaxTileSide || tileHeight > kMaxTileSide) {
        reason = "tiles of " + std::to_string(tileWidth) + " x " + std::to_string(tileHeight) + " pixels";
        return false;
    }
    const std::uint64_t tileBytes = TIFFTileSize64(tiff);
    const std::uint64_t tileRowBytes = TIFFTileRowSize64(tiff);
    if (tileBytes == 0 || tileRowBytes == 0) {
        return false;
    }
    std::vector<std::uint8_t> buffer(static_cast<std::size_t>(tileBytes));
    const bool planar = layout.planar == PLANARCONFIG_SEPARATE;
    for (int plane = 0; plane < PlanesRead(layout); ++plane) {
        for (std::uint32_t y0 = 0; y0 < layout.height; y0 += tileHeight) {
            for (std::uint32_t x0 = 0; x0 < layout.width; x0 += tileWidth) {
                const std::uint32_t tile = TIFFComputeTile(tiff, x0, y0, 0, static_cast<std::uint16_t>(plane));
                if (TIFFReadEncodedTile(tiff, tile, buffer.data(), static_cast<tmsize_t>(tileBytes)) < 0) {
                    return false;
                }
                const std::uint32_t rows = std::min(tileHeight, layout.height - y0);
                const std::uint32_t columns = std::min(tileWidth, layout.width - x0);
                for (std::uint32_t r = 0; r < rows; ++r) {
                    PlaceRowOfDepth(layout, buffer.data() + r * tileRowBytes, planar ? plane : -1, image, y0 + r, x0,
                                    columns);
                }
            }
        }
    }
    return true;
}

// Pictures libtiff's RGBA reader understands, at 8 bits: the raster it
// fills bottom row first is the image's own pixel block, with red and blue
// in each other's place.
bool ReadThroughRgba(TIFF* tiff, const SampleLayout& layout, CImageBuffer& image, std::string& reason)
{
    char message[1024] = {};
    if (TIFFRGBAImageOK(tiff, message) == 0) {
        reason = LibraryReason(message);
        return false;
    }
    if (!image.AllocateForReader(static_cast<std::int32_t>(layout.width), static_cast<std::int32_t>(layout.height),
                                 32)) {
        return false;
    }
    auto* raster = image.Row32(image.GetHeight() - 1);
    if (TIFFReadRGBAImageOriented(tiff, layout.width, layout.height, raster, ORIENTATION_BOTLEFT, 1) == 0) {
        return false;
    }
    for (std::int32_t y = 0; y < image.GetHeight(); ++y) {
        std::uint32_t* row = image.Row32(y);
        for (std::int32_t x = 0; x < image.GetWidth(); ++x) {
            const std::uint32_t p = row[x];  // 0xAABBGGRR
            row[x] = (p & 0xFF00FF00u) | (p & 0xFFu) << 16 | (p >> 16 & 0xFFu);
        }
    }
    return true;
}

ColourDescriptionPtr ColourOf(TIFF* tiff, const SampleLayout& layout)
{
    auto colour = std::make_shared<ColourDescription>();
    std::uint32_t iccBytes = 0;
    void* icc = nullptr;
    if (TIFFGetField(tiff, TIFFTAG_ICCPROFILE, &iccBytes, &icc) && icc && iccBytes > 0) {
        const auto* bytes = static_cast<const std::uint8_t*>(icc);
        colour->iccProfile.assign(bytes, bytes + iccBytes);
    }
    float* white = nullptr;
    float* primaries = nullptr;
    if (TIFFGetField(tiff, TIFFTAG_WHITEPOINT, &white) && TIFFGetField(tiff, TIFFTAG_PRIMARYCHROMATICITIES, &primaries) &&
        white && primaries) {
        colour->chromaticities = Chromaticities{{white[0], white[1]},
                                                {primaries[0], primaries[1]},
                                                {primaries[2], primaries[3]},
                                                {primaries[4], primaries[5]}};
    }
    colour->linear = layout.format == SAMPLEFORMAT_IEEEFP;
    colour->premultipliedAlpha = layout.alphaSample >= 0 && layout.associatedAlpha;
    if (colour->IsEmpty()) {
        return nullptr;
    }
    return colour;
}

// ---- writing ----

// Row y of the image as the file's red, green, blue (and alpha) samples.
template <class T>
void FileRow(const CImageBuffer& image, std::int32_t y, std::int32_t x0, std::int32_t count, bool alpha, T* out)
{
    const T* in = reinterpret_cast<const T*>(image.Row(y)) + std::size_t(x0) * 4;
    for (std::int32_t x = 0; x < count; ++x, in += 4) {
        *out++ = in[2];
        *out++ = in[1];
        *out++ = in[0];
        if (alpha) {
            *out++ = in[3];
        }
    }
}

void FileRowOfDepth(const CImageBuffer& image, std::int32_t y, std::int32_t x0, std::int32_t count, bool alpha,
                    std::uint8_t* out)
{
    switch (image.GetChannelType()) {
    case ChannelType::Uint8:
        FileRow(image, y, x0, count, alpha, out);
        break;
    case ChannelType::Uint16:
        FileRow(image, y, x0, count, alpha, reinterpret_cast<std::uint16_t*>(out));
        break;
    case ChannelType::Float:
        FileRow(image, y, x0, count, alpha, reinterpret_cast<float*>(out));
        break;
    }
}

constexpr std::uint32_t kTileSide = 256;
constexpr std::uint64_t kStripBytes = std::uint64_t{1} << 20;
// Files whose pixels come near this are written as BigTIFF.
constexpr std::uint64_t kClassicTiffBytes = std::uint64_t{3} << 30;

std::uint16_t TiffCompressionOf(FileCompression compression)
{
    switch (compression) {
    case FileCompression::None:
        return COMPRESSION_NONE;
    case FileCompression::Lzw:
        return COMPRESSION_LZW;
    default:
        return COMPRESSION_ADOBE_DEFLATE;
    }
}

bool SetTags(TIFF* tiff, const CImageBuffer& image, FileCompression compression, bool tiled, bool alpha,
             std::uint32_t rowsPerStrip)
{
    const ChannelType type = image.GetChannelType();
    const std::uint16_t bits = type == ChannelType::Uint8 ? 8 : type == ChannelType::Uint16 ? 16 : 32;
    const std::uint16_t tiffCompression = TiffCompressionOf(compression);
    bool ok = TIFFSetField(tiff, TIFFTAG_IMAGEWIDTH, static_cast<std::uint32_t>(image.GetWidth())) &&
              TIFFSetField(tiff, TIFFTAG_IMAGELENGTH, static_cast<std::uint32_t>(image.GetHeight())) &&
              TIFFSetField(tiff, TIFFTAG_BITSPERSAMPLE, bits) &&
              TIFFSetField(tiff, TIFFTAG_SAMPLESPERPIXEL, static_cast<std::uint16_t>(alpha ? 4 : 3)) &&
              TIFFSetField(tiff, TIFFTAG_SAMPLEFORMAT,
                           type == ChannelType::Float ? SAMPLEFORMAT_IEEEFP : SAMPLEFORMAT_UINT) &&
              TIFFSetField(tiff, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB) &&
              TIFFSetField(tiff, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG) &&
              TIFFSetField(tiff, TIFFTAG_ORIENTATION, ORIENTATION_TOPLEFT) &&
              TIFFSetField(tiff, TIFFTAG_COMPRESSION, tiffCompression);
    if (ok && tiffCompression != COMPRESSION_NONE) {
        ok = TIFFSetField(tiff, TIFFTAG_PREDICTOR,
                          type == ChannelType::Float ? PREDICTOR_FLOATINGPOINT : PREDICTOR_HORIZONTAL);
    }
    const ColourDescription* colour = image.Colour().get();
    if (ok && alpha) {
        const std::uint16_t extra[] = {static_cast<std::uint16_t>(
            colour && colour->premultipliedAlpha ? EXTRASAMPLE_ASSOCALPHA : EXTRASAMPLE_UNASSALPHA)};
        ok = TIFFSetField(tiff, TIFFTAG_EXTRASAMPLES, 1, extra);
    }
    if (ok && colour && !colour->iccProfile.empty()) {
        ok = TIFFSetField(tiff, TIFFTAG_ICCPROFILE, static_cast<std::uint32_t>(colour->iccProfile.size()),
                          colour->iccProfile.data());
    }
    if (ok && colour && colour->chromaticities) {
        const Chromaticities& c = *colour->chromaticities;
        float white[] = {c.white[0], c.white[1]};
        float primaries[] = {c.red[0], c.red[1], c.green[0], c.green[1], c.blue[0], c.blue[1]};
        ok = TIFFSetField(tiff, TIFFTAG_WHITEPOINT, white) && TIFFSetField(tiff, TIFFTAG_PRIMARYCHROMATICITIES, primaries);
    }
    if (ok && tiled) {
        ok = TIFFSetField(tiff, TIFFTAG_TILEWIDTH, kTileSide) && TIFFSetField(tiff, TIFFTAG_TILELENGTH, kTileSide);
    } else if (ok) {
        ok = TIFFSetField(tiff, TIFFTAG_ROWSPERSTRIP, rowsPerStrip);
    }
    return ok;
}

bool WriteStrips(TIFF* tiff, const CImageBuffer& image, bool alpha, std::uint64_t rowBytes, std::uint32_t rowsPerStrip)
{
    const auto height = static_cast<std::uint32_t>(image.GetHeight());
    std::vector<std::uint8_t> buffer(static_cast<std::size_t>(rowBytes * rowsPerStrip));
    for (std::uint32_t first = 0, strip = 0; first < height; first += rowsPerStrip, ++strip) {
        const std::uint32_t rows = std::min(rowsPerStrip, height - first);
        for (std::uint32_t r = 0; r < rows; ++r) {
            FileRowOfDepth(image, static_cast<std::int32_t>(first + r), 0, image.GetWidth(), alpha,
                           buffer.data() + r * rowBytes);
        }
        if (TIFFWriteEncodedStrip(tiff, strip, buffer.data(), static_cast<tmsize_t>(rowBytes * rows)) < 0) {
            return false;
        }
    }
    return true;
}

bool WriteTiles(TIFF* tiff, const CImageBuffer& image, bool alpha)
{
    const std::uint64_t tileBytes = TIFFTileSize64(tiff);
    const std::uint64_t tileRowBytes = TIFFTileRowSize64(tiff);
    std::vector<std::uint8_t> buffer(static_cast<std::size_t>(tileBytes));
    const auto width = static_cast<std::uint32_t>(image.GetWidth());
    const auto height = static_cast<std::uint32_t>(image.GetHeight());
    for (std::uint32_t y0 = 0; y0 < height; y0 += kTileSide) {
        for (std::uint32_t x0 = 0; x0 < width; x0 += kTileSide) {
            // The part of an edge tile beyond the picture stays zero.
            std::fill(buffer.begin(), buffer.end(), 0);
            const std::uint32_t rows = std::min(kTileSide, height - y0);
            const std::uint32_t columns = std::min(kTileSide, width - x0);
            for (std::uint32_t r = 0; r < rows; ++r) {
                FileRowOfDepth(image, static_cast<std::int32_t>(y0 + r), static_cast<std::int32_t>(x0),
                               static_cast<std::int32_t>(columns), alpha, buffer.data() + r * tileRowBytes);
            }
            if (TIFFWriteEncodedTile(tiff, TIFFComputeTile(tiff, x0, y0, 0, 0), buffer.data(),
                                     static_cast<tmsize_t>(tileBytes)) < 0) {
                return false;
            }
        }
    }
    return true;
}

}  // namespace

bool DecodeTiff(std::span<const std::uint8_t> data, CImageBuffer& image, std::string* error)
{
    image.Release();
    std::string reason;
    auto fail = [&] { return FailDecode(image, reason, error); };
    TiffMemory memory;
    memory.data = data.data();
    memory.size = data.size();
    TiffMessages messages;
    const TiffPtr tiff = OpenMemory(memory, "r", messages);
    if (!tiff) {
        reason = messages.error.empty() ? "not a TIFF file" : LibraryReason(messages.error);
        return fail();
    }
    const SampleLayout layout = LayoutOf(tiff.get());
    if (!CheckTiffSize(tiff.get(), layout, data.size(), reason)) {
        return fail();
    }
    bool read = false;
    if (PlacesDirectly(layout)) {
        if (!image.AllocateForReader(static_cast<std::int32_t>(layout.width),
                                     static_cast<std::int32_t>(layout.height), BitCountOf(ChannelTypeOf(layout)),
                                     BlockContents::Unspecified)) {
            reason = "the image cannot be allocated";
            return fail();
        }
        const PageFaultsAhead faultsAhead = FaultRowsAhead(image, 0, image.GetHeight());
        read = TIFFIsTiled(tiff.get()) ? ReadTiles(tiff.get(), layout, image, reason)
                                       : ReadStrips(tiff.get(), layout, image);
    } else if (layout.bits <= 8) {
        read = ReadThroughRgba(tiff.get(), layout, image, reason);
    } else {
        reason = std::to_string(layout.samples) + " samples of " + std::to_string(layout.bits) + " bits (format " +
                 std::to_string(layout.format) + ", photometric " + std::to_string(layout.photometric) +
                 ") cannot be read";
        return fail();
    }
    if (!read) {
        if (reason.empty()) {
            reason = messages.error.empty() ? "the image data cannot be read" : LibraryReason(messages.error);
        }
        return fail();
    }
    image.SetColour(ColourOf(tiff.get(), layout));
    return true;
}

bool EncodeTiff(const CImageBuffer& image, FileCompression compression, bool tiled, std::vector<std::uint8_t>& out,
                std::string* error)
{
    const int bitCount = image.GetBitCount();
    if (image.IsEmpty() || (bitCount != 32 && bitCount != 64 && bitCount != 128)) {
        return false;
    }
    const bool alpha = !image.IsOpaque();
    const std::uint64_t rowBytes = std::uint64_t(image.GetWidth()) * (alpha ? 4 : 3) * (bitCount / 32);
    const auto rowsPerStrip = static_cast<std::uint32_t>(
        std::clamp<std::uint64_t>(kStripBytes / rowBytes, 1, static_cast<std::uint64_t>(image.GetHeight())));
    const bool big = rowBytes * static_cast<std::uint64_t>(image.GetHeight()) > kClassicTiffBytes;

    const std::size_t start = out.size();
    TiffMemory memory;
    memory.out = &out;
    memory.base = start;
    TiffMessages messages;
    bool written = false;
    {
        const TiffPtr tiff = OpenMemory(memory, big ? "w8" : "w", messages);
        written = tiff && SetTags(tiff.get(), image, compression, tiled, alpha, rowsPerStrip) &&
                  (tiled ? WriteTiles(tiff.get(), image, alpha)
                         : WriteStrips(tiff.get(), image, alpha, rowBytes, rowsPerStrip)) &&
                  TIFFFlush(tiff.get()) != 0;
    }
    if (memory.outOfMemory) {
        out.resize(start);
        throw std::bad_alloc();
    }
    if (!written) {
        out.resize(start);
        if (error) {
            *error = messages.error.empty() ? "the TIFF file cannot be written" : LibraryReason(messages.error);
        }
    }
    return written;
}

namespace {

bool DecodeTiffFile(std::span<const std::uint8_t> file, CImageBuffer& image, const PixelRect&, std::string& reason)
{
    return DecodeTiff(file, image, &reason);
}

bool EncodeTiffFile(CImageBuffer& image, const ImageWriteOptions& options, std::vector<std::uint8_t>& out,
                    std::string& reason)
{
    return EncodeTiff(image, options.compression, options.tiled, out, &reason);
}

constexpr std::string_view kTiffExtensions[] = {"tif", "tiff"};
constexpr FileCompression kTiffCompressions[] = {FileCompression::Deflate, FileCompression::Lzw,
                                                 FileCompression::None};

}  // namespace

const ImageCodec kTiffCodec{
    .name = "TIFF",
    .extensions = kTiffExtensions,
    .reads = {kDepth8 | kDepth16 | kDepthFloat, true},
    .writes = {kDepth8 | kDepth16 | kDepthFloat, true},
    .decode = DecodeTiffFile,
    .encode = EncodeTiffFile,
    .compressions = kTiffCompressions,
    .writesTiles = true,
};

}  // namespace skelvane
