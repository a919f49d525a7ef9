// One image file format as the rest of the program sees it: the extensions
// that select it, the pixels it can read and write, and its decoder and
// encoder. Both work on bytes in memory; CImageBuffer::Load and Save reach the
// file and pick the codec through the registry (ImageCodecRegistry.h).
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "engine/image/ImageBuffer.h"

namespace skelvane {

// Sample depths, as bits of a set.
enum SampleDepth : unsigned {
    kDepth8 = 1u << 0,
    kDepth16 = 1u << 1,
    kDepthFloat = 1u << 2,
};

// What a format carries in one direction: the sample depths its pixels reach
// the image in (reading) or are written at, and whether alpha comes along.
// No depth at all: that direction is not offered.
struct PixelSupport {
    unsigned depths = 0;  // SampleDepth bits
    bool alpha = false;
};

struct ImageCodec {
    // Decodes a whole file into a 32-bit image. Pixels outside `needed` may be
    // left unspecified by a decoder that can skip them (the image still has
    // the file's size). On failure the image is empty and `reason` says why
    // in a few words ("not a BMP file"). Running out of memory throws
    // std::bad_alloc rather than passing for a damaged file.
    using Decode = bool (*)(std::span<const std::uint8_t> file, CImageBuffer& image, const PixelRect& needed,
                            std::string& reason);
    // Appends the image as a file of this format, as Save writes it. The
    // image may be converted on the way but is 32-bit again afterwards.
    // `reason` may say why it failed.
    using Encode = bool (*)(CImageBuffer& image, std::vector<std::uint8_t>& out, std::string& reason);

    std::string_view name;  // "JPEG", for file dialogs and messages
    // Lower case, without the dot. The first is the format's short name in
    // choice lists and the extension new files get.
    std::span<const std::string_view> extensions;
    PixelSupport reads;
    PixelSupport writes;
    Decode decode = nullptr;
    Encode encode = nullptr;
    // A saved image reads back exactly, within the depths and alpha written.
    bool lossless = true;
    // A file that cannot be read empties the image all the same, where other
    // readers leave it as it was (the BMP reader always has released first).
    bool emptiesImageBeforeReading = false;

    bool CanRead() const { return decode != nullptr && reads.depths != 0; }
    bool CanWrite() const { return encode != nullptr && writes.depths != 0; }
    std::string_view ShortName() const { return extensions.front(); }
};

}  // namespace skelvane
