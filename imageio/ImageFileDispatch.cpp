// Load and Save of CImageBuffer: the registry picks the codec by the file
// name's extension; the codec works on the whole file in memory.
#include "engine/image/ImageBuffer.h"
#include "imageio/ImageCodecRegistry.h"
#include "imageio/MappedFile.h"

namespace skelvane {
namespace {

// Enough for a header with large metadata blocks in front of the picture's
// size, and for the decoder's check that the data after the header can hold
// a picture of that size (a bit a block: 4 MiB cover about 37000 x 18500
// with full colour, 53000 x 26500 with quartered chroma).
constexpr std::size_t kHeaderBytes = std::size_t{4} << 20;

bool Fail(std::string* reason, std::string why)
{
    if (reason) {
        *reason = std::move(why);
    }
    return false;
}

}  // namespace

bool CImageBuffer::Load(const std::filesystem::path& path, std::string* reason)
{
    return LoadRegion(path, kWholeImage, reason);
}

bool CImageBuffer::LoadRegion(const std::filesystem::path& path, const PixelRect& needed, std::string* reason)
{
    const ImageCodec* codec = ImageCodecForPath(path);
    if (!codec || !codec->CanRead()) {
        return Fail(reason, UnsupportedFormatReason(path, CodecUse::Read));
    }
    if (codec->emptiesImageBeforeReading) {
        Release();
    }
    MappedInput input;
    if (!input.Open(path)) {
        return Fail(reason, input.Error());
    }
    Release();
    std::string why;
    bool loaded = false;
    try {
        loaded = codec->decode(input.Data(), *this, needed, why);
    } catch (...) {
        Release();
        throw;
    }
    if (loaded) {
        return true;
    }
    Release();
    return Fail(reason, why.empty() ? "not a " + std::string(codec->name) + " file that can be read" : why);
}

bool ReadImageSize(const std::filesystem::path& path, std::int32_t& width, std::int32_t& height)
{
    const ImageCodec* codec = ImageCodecForPath(path);
    if (!codec || !codec->readSize) {
        return false;
    }
    // Headers sit at the front; reading the whole file would double the
    // load's reading for the sake of a few hundred bytes.
    MappedInput front;
    try {
        return front.Open(path, kHeaderBytes) && codec->readSize(front.Data(), width, height);
    } catch (const std::bad_alloc&) {
        return false;
    }
}

bool EncodeImageFile(CImageBuffer& image, const std::filesystem::path& path, std::vector<std::uint8_t>& out,
                     std::string* reason)
{
    return EncodeImageFile(image, path, ImageWriteOptions{}, out, reason);
}

namespace {

// The channel type the encoder gets for a file of `depth`.
ChannelType ImageTypeFor(const ImageCodec& codec, SampleDepth depth)
{
    if (depth == kDepth8) {
        return ChannelType::Uint8;
    }
    return depth == kDepth16 && !codec.deepAsFloat ? ChannelType::Uint16 : ChannelType::Float;
}

// The options a codec is called with, for pictures read at `fileType`: the
// depth and compression that "default" stands for filled in.
ImageWriteOptions ResolvedOptions(const ImageCodec& codec, const ImageWriteOptions& options, ChannelType fileType)
{
    ImageWriteOptions resolved = options;
    resolved.depth = options.depth.value_or(DefaultFileDepth(codec, fileType));
    if (resolved.compression == FileCompression::Default && !codec.compressions.empty()) {
        resolved.compression = codec.compressions.front();
    }
    return resolved;
}

// The writable codec of `path` for `options`, or null with the reason.
const ImageCodec* WritingCodec(const std::filesystem::path& path, const ImageWriteOptions& options, std::string* reason)
{
    const ImageCodec* codec = ImageCodecForPath(path);
    if (!codec || !codec->CanWrite()) {
        Fail(reason, UnsupportedFormatReason(path, CodecUse::Write));
        return nullptr;
    }
    if (std::string problem = UnsupportedWriteOptionsReason(*codec, options); !problem.empty()) {
        Fail(reason, std::move(problem));
        return nullptr;
    }
    return codec;
}

std::string CannotEncodeReason(const std::filesystem::path& path)
{
    return "the image cannot be encoded as a " + path.extension().string() + " file";
}

}  // namespace

bool EncodeImageFile(CImageBuffer& image, const std::filesystem::path& path, const ImageWriteOptions& options,
                     std::vector<std::uint8_t>& out, std::string* reason)
{
    const ImageCodec* codec = WritingCodec(path, options, reason);
    if (!codec) {
        return false;
    }
    std::string why;
    const auto cannotEncode = [&] { return Fail(reason, why.empty() ? CannotEncodeReason(path) : why); };
    if (image.IsEmpty()) {
        return cannotEncode();
    }
    const ImageWriteOptions resolved = ResolvedOptions(*codec, options, image.FileChannelType());
    const ChannelType wanted = ImageTypeFor(*codec, *resolved.depth);
    if (image.GetChannelType() == wanted) {
        return codec->encode(image, resolved, out, why) || cannotEncode();
    }
    CImageBuffer converted;
    if (!CopyAtChannelType(image, wanted, options.dither, converted)) {
        return cannotEncode();
    }
    return codec->encode(converted, resolved, out, why) || cannotEncode();
}

bool EncodesInBands(const std::filesystem::path& path, const ImageWriteOptions& options, ChannelType type,
                    ChannelType fileType)
{
    const ImageCodec* codec = WritingCodec(path, options, nullptr);
    return codec && codec->encodeRows &&
           ImageTypeFor(*codec, *ResolvedOptions(*codec, options, fileType).depth) == type;
}

bool EncodeImageRows(CBandedImage& image, const std::filesystem::path& path, const ImageWriteOptions& options,
                     std::vector<std::uint8_t>& out, std::string* reason)
{
    const ImageCodec* codec = WritingCodec(path, options, reason);
    if (!codec) {
        return false;
    }
    const ImageWriteOptions resolved = ResolvedOptions(*codec, options, image.FileChannelType());
    std::string why;
    if (codec->encodeRows && image.GetChannelType() == ImageTypeFor(*codec, *resolved.depth) &&
        codec->encodeRows(image, resolved, out, why)) {
        return true;
    }
    return Fail(reason, why.empty() ? CannotEncodeReason(path) : why);
}

bool CImageBuffer::Save(const std::filesystem::path& path, std::string* reason)
{
    return Save(path, ImageWriteOptions{}, reason);
}

bool CImageBuffer::Save(const std::filesystem::path& path, const ImageWriteOptions& options, std::string* reason)
{
    MappedOutput output(path);
    if (!EncodeImageFile(*this, path, options, output.Bytes(), reason)) {
        return false;
    }
    if (!output.Commit()) {
        return Fail(reason, output.Error());
    }
    return true;
}

}  // namespace skelvane
