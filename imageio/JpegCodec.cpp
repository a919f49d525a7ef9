// JPEG reading and writing over libjpeg-turbo.
//
// 1. The library reads from a memory source that hands out the file in
//    4096-byte chunks; when the data runs out after the first chunk it warns
//    and supplies an end-of-image marker, so a truncated file still decodes.
//    An empty source is an error.
// 2. Errors leave the library through an error exit that keeps the library's
//    message as the reason and jumps back. Every library call that can fail
//    runs inside one small function that sets the jump point and owns nothing
//    with a destructor; C++ objects that own resources (the image, the output
//    bytes, the guards that destroy the library objects) live in the callers.
// 3. Rows travel in the buffer's own 32-bit blue-green-red-alpha layout: the
//    library converts straight to and from it (JCS_EXT_BGRA on reading,
//    JCS_EXT_BGRX on writing), which gives the same pixels and the same file
//    as converting through red-green-blue rows, without the extra passes.
// 4. A reader that needs only part of the picture (the Cube2Dome job reads
//    half of most faces and none of some) gets only that part decoded: rows
//    above it skipped, rows below it never reached, columns outside it
//    cropped away. The buffer keeps the full size, so positions stay valid.
// 5. Before anything is allocated the header must hold up: sides within the
//    limit, and after the first scan header enough data for one bit per 8 x 8
//    block of every component (the least any JPEG codes a block in). The
//    library's own memory is bounded (a progressive file keeps all its
//    coefficients), and so is the number of scans, each of which is a pass
//    over the picture. The picture is allocated only once the library has
//    started, so its working memory is refused before ours is taken.
// 6. The compressed stream goes to a destination that copies each full
//    4096-byte block to a growing byte vector, so a legal save never fails for
//    lack of room.
#include "imageio/JpegCodec.h"

#include <algorithm>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <new>
#include <string>

#include <jpeglib.h>
#include <jerror.h>

#include "imageio/DecoderSupport.h"

#if !defined(JCS_EXTENSIONS)
#error "libjpeg-turbo with JCS_EXT_* colour spaces is required"
#endif

namespace skelvane {
namespace {

constexpr std::size_t kChunkBytes = 4096;
// Rows handed to the library per call; it takes what it can use.
constexpr int kRowBatch = 16;

struct JpegErrorManager {
    jpeg_error_mgr pub;
    std::jmp_buf jump;
    char message[JMSG_LENGTH_MAX];
    bool tooManyScans;
};

[[noreturn]] void JpegErrorExit(j_common_ptr cinfo)
{
    auto* manager = reinterpret_cast<JpegErrorManager*>(cinfo->err);
    (*cinfo->err->format_message)(cinfo, manager->message);
    std::longjmp(manager->jump, 1);
}

void InitErrorManager(JpegErrorManager& manager)
{
    jpeg_std_error(&manager.pub);
    manager.pub.error_exit = JpegErrorExit;
    manager.message[0] = '\0';
    manager.tooManyScans = false;
}

// Why the library gave up. Memory that ran out is no fault of the file: it is
// raised again as std::bad_alloc once the library's frames are left.
std::string ErrorReason(const JpegErrorManager& manager)
{
    if (manager.pub.msg_code == JERR_OUT_OF_MEMORY) {
        throw std::bad_alloc();
    }
    if (manager.tooManyScans) {
        return "more than " + std::to_string(kMaxJpegScans) + " scans";
    }
    if (manager.pub.msg_code == JERR_NO_BACKING_STORE) {
        // The working memory bound: the library would have to spill to disk.
        return "decoding it would take more than " + std::to_string(kJpegWorkingMemory >> 20) +
               " MiB of working memory";
    }
    return LibraryReason(manager.message);
}

// Called by the library as it reads the file; ends a decode whose scans
// never stop coming.
void CountScans(j_common_ptr cinfo)
{
    auto* decompress = reinterpret_cast<j_decompress_ptr>(cinfo);
    if (decompress->input_scan_number > kMaxJpegScans) {
        reinterpret_cast<JpegErrorManager*>(cinfo->err)->tooManyScans = true;
        ERREXIT(cinfo, JERR_NOT_COMPILED);
    }
}

// ---- memory source ----

struct JpegMemorySource {
    jpeg_source_mgr pub;
    const JOCTET* data;
    std::size_t size;
    std::size_t position;
    bool startOfFile;
    bool ranOut;  // the data ended and an end-of-image marker stood in
    JOCTET endOfImage[2];
};

void InitSource(j_decompress_ptr cinfo)
{
    reinterpret_cast<JpegMemorySource*>(cinfo->src)->startOfFile = true;
}

boolean FillInputBuffer(j_decompress_ptr cinfo)
{
    auto* source = reinterpret_cast<JpegMemorySource*>(cinfo->src);
    const std::size_t n = std::min(source->size - source->position, kChunkBytes);
    if (n == 0) {
        if (source->startOfFile) {
            ERREXIT(cinfo, JERR_INPUT_EMPTY);
        }
        // Data ended early: warn and pretend the image ends here, as often as
        // the library asks.
        WARNMS(cinfo, JWRN_JPEG_EOF);
        source->ranOut = true;
        source->endOfImage[0] = 0xFF;
        source->endOfImage[1] = JPEG_EOI;
        source->pub.next_input_byte = source->endOfImage;
        source->pub.bytes_in_buffer = 2;
    } else {
        // The chunk is handed out where it lies; the library never writes to it.
        source->pub.next_input_byte = source->data + source->position;
        source->pub.bytes_in_buffer = n;
        source->position += n;
    }
    source->startOfFile = false;
    return TRUE;
}

void SkipInputData(j_decompress_ptr cinfo, long count)
{
    if (count <= 0) {
        return;
    }
    jpeg_source_mgr* source = cinfo->src;
    auto remaining = static_cast<std::size_t>(count);
    while (remaining > source->bytes_in_buffer) {
        remaining -= source->bytes_in_buffer;
        (void)(*source->fill_input_buffer)(cinfo);
    }
    source->next_input_byte += remaining;
    source->bytes_in_buffer -= remaining;
}

void TermSource(j_decompress_ptr) {}

void SetJpegMemorySource(j_decompress_ptr cinfo, JpegMemorySource& source, const std::uint8_t* data,
                         std::size_t size)
{
    source.pub.init_source = InitSource;
    source.pub.fill_input_buffer = FillInputBuffer;
    source.pub.skip_input_data = SkipInputData;
    source.pub.resync_to_restart = jpeg_resync_to_restart;
    source.pub.term_source = TermSource;
    source.pub.next_input_byte = nullptr;
    source.pub.bytes_in_buffer = 0;
    source.data = data;
    source.size = size;
    source.position = 0;
    source.startOfFile = true;
    source.ranOut = false;
    cinfo->src = &source.pub;
}

// ---- memory destination ----

struct JpegMemoryDestination {
    jpeg_destination_mgr pub;
    std::vector<std::uint8_t>* out;
    bool outOfMemory;
    JOCTET buffer[kChunkBytes];
};

// False when the vector could not grow; the exception must not cross the
// library's C frames, so the caller raises it again after the jump.
bool AppendBytes(JpegMemoryDestination& destination, std::size_t count) noexcept
{
    try {
        destination.out->insert(destination.out->end(), destination.buffer, destination.buffer + count);
        return true;
    } catch (const std::bad_alloc&) {
        destination.outOfMemory = true;
        return false;
    }
}

void InitDestination(j_compress_ptr cinfo)
{
    auto* destination = reinterpret_cast<JpegMemoryDestination*>(cinfo->dest);
    destination->pub.next_output_byte = destination->buffer;
    destination->pub.free_in_buffer = kChunkBytes;
}

boolean EmptyOutputBuffer(j_compress_ptr cinfo)
{
    auto* destination = reinterpret_cast<JpegMemoryDestination*>(cinfo->dest);
    if (!AppendBytes(*destination, kChunkBytes)) {
        ERREXIT1(cinfo, JERR_OUT_OF_MEMORY, 0);
    }
    destination->pub.next_output_byte = destination->buffer;
    destination->pub.free_in_buffer = kChunkBytes;
    return TRUE;
}

void TermDestination(j_compress_ptr cinfo)
{
    auto* destination = reinterpret_cast<JpegMemoryDestination*>(cinfo->dest);
    const std::size_t pending = kChunkBytes - destination->pub.free_in_buffer;
    if (pending != 0 && !AppendBytes(*destination, pending)) {
        ERREXIT1(cinfo, JERR_OUT_OF_MEMORY, 0);
    }
}

void SetJpegMemoryDestination(j_compress_ptr cinfo, JpegMemoryDestination& destination,
                              std::vector<std::uint8_t>& out)
{
    destination.pub.init_destination = InitDestination;
    destination.pub.empty_output_buffer = EmptyOutputBuffer;
    destination.pub.term_destination = TermDestination;
    destination.out = &out;
    destination.outOfMemory = false;
    cinfo->dest = &destination.pub;
}

void MakeOpaque(std::uint32_t* row, std::int32_t width)
{
    for (std::int32_t x = 0; x < width; ++x) {
        row[x] |= 0xFF000000u;
    }
}

// ---- library call sequences (each one sets the jump point) ----

struct DecompressGuard {
    jpeg_decompress_struct& cinfo;
    ~DecompressGuard() { jpeg_destroy_decompress(&cinfo); }
};

struct CompressGuard {
    jpeg_compress_struct& cinfo;
    ~CompressGuard() { jpeg_destroy_compress(&cinfo); }
};

bool ReadJpegHeader(jpeg_decompress_struct& cinfo, JpegErrorManager& errors, JpegMemorySource& source,
                    jpeg_progress_mgr& progress, std::span<const std::uint8_t> data)
{
    if (setjmp(errors.jump)) {
        return false;
    }
    jpeg_create_decompress(&cinfo);
    cinfo.mem->max_memory_to_use = kJpegWorkingMemory;
    progress.progress_monitor = CountScans;
    cinfo.progress = &progress;
    SetJpegMemorySource(&cinfo, source, data.data(), data.size());
    jpeg_read_header(&cinfo, TRUE);
    cinfo.out_color_space = JCS_EXT_BGRA;
    jpeg_calc_output_dimensions(&cinfo);
    return true;
}

// Bytes of the file the library has not taken yet: after the header, the
// entropy-coded data of the first scan and whatever follows it.
std::size_t UnreadBytes(const JpegMemorySource& source)
{
    const JOCTET* next = source.pub.next_input_byte;
    if (next < source.data || next > source.data + source.size) {
        return 0;  // the end-of-image marker supplied after the data ran out
    }
    return source.size - static_cast<std::size_t>(next - source.data);
}

// False, with the reason, for a header the data cannot back: each 8 x 8
// block of each component takes at least one bit (a Huffman code for its DC
// difference, in a sequential and in a progressive file alike).
bool CheckJpegSize(const jpeg_decompress_struct& cinfo, const JpegMemorySource& source, std::string& reason)
{
    if (!CheckDeclaredSize(cinfo.output_width, cinfo.output_height, reason)) {
        return false;
    }
    std::uint64_t blocks = 0;
    for (int c = 0; c < cinfo.num_components; ++c) {
        blocks += std::uint64_t{cinfo.comp_info[c].width_in_blocks} * cinfo.comp_info[c].height_in_blocks;
    }
    return CheckDataCovers(cinfo.output_width, cinfo.output_height, (blocks + 7) / 8, UnreadBytes(source), reason);
}

// A decompressor over a file in memory, for reading its header and then,
// perhaps, its pixels; ended however the caller leaves.
struct JpegReader {
    JpegErrorManager errors;
    jpeg_decompress_struct cinfo{};
    JpegMemorySource source{};
    jpeg_progress_mgr progress{};
    DecompressGuard guard{cinfo};

    JpegReader()
    {
        InitErrorManager(errors);
        cinfo.err = &errors.pub;
    }
    JpegReader(const JpegReader&) = delete;
    JpegReader& operator=(const JpegReader&) = delete;

    bool ReadHeader(std::span<const std::uint8_t> data)
    {
        return ReadJpegHeader(cinfo, errors, source, progress, data);
    }
};

// For a file of several scans this reads them all, into the library's
// coefficient memory.
bool StartJpegDecompress(jpeg_decompress_struct& cinfo, JpegErrorManager& errors)
{
    if (setjmp(errors.jump)) {
        return false;
    }
    jpeg_start_decompress(&cinfo);
    return true;
}

// Columns decoded on each side of those needed. The smooth 4:2:2 and 4:2:0
// upsampling treats the ends of a cropped row as the ends of the picture,
// which changes the pixel at each end, and gives crops only a few pixels wide
// to a plainer upsampler; with a 16-pixel block column to spare on each side,
// or the edge of the picture, neither touches a needed pixel.
constexpr std::int32_t kCropMargin = 16;

// The part of an image of `width` x `height` to decode for `needed`.
PixelRect RegionToDecode(const PixelRect& needed, std::int32_t width, std::int32_t height)
{
    const PixelRect clipped{std::max(needed.left, 0), std::max(needed.top, 0), std::min(needed.right, width),
                            std::min(needed.bottom, height)};
    if (clipped.IsEmpty()) {
        return {};
    }
    return {std::max(clipped.left - kCropMargin, 0), clipped.top, std::min(clipped.right + kCropMargin, width),
            clipped.bottom};
}

bool ReadJpegScanlines(jpeg_decompress_struct& cinfo, JpegErrorManager& errors, CImageBuffer& image,
                       const PixelRect& region)
{
    if (setjmp(errors.jump)) {
        return false;
    }
    if (region.IsEmpty()) {
        return true;
    }
    // The crop moves the left edge to a block column boundary.
    auto left = static_cast<JDIMENSION>(region.left);
    auto width = static_cast<JDIMENSION>(region.right - region.left);
    if (width < cinfo.output_width) {
        jpeg_crop_scanline(&cinfo, &left, &width);
    }
    // Rows are skipped in whole block rows (of unscaled output): a skip that
    // ends inside one decodes that block row all the same.
    const auto blockRow = static_cast<JDIMENSION>(cinfo.max_v_samp_factor * DCTSIZE);
    const auto skipped = static_cast<JDIMENSION>(region.top) / blockRow * blockRow;
    if (skipped > 0) {
        jpeg_skip_scanlines(&cinfo, skipped);
    }
    const auto bottom = static_cast<JDIMENSION>(region.bottom);
    JSAMPROW rows[kRowBatch];
    while (cinfo.output_scanline < bottom) {
        const JDIMENSION first = cinfo.output_scanline;
        const JDIMENSION count = std::min<JDIMENSION>(kRowBatch, bottom - first);
        for (JDIMENSION i = 0; i < count; ++i) {
            rows[i] = image.Row(static_cast<std::int32_t>(first + i)) + std::size_t{4} * left;
        }
        jpeg_read_scanlines(&cinfo, rows, count);
    }
    // Stopping early leaves the rest of the data unread; the caller's guard
    // ends the decompression.
    if (cinfo.output_scanline == cinfo.output_height) {
        jpeg_finish_decompress(&cinfo);
    }
    return true;
}

// Hands the encoder a whole image's rows, and drops their alpha, which does
// not survive the file, while they are in cache.
class ImageRowFeed {
public:
    explicit ImageRowFeed(CImageBuffer& image) : m_image(image) {}
    JDIMENSION MostRows() const { return kRowBatch; }
    void Take(JDIMENSION first, JDIMENSION count, JSAMPROW* rows)
    {
        for (JDIMENSION i = 0; i < count; ++i) {
            rows[i] = m_image.Row(static_cast<std::int32_t>(first + i));
        }
    }
    void Written(JSAMPROW* rows, JDIMENSION count)
    {
        for (JDIMENSION i = 0; i < count; ++i) {
            MakeOpaque(reinterpret_cast<std::uint32_t*>(rows[i]), m_image.GetWidth());
        }
    }

private:
    CImageBuffer& m_image;
};

// Hands the encoder the rows of a picture made band by band; a band lives
// only until the encoder has taken it, so its alpha is left as it is.
class BandRowFeed {
public:
    explicit BandRowFeed(CBandedImage& image) : m_image(image) {}
    JDIMENSION MostRows() const { return static_cast<JDIMENSION>(std::min(kRowBatch, m_image.BandRows())); }
    void Take(JDIMENSION first, JDIMENSION count, JSAMPROW* rows)
    {
        m_image.Rows(static_cast<std::int32_t>(first), static_cast<std::int32_t>(count), rows);
    }
    void Written(JSAMPROW*, JDIMENSION) {}

private:
    CBandedImage& m_image;
};

template <class Feed>
bool WriteJpegScanlines(jpeg_compress_struct& cinfo, JpegErrorManager& errors, JpegMemoryDestination& destination,
                        std::vector<std::uint8_t>& out, std::int32_t width, std::int32_t height, int quality,
                        Feed& feed)
{
    if (setjmp(errors.jump)) {
        return false;
    }
    jpeg_create_compress(&cinfo);
    SetJpegMemoryDestination(&cinfo, destination, out);
    cinfo.image_width = static_cast<JDIMENSION>(width);
    cinfo.image_height = static_cast<JDIMENSION>(height);
    cinfo.input_components = 4;
    cinfo.in_color_space = JCS_EXT_BGRX;
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, quality, TRUE);
    jpeg_start_compress(&cinfo, TRUE);
    JSAMPROW rows[kRowBatch];
    while (cinfo.next_scanline < cinfo.image_height) {
        const JDIMENSION first = cinfo.next_scanline;
        const JDIMENSION count = std::min<JDIMENSION>(feed.MostRows(), cinfo.image_height - first);
        feed.Take(first, count, rows);
        jpeg_write_scanlines(&cinfo, rows, count);
        feed.Written(rows, count);
    }
    jpeg_finish_compress(&cinfo);
    return true;
}

// Encodes the rows `feed` gives; false, with the reason, on a library error.
template <class Feed>
bool EncodeJpegFeed(Feed& feed, std::int32_t width, std::int32_t height, int quality, std::vector<std::uint8_t>& out,
                    std::string* error)
{
    // No room is reserved up front: a generous guess would be fresh memory
    // whose pages cost more to fault in than the vector's few regrowths.
    const std::size_t start = out.size();
    JpegErrorManager errors;
    InitErrorManager(errors);
    jpeg_compress_struct cinfo{};
    cinfo.err = &errors.pub;
    JpegMemoryDestination destination{};
    bool written;
    {
        CompressGuard guard{cinfo};
        written = WriteJpegScanlines(cinfo, errors, destination, out, width, height, quality, feed);
    }
    if (!written) {
        out.resize(start);
        if (destination.outOfMemory) {
            throw std::bad_alloc();
        }
        const std::string reason = ErrorReason(errors);
        if (error) {
            *error = reason;
        }
        return false;
    }
    return true;
}

}  // namespace

bool DecodeJpeg(std::span<const std::uint8_t> data, CImageBuffer& image, std::string* error)
{
    return DecodeJpegRegion(data, image, kWholeImage, error);
}

bool DecodeJpegRegion(std::span<const std::uint8_t> data, CImageBuffer& image, const PixelRect& needed,
                      std::string* error)
{
    image.Release();
    std::string reason;
    auto fail = [&] { return FailDecode(image, reason, error); };
    JpegReader reader;
    jpeg_decompress_struct& cinfo = reader.cinfo;
    JpegErrorManager& errors = reader.errors;
    const JpegMemorySource& source = reader.source;
    if (!reader.ReadHeader(data)) {
        reason = ErrorReason(errors);
        if (source.ranOut) {
            reason = "cut short before its image data";
        }
        return fail();
    }
    if (!CheckJpegSize(cinfo, source, reason)) {
        return fail();
    }
    if (!StartJpegDecompress(cinfo, errors)) {
        reason = ErrorReason(errors);
        return fail();
    }
    if (cinfo.output_components != 4) {
        reason = "the library delivers " + std::to_string(cinfo.output_components) + " bytes a pixel, not 4";
        return fail();
    }
    // Every pixel that is read is decoded, and 32-bit rows have no padding:
    // the block needs no zeroing.
    if (!image.AllocateForReader(static_cast<std::int32_t>(cinfo.output_width),
                                 static_cast<std::int32_t>(cinfo.output_height), 32, BlockContents::Unspecified)) {
        reason = "the image cannot be allocated";
        return fail();
    }
    const PixelRect region = RegionToDecode(needed, image.GetWidth(), image.GetHeight());
    bool read = false;
    {
        // A region narrower than the image leaves part of every row's pages
        // untouched, which faulting in whole rows would clear for nothing.
        const bool wholeRows = region.left == 0 && region.right == image.GetWidth();
        const PageFaultsAhead faultsAhead = FaultRowsAhead(image, region.top, wholeRows ? region.bottom : region.top);
        read = ReadJpegScanlines(cinfo, errors, image, region);
    }
    if (!read) {
        image.Release();
        reason = ErrorReason(errors);
        return fail();
    }
    return image.ConvertTo32();
}

bool EncodeJpeg(CImageBuffer& image, int quality, std::vector<std::uint8_t>& out, std::string* error)
{
    if (image.IsEmpty() || image.GetBitCount() != 32) {
        return false;
    }
    ImageRowFeed feed(image);
    return EncodeJpegFeed(feed, image.GetWidth(), image.GetHeight(), quality, out, error) && image.ConvertTo32();
}

bool EncodeJpegRows(CBandedImage& image, int quality, std::vector<std::uint8_t>& out, std::string* error)
{
    if (image.GetBitCount() != 32) {
        return false;
    }
    BandRowFeed feed(image);
    return EncodeJpegFeed(feed, image.GetWidth(), image.GetHeight(), quality, out, error);
}

namespace {

bool DecodeJpegFile(std::span<const std::uint8_t> file, CImageBuffer& image, const PixelRect& needed,
                    std::string& reason)
{
    return DecodeJpegRegion(file, image, needed, &reason);
}

// The size of a picture the decoder would go on to decode: a header it
// refuses (a size beyond the limits, or more than the file's data can hold)
// gives none.
bool ReadJpegSize(std::span<const std::uint8_t> file, std::int32_t& width, std::int32_t& height)
{
    JpegReader reader;
    std::string reason;
    if (!reader.ReadHeader(file) || !CheckJpegSize(reader.cinfo, reader.source, reason)) {
        return false;
    }
    width = static_cast<std::int32_t>(reader.cinfo.output_width);
    height = static_cast<std::int32_t>(reader.cinfo.output_height);
    return true;
}

// Saves are at the best quality.
bool EncodeJpegFile(CImageBuffer& image, const ImageWriteOptions&, std::vector<std::uint8_t>& out,
                    std::string& reason)
{
    return EncodeJpeg(image, 100, out, &reason);
}

bool EncodeJpegRowsFile(CBandedImage& image, const ImageWriteOptions&, std::vector<std::uint8_t>& out,
                        std::string& reason)
{
    return EncodeJpegRows(image, 100, out, &reason);
}

constexpr std::string_view kJpegExtensions[] = {"jpg", "jpeg"};

}  // namespace

const ImageCodec kJpegCodec{
    .name = "JPEG",
    .extensions = kJpegExtensions,
    .reads = {kDepth8, false},
    .writes = {kDepth8, false},
    .decode = DecodeJpegFile,
    .encode = EncodeJpegFile,
    .encodeRows = EncodeJpegRowsFile,
    .readSize = ReadJpegSize,
    .lossless = false,
};

}  // namespace skelvane
