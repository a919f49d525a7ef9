// Load and Save of CImageBuffer: the registry picks the codec by the file
// name's extension; the codec works on the whole file in memory.
#include "engine/image/ImageBuffer.h"
#include "imageio/ImageCodecRegistry.h"
#include "imageio/MappedFile.h"

namespace skelvane {
namespace {

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

bool EncodeImageFile(CImageBuffer& image, const std::filesystem::path& path, std::vector<std::uint8_t>& out,
                     std::string* reason)
{
    const ImageCodec* codec = ImageCodecForPath(path);
    if (!codec || !codec->CanWrite()) {
        return Fail(reason, UnsupportedFormatReason(path, CodecUse::Write));
    }
    std::string why;
    if (image.IsEmpty() || !codec->encode(image, out, why)) {
        return Fail(reason,
                    why.empty() ? "the image cannot be encoded as a " + path.extension().string() + " file" : why);
    }
    return true;
}

bool CImageBuffer::Save(const std::filesystem::path& path, std::string* reason)
{
    MappedOutput output(path);
    if (!EncodeImageFile(*this, path, output.Bytes(), reason)) {
        return false;
    }
    if (!output.Commit()) {
        return Fail(reason, output.Error());
    }
    return true;
}

}  // namespace skelvane
