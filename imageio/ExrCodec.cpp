// OpenEXR reading and writing over the library's C++ interface.
//
// 1. The library reads from a stream over the file in memory that throws at
//    its end, and writes to a stream that grows a byte vector (it seeks back
//    to fill in the chunk offsets). Its exceptions become the reason of a
//    failure; memory that runs out stays std::bad_alloc.
// 2. Headers are checked by the library against the image limit (set once,
//    for every file), and here first for attribute sizes the library would
//    allocate before reading what they promise;
//    before the pixels are allocated here, the data the file holds is
//    checked against what the picture needs at its compression's best ratio.
// 3. Pixels travel as float slices straight into the image's rows (bottom-up
//    rows are a negative row step) when read, the library converting half
//    floats; it converts nothing when it writes, so a half-float file is
//    written from a half copy of the picture made on all cores. Chunks are
//    decoded and encoded on the library's own thread pool.
// 4. OpenEXR values are linear by convention. A picture whose values are not
//    (an 8-bit or 16-bit input kept as it was) is marked so in the attribute
//    "oiio:ColorSpace" ("sRGB", "Gamma2.2"), which OpenImageIO and the tools
//    built on it read; linear ones get "Linear".
#include "imageio/ExrCodec.h"

#include <OpenEXR/IexBaseExc.h>
#include <OpenEXR/ImfChannelList.h>
#include <OpenEXR/ImfFrameBuffer.h>
#include <OpenEXR/ImfHeader.h>
#include <OpenEXR/ImfIO.h>
#include <OpenEXR/ImfInputFile.h>
#include <OpenEXR/ImfOutputFile.h>
#include <OpenEXR/ImfStandardAttributes.h>
#include <OpenEXR/ImfStringAttribute.h>
#include <OpenEXR/ImfThreading.h>
#include <OpenEXR/ImfTiledOutputFile.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <exception>
#include <iterator>
#include <memory>
#include <mutex>
#include <new>
#include <string_view>
#include <thread>

#include <Imath/half.h>

#include "engine/image/PixelBlock.h"
#include "engine/jobs/ParallelRows.h"
#include "engine/simd/HalfFloatsSimd.h"
#include "imageio/DecoderSupport.h"

namespace skelvane {
namespace {

// ---- memory streams ----

class MemoryInput : public Imf::IStream {
public:
    explicit MemoryInput(std::span<const std::uint8_t> data) : Imf::IStream("EXR"), m_data(data) {}

    bool isMemoryMapped() const override { return true; }

    char* readMemoryMapped(int n) override
    {
        char* at = Take(n);
        return at;
    }

    bool read(char c[], int n) override
    {
        std::memcpy(c, Take(n), static_cast<std::size_t>(n));
        return m_position < m_data.size();
    }

    std::uint64_t tellg() override { return m_position; }
    void seekg(std::uint64_t position) override { m_position = position; }

private:
    char* Take(int n)
    {
        if (n < 0 || m_position > m_data.size() || static_cast<std::uint64_t>(n) > m_data.size() - m_position) {
            throw Iex::InputExc("the file ends early");
        }
        char* at = reinterpret_cast<char*>(const_cast<std::uint8_t*>(m_data.data())) + m_position;
        m_position += static_cast<std::uint64_t>(n);
        return at;
    }

    std::span<const std::uint8_t> m_data;
    std::uint64_t m_position = 0;
};

class MemoryOutput : public Imf::OStream {
public:
    explicit MemoryOutput(std::vector<std::uint8_t>& out) : Imf::OStream("EXR"), m_out(out), m_base(out.size()) {}

    void write(const char c[], int n) override
    {
        const std::size_t end = m_base + static_cast<std::size_t>(m_position) + static_cast<std::size_t>(n);
        if (end > m_out.size()) {
            m_out.resize(end);
        }
        std::memcpy(m_out.data() + m_base + m_position, c, static_cast<std::size_t>(n));
        m_position += static_cast<std::uint64_t>(n);
    }

    std::uint64_t tellp() override { return m_position; }
    void seekp(std::uint64_t position) override { m_position = position; }

private:
    std::vector<std::uint8_t>& m_out;
    std::size_t m_base;
    std::uint64_t m_position = 0;
};

// The library's limits and thread pool, set up once for the process.
void PrepareLibrary()
{
    static std::once_flag once;
    std::call_once(once, [] {
        Imf::Header::setMaxImageSize(kMaxImageSide, kMaxImageSide);
        Imf::Header::setMaxTileSize(kMaxImageSide, kMaxImageSide);
        Imf::setGlobalThreadCount(ExrThreadCount());
    });
}

// ---- colour ----

constexpr const char* kColourSpaceAttribute = "oiio:ColorSpace";

// Linear for pictures from EXR files and float pictures, which say nothing
// else; the input's own description for the others.
std::string ColourSpaceName(const ColourDescription* colour, ChannelType fileType)
{
    if ((colour && colour->linear) || (fileType == ChannelType::Float && !colour)) {
        return "Linear";
    }
    if (colour && colour->gamma > 0.0f && colour->srgbIntent < 0) {
        char name[32];
        std::snprintf(name, sizeof name, "Gamma%.2g", 1.0 / colour->gamma);
        return name;
    }
    return "sRGB";
}

ColourDescriptionPtr ColourOf(const Imf::Header& header)
{
    auto colour = std::make_shared<ColourDescription>();
    colour->linear = true;
    colour->premultipliedAlpha = header.channels().findChannel("A") != nullptr;
    if (Imf::hasChromaticities(header)) {
        const Imf::Chromaticities& c = Imf::chromaticities(header);
        colour->chromaticities =
            Chromaticities{{c.white.x, c.white.y}, {c.red.x, c.red.y}, {c.green.x, c.green.y}, {c.blue.x, c.blue.y}};
    }
    if (const auto* space = header.findTypedAttribute<Imf::StringAttribute>(kColourSpaceAttribute)) {
        const std::string& name = space->value();
        float gamma = 0.0f;
        if (name == "sRGB") {
            colour->linear = false;
            colour->srgbIntent = 0;
        } else if (std::sscanf(name.c_str(), "Gamma%f", &gamma) == 1 && gamma > 0.0f && gamma != 1.0f) {
            colour->linear = false;
            colour->gamma = 1.0f / gamma;
        }
    }
    return colour;
}

// ---- reading ----

std::uint32_t LittleEndian32(std::span<const std::uint8_t> bytes, std::size_t at)
{
    return static_cast<std::uint32_t>(bytes[at]) | static_cast<std::uint32_t>(bytes[at + 1]) << 8 |
           static_cast<std::uint32_t>(bytes[at + 2]) << 16 | static_cast<std::uint32_t>(bytes[at + 3]) << 24;
}

// The library allocates an attribute's value at the size its header
// declares before it reads a byte of it (a string, a type it does not know):
// a file of a few hundred bytes could have it allocate gigabytes only to find
// that the file ends there. So every declared size is checked here first
// against the bytes that follow it. A file that is no OpenEXR file at all is
// left to the library to refuse.
bool HeaderSizesFitTheFile(std::span<const std::uint8_t> file, std::string& reason)
{
    constexpr std::uint8_t kMagic[] = {0x76, 0x2F, 0x31, 0x01};
    constexpr std::uint32_t kMultiPart = 0x1000;
    if (file.size() < 8 || !std::equal(std::begin(kMagic), std::end(kMagic), file.begin())) {
        return true;
    }
    const bool multiPart = (LittleEndian32(file, 4) & kMultiPart) != 0;
    std::size_t at = 8;
    auto text = [&](std::string_view& word) {
        const auto end = std::find(file.begin() + static_cast<std::ptrdiff_t>(at), file.end(), std::uint8_t{0});
        if (end == file.end()) {
            return false;
        }
        const auto length = static_cast<std::size_t>(end - file.begin()) - at;
        word = std::string_view(reinterpret_cast<const char*>(file.data() + at), length);
        at += length + 1;
        return true;
    };
    const std::string endsEarly = "the file ends within its header";
    // Parts follow one another up to an empty header; a single part has one.
    for (int part = 0; part == 0 || (multiPart && at < file.size() && file[at] != 0); ++part) {
        for (;;) {
            std::string_view name;
            std::string_view type;
            if (!text(name)) {
                reason = endsEarly;
                return false;
            }
            if (name.empty()) {
                break;
            }
            if (!text(type) || file.size() - at < 4) {
                reason = endsEarly;
                return false;
            }
            const auto size = static_cast<std::int32_t>(LittleEndian32(file, at));
            at += 4;
            if (size < 0 || static_cast<std::size_t>(size) > file.size() - at) {
                reason = "the header's attribute \"" + std::string(name) + "\" claims " + std::to_string(size) +
                         " bytes; the file has " + std::to_string(file.size() - at) + " more";
                return false;
            }
            at += static_cast<std::size_t>(size);
        }
    }
    return true;
}

// The largest factor by which each compression can shrink the samples.
std::uint64_t BestRatio(Imf::Compression compression)
{
    switch (compression) {
    case Imf::NO_COMPRESSION:
        return 1;
    case Imf::RLE_COMPRESSION:
        return 64;
    case Imf::B44_COMPRESSION:
        return 3;
    case Imf::B44A_COMPRESSION:
        return 11;
    case Imf::ZIPS_COMPRESSION:
    case Imf::ZIP_COMPRESSION:
    case Imf::PXR24_COMPRESSION:
        return 1032;
    default:
        return 65536;  // wavelets and DCT with run lengths: no tight bound
    }
}

bool ReadExr(Imf::InputFile& file, std::uint64_t fileBytes, CImageBuffer& image, std::string& reason)
{
    const Imf::Header& header = file.header();
    const Imath::Box2i window = header.dataWindow();
    const std::int64_t width = std::int64_t{window.max.x} - window.min.x + 1;
    const std::int64_t height = std::int64_t{window.max.y} - window.min.y + 1;
    if (!CheckDeclaredSize(width, height, reason)) {
        return false;
    }
    const Imf::ChannelList& channels = header.channels();
    const bool rgb = channels.findChannel("R") && channels.findChannel("G") && channels.findChannel("B");
    const bool gray = !rgb && channels.findChannel("Y");
    if (!rgb && !gray) {
        reason = "no R, G and B channels nor a Y channel";
        return false;
    }
    // The samples that are read, at their size in the file.
    std::uint64_t sampleBytes = 0;
    bool halfColour = true;
    for (const char* name : {"R", "G", "B", "Y", "A"}) {
        if (const Imf::Channel* channel = channels.findChannel(name)) {
            sampleBytes += channel->type == Imf::HALF ? 2 : 4;
            halfColour = halfColour && (channel->type == Imf::HALF || std::strcmp(name, "A") == 0);
        }
    }
    const std::uint64_t needed = static_cast<std::uint64_t>(width * height) * sampleBytes /
                                 BestRatio(header.compression());
    if (!CheckDataCovers(width, height, needed, fileBytes, reason)) {
        return false;
    }
    const auto w = static_cast<std::int32_t>(width);
    const auto h = static_cast<std::int32_t>(height);
    if (!image.AllocateForReader(w, h, 128, BlockContents::Unspecified)) {
        reason = "the image cannot be allocated";
        return false;
    }
    // Pixel (x, y) of the data window lies at base + x xStride + y yStride;
    // rows are stored bottom-up, so the row step is negative.
    constexpr std::size_t xStride = sizeof(PixelF);
    const auto yStride = static_cast<std::size_t>(image.Row(h > 1 ? 1 : 0) - image.Row(0));
    // In unsigned arithmetic: the origin of a window that does not start at
    // (0, 0) lies outside the image, and only the library offsets it back.
    char* origin = reinterpret_cast<char*>(reinterpret_cast<std::uintptr_t>(image.RowF(0)) -
                                           static_cast<std::size_t>(window.min.x) * xStride -
                                           static_cast<std::size_t>(window.min.y) * yStride);
    auto slice = [&](std::size_t offset, double fill) {
        return Imf::Slice(Imf::FLOAT, origin + offset, xStride, h > 1 ? yStride : 0, 1, 1, fill);
    };
    Imf::FrameBuffer frame;
    if (rgb) {
        frame.insert("R", slice(offsetof(PixelF, red), 0.0));
        frame.insert("G", slice(offsetof(PixelF, green), 0.0));
        frame.insert("B", slice(offsetof(PixelF, blue), 0.0));
    } else {
        frame.insert("Y", slice(offsetof(PixelF, green), 0.0));
    }
    // A file without alpha fills it opaque.
    frame.insert("A", slice(offsetof(PixelF, alpha), 1.0));
    file.setFrameBuffer(frame);
    {
        const PageFaultsAhead faultsAhead = FaultRowsAhead(image, 0, h);
        file.readPixels(window.min.y, window.max.y);
    }
    if (gray) {
        for (std::int32_t y = 0; y < h; ++y) {
            PixelF* row = image.RowF(y);
            for (std::int32_t x = 0; x < w; ++x) {
                row[x].red = row[x].blue = row[x].green;
            }
        }
    }
    image.SetColour(ColourOf(header));
    image.SetFileChannelType(halfColour ? ChannelType::Uint16 : ChannelType::Float);
    return true;
}

// ---- writing ----

Imf::Compression ExrCompressionOf(FileCompression compression)
{
    switch (compression) {
    case FileCompression::None:
        return Imf::NO_COMPRESSION;
    case FileCompression::Piz:
        return Imf::PIZ_COMPRESSION;
    case FileCompression::Dwaa:
        return Imf::DWAA_COMPRESSION;
    default:
        return Imf::ZIP_COMPRESSION;
    }
}

constexpr int kTileSide = 64;

Imf::Header HeaderFor(const CImageBuffer& image, bool halfFloats, FileCompression compression, bool alpha)
{
    Imf::Header header(image.GetWidth(), image.GetHeight());
    header.compression() = ExrCompressionOf(compression);
    const Imf::PixelType type = halfFloats ? Imf::HALF : Imf::FLOAT;
    for (const char* name : {"R", "G", "B"}) {
        header.channels().insert(name, Imf::Channel(type));
    }
    if (alpha) {
        header.channels().insert("A", Imf::Channel(type));
    }
    const ColourDescription* colour = image.Colour().get();
    if (colour && colour->chromaticities) {
        const Chromaticities& c = *colour->chromaticities;
        Imf::addChromaticities(header, Imf::Chromaticities({c.red[0], c.red[1]}, {c.green[0], c.green[1]},
                                                           {c.blue[0], c.blue[1]}, {c.white[0], c.white[1]}));
    }
    header.insert(kColourSpaceAttribute, Imf::StringAttribute(ColourSpaceName(colour, image.FileChannelType())));
    return header;
}

// The picture's samples as half floats, interleaved blue, green, red, alpha
// in the image's own row order: the library converts types when it reads,
// never when it writes. The block comes from the pixel blocks' cache, as a
// sweep writes a dome of the same size every frame.
PixelBlock HalfSamplesOf(const CImageBuffer& image)
{
    const std::int32_t width = image.GetWidth();
    const std::int32_t height = image.GetHeight();
    const std::size_t rowSamples = static_cast<std::size_t>(width) * 4;
    PixelBlock samples = AllocatePixelBlock(static_cast<std::int64_t>(rowSamples * height * sizeof(half)),
                                            BlockContents::Unspecified);
    const HalfFloatsLoop convert = ChooseHalfFloatsLoop();
    auto* halves = reinterpret_cast<std::uint16_t*>(samples.get());
    ForEachRowBand(height, width, [&](std::int32_t firstRow, std::int32_t endRow) {
        for (std::int32_t y = firstRow; y < endRow; ++y) {
            convert(reinterpret_cast<const float*>(image.RowF(y)), rowSamples,
                    halves + static_cast<std::size_t>(y) * rowSamples);
        }
    });
    return samples;
}

void WriteExr(const CImageBuffer& image, bool halfFloats, FileCompression compression, bool tiled,
              std::vector<std::uint8_t>& out)
{
    const std::int32_t h = image.GetHeight();
    const bool alpha = !image.IsOpaque();
    Imf::Header header = HeaderFor(image, halfFloats, compression, alpha);
    if (tiled) {
        header.setTileDescription(Imf::TileDescription(kTileSide, kTileSide, Imf::ONE_LEVEL));
    }
    // Pixel (x, y) lies at origin + x xStride + y yStride, for floats in the
    // image's rows, for halves in a copy of them top row first.
    PixelBlock halves;
    char* origin = const_cast<char*>(reinterpret_cast<const char*>(image.RowF(0)));
    std::size_t xStride = sizeof(PixelF);
    auto yStride = static_cast<std::size_t>(image.Row(h > 1 ? 1 : 0) - image.Row(0));
    if (halfFloats) {
        halves = HalfSamplesOf(image);
        origin = reinterpret_cast<char*>(halves.get());
        xStride = 4 * sizeof(half);
        yStride = xStride * static_cast<std::size_t>(image.GetWidth());
    }
    const std::size_t sampleBytes = halfFloats ? sizeof(half) : sizeof(float);
    const Imf::PixelType type = halfFloats ? Imf::HALF : Imf::FLOAT;
    Imf::FrameBuffer frame;
    auto slice = [&](int channel) {
        return Imf::Slice(type, origin + static_cast<std::size_t>(channel) * sampleBytes, xStride,
                          h > 1 ? yStride : 0);
    };
    // Memory order: blue, green, red, alpha.
    frame.insert("R", slice(2));
    frame.insert("G", slice(1));
    frame.insert("B", slice(0));
    if (alpha) {
        frame.insert("A", slice(3));
    }
    MemoryOutput stream(out);
    if (tiled) {
        Imf::TiledOutputFile file(stream, header, Imf::globalThreadCount());
        file.setFrameBuffer(frame);
        file.writeTiles(0, file.numXTiles() - 1, 0, file.numYTiles() - 1);
    } else {
        Imf::OutputFile file(stream, header, Imf::globalThreadCount());
        file.setFrameBuffer(frame);
        file.writePixels(h);
    }
}

// Why the library failed, in a few words.
std::string LibraryFailure(const std::exception& failure)
{
    const std::string what = failure.what();
    return what.empty() ? "the OpenEXR library refused it" : LibraryReason(what);
}

}  // namespace

int ExrThreadCount()
{
    return static_cast<int>(std::max(2u, std::thread::hardware_concurrency()));
}

bool DecodeExr(std::span<const std::uint8_t> data, CImageBuffer& image, std::string* error)
{
    image.Release();
    PrepareLibrary();
    std::string reason;
    bool read = false;
    try {
        MemoryInput stream(data);
        if (HeaderSizesFitTheFile(data, reason)) {
            Imf::InputFile file(stream, Imf::globalThreadCount());
            read = ReadExr(file, data.size(), image, reason);
        }
    } catch (const std::bad_alloc&) {
        image.Release();
        throw;
    } catch (const std::exception& failure) {
        read = false;
        reason = LibraryFailure(failure);
    }
    if (!read) {
        image.Release();
        if (error) {
            *error = reason.empty() ? "not an OpenEXR file that can be read" : reason;
        }
    }
    return read;
}

bool EncodeExr(const CImageBuffer& image, bool halfFloats, FileCompression compression, bool tiled,
               std::vector<std::uint8_t>& out, std::string* error)
{
    if (image.IsEmpty() || image.GetChannelType() != ChannelType::Float) {
        return false;
    }
    PrepareLibrary();
    const std::size_t start = out.size();
    try {
        WriteExr(image, halfFloats, compression, tiled, out);
        return true;
    } catch (const std::bad_alloc&) {
        out.resize(start);
        throw;
    } catch (const std::exception& failure) {
        out.resize(start);
        if (error) {
            *error = LibraryFailure(failure);
        }
    }
    return false;
}

namespace {

bool DecodeExrFile(std::span<const std::uint8_t> file, CImageBuffer& image, const PixelRect&, std::string& reason)
{
    return DecodeExr(file, image, &reason);
}

bool EncodeExrFile(CImageBuffer& image, const ImageWriteOptions& options, std::vector<std::uint8_t>& out,
                   std::string& reason)
{
    return EncodeExr(image, options.depth == kDepth16, options.compression, options.tiled, out, &reason);
}

constexpr std::string_view kExrExtensions[] = {"exr"};
constexpr FileCompression kExrCompressions[] = {FileCompression::Zip, FileCompression::Piz, FileCompression::Dwaa,
                                                FileCompression::None};

}  // namespace

const ImageCodec kExrCodec{
    .name = "OpenEXR",
    .extensions = kExrExtensions,
    .reads = {kDepth16 | kDepthFloat, true},
    .writes = {kDepth16 | kDepthFloat, true},
    .decode = DecodeExrFile,
    .encode = EncodeExrFile,
    .compressions = kExrCompressions,
    .writesTiles = true,
    .deepAsFloat = true,
};

}  // namespace skelvane
