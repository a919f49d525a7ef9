// One libFuzzer entry point per reader of the codec registry, chosen at build
// time with SKELVANE_FUZZ_EXTENSION: each decodes the input as a whole file
// held in memory, as Load hands it over. A decoder may refuse anything, with
// a reason; what it must never do is read or write out of bounds, leak, or
// allocate far beyond what the input can describe.
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

#include "engine/image/ImageBuffer.h"
#include "imageio/ImageCodecRegistry.h"

namespace {

// Touches every pixel, so a row table entry or size that is wrong shows up as
// an out-of-bounds read here rather than later in a render.
void CheckDecoded(const skelvane::CImageBuffer& image)
{
    if (image.IsEmpty()) {
        __builtin_trap();  // a successful load always leaves pixels
    }
    const int bitCount = image.GetBitCount();
    if ((bitCount != 32 && bitCount != 64 && bitCount != 128) || image.GetWidth() <= 0 || image.GetHeight() <= 0) {
        __builtin_trap();
    }
    const auto rowBytes = static_cast<std::size_t>(image.GetWidth()) * static_cast<std::size_t>(bitCount / 8);
    std::uint32_t sum = 0;
    for (std::int32_t y = 0; y < image.GetHeight(); ++y) {
        const std::uint8_t* row = image.Row(y);
        for (std::size_t i = 0; i < rowBytes; ++i) {
            sum += row[i];
        }
    }
    volatile std::uint32_t sink = sum;
    (void)sink;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static const skelvane::ImageCodec* const codec = skelvane::FindImageCodec(SKELVANE_FUZZ_EXTENSION);
    if (!codec || !codec->CanRead()) {
        __builtin_trap();
    }
    skelvane::CImageBuffer image;
    std::string reason;
    if (codec->decode({data, size}, image, skelvane::kWholeImage, reason)) {
        CheckDecoded(image);
    } else if (!image.IsEmpty() || reason.empty()) {
        __builtin_trap();  // a failed load leaves the buffer empty and says why
    }
    return 0;
}
