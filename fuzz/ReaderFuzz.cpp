// One libFuzzer entry point per reader, chosen at build time with
// SKELVANE_FUZZ_<FORMAT>: each decodes the input as a whole file held in
// memory, as the file wrappers hand it over. A decoder may refuse anything;
// what it must never do is read or write out of bounds, leak, or allocate far
// beyond what the input can describe.
#include <cstddef>
#include <cstdint>
#include <span>

#include "engine/image/ImageBuffer.h"
#include "imageio/BmpCodec.h"
#include "imageio/JpegCodec.h"
#include "imageio/PngCodec.h"
#include "imageio/TgaCodec.h"

namespace {

bool Decode(std::span<const std::uint8_t> file, skelvane::CImageBuffer& image)
{
#if defined(SKELVANE_FUZZ_BMP)
    return skelvane::DecodeBmp(file, image);
#elif defined(SKELVANE_FUZZ_JPEG)
    return skelvane::DecodeJpeg(file, image);
#elif defined(SKELVANE_FUZZ_PNG)
    return skelvane::DecodePng(file, image);
#elif defined(SKELVANE_FUZZ_TGA)
    return skelvane::DecodeTga(file, image);
#else
#error "choose a reader with SKELVANE_FUZZ_<FORMAT>"
#endif
}

// Touches every pixel, so a row table entry or size that is wrong shows up as
// an out-of-bounds read here rather than later in a render.
void CheckDecoded(const skelvane::CImageBuffer& image)
{
    if (image.IsEmpty()) {
        __builtin_trap();  // a successful load always leaves pixels
    }
    if (image.GetBitCount() != 32 || image.GetWidth() <= 0 || image.GetHeight() <= 0) {
        __builtin_trap();
    }
    std::uint32_t sum = 0;
    for (std::int32_t y = 0; y < image.GetHeight(); ++y) {
        const std::uint32_t* row = image.Row32(y);
        for (std::int32_t x = 0; x < image.GetWidth(); ++x) {
            sum += row[x];
        }
    }
    volatile std::uint32_t sink = sum;
    (void)sink;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    skelvane::CImageBuffer image;
    if (Decode({data, size}, image)) {
        CheckDecoded(image);
    } else if (!image.IsEmpty()) {
        __builtin_trap();  // a failed load leaves the buffer empty
    }
    return 0;
}
