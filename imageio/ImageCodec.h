// One image file format as the rest of the program sees it: the extensions
// that select it, the pixels it can read and write, and its decoder and
// encoder. Both work on bytes in memory; CImageBuffer::Load and Save reach the
// file and pick the codec through the registry (ImageCodecRegistry.h).
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "engine/image/BandedImage.h"
#include "engine/image/DepthConversion.h"
#include "engine/image/ImageBuffer.h"

namespace skelvane {

// Sample depths, as bits of a set.
enum SampleDepth : unsigned {
    kDepth8 = 1u << 0,
    kDepth16 = 1u << 1,
    kDepthFloat = 1u << 2,
};

// "8", "16", "float", as the command line takes them.
std::string_view SampleDepthName(SampleDepth depth);
// The depth of the samples of an image's channels.
SampleDepth SampleDepthOf(ChannelType type);

// What a format carries in one direction: the sample depths its pixels reach
// the image in (reading) or are written at, and whether alpha comes along.
// No depth at all: that direction is not offered.
struct PixelSupport {
    unsigned depths = 0;  // SampleDepth bits
    bool alpha = false;

    bool Has(SampleDepth depth) const { return (depths & depth) != 0; }
};

// How the data of a file is compressed, for formats that offer a choice.
enum class FileCompression { Default, None, Lzw, Deflate, Zip, Piz, Dwaa };

// "none", "lzw", "deflate", "zip", "piz", "dwaa" ("default" for Default).
std::string_view CompressionName(FileCompression compression);

// How an image is written.
struct ImageWriteOptions {
    // The file's sample depth; none: the image's own where the format holds
    // it, else the format's deepest (DefaultFileDepth).
    std::optional<SampleDepth> depth;
    // How a deep image written at 8 bits is rounded.
    Dither dither = Dither::Ordered;
    // One of the format's compressions; Default is its first.
    FileCompression compression = FileCompression::Default;
    // Tiles instead of strips or scan lines, where the format has them.
    bool tiled = false;
};

struct ImageCodec {
    // Decodes a whole file into an image: 32-bit for files of 8 bits a
    // sample and less, 16-bit or float for deeper ones. Pixels outside
    // `needed` may be left unspecified by a decoder that can skip them (the
    // image still has the file's size). On failure the image is empty and
    // `reason` says why in a few words ("not a BMP file"). Running out of
    // memory throws std::bad_alloc rather than passing for a damaged file.
    using Decode = bool (*)(std::span<const std::uint8_t> file, CImageBuffer& image, const PixelRect& needed,
                            std::string& reason);
    // Appends the image as a file of this format, as Save writes it, at the
    // depth `options` gives (always set, and one the codec writes). The image
    // has that depth's channel type (a 32-bit image for 8 bits; a float image
    // at both deep depths for a codec that is deepAsFloat). It may be converted on
    // the way but has its channel type again afterwards. `reason` may say
    // why it failed.
    using Encode = bool (*)(CImageBuffer& image, const ImageWriteOptions& options, std::vector<std::uint8_t>& out,
                            std::string& reason);
    // Encode for a picture taken a band of rows at a time (BandedImage.h),
    // the same bytes encode writes for the whole image; for formats whose
    // writer takes rows from the top down and that write no colour
    // description, which such a picture does not carry.
    using EncodeRows = bool (*)(CBandedImage& image, const ImageWriteOptions& options,
                                std::vector<std::uint8_t>& out, std::string& reason);

    // The picture's size from the file's header alone, given the file's
    // front (the whole file when short): for a reader that prepares its work
    // while the picture decodes. Decode still checks the size.
    using ReadSize = bool (*)(std::span<const std::uint8_t> file, std::int32_t& width, std::int32_t& height);

    std::string_view name;  // "JPEG", for file dialogs and messages
    // Lower case, without the dot. The first is the format's short name in
    // choice lists and the extension new files get.
    std::span<const std::string_view> extensions;
    PixelSupport reads;
    PixelSupport writes;
    Decode decode = nullptr;
    Encode encode = nullptr;
    EncodeRows encodeRows = nullptr;  // null: only whole images
    ReadSize readSize = nullptr;      // null: the size is known once decoded
    // A saved image reads back exactly, within the depths and alpha written.
    bool lossless = true;
    // A file that cannot be read empties the image all the same, where other
    // readers leave it as it was (the BMP reader always has released first).
    bool emptiesImageBeforeReading = false;
    // The compressions it writes, the default first; empty: no choice.
    std::span<const FileCompression> compressions = {};
    // Whether it can write tiles (ImageWriteOptions::tiled).
    bool writesTiles = false;
    // Deep files are written from float images: EXR's 16-bit samples are
    // half floats, which hold values above 1 that a 16-bit image would have
    // clamped.
    bool deepAsFloat = false;

    bool CanRead() const { return decode != nullptr && reads.depths != 0; }
    bool CanWrite() const { return encode != nullptr && writes.depths != 0; }
    std::string_view ShortName() const { return extensions.front(); }
    // Whether `compression` is one it writes (Default always is).
    bool WritesCompression(FileCompression compression) const;
};

// The depth a file of `codec` gets for pictures read at `type` when none is
// asked for: that depth where the format holds it, else the deepest the
// format writes (16 bits for a float picture in PNG, float for an 8-bit one
// in EXR). Images give their FileChannelType().
SampleDepth DefaultFileDepth(const ImageCodec& codec, ChannelType type);

}  // namespace skelvane
