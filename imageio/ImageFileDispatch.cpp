// Load and Save of CImageBuffer: hand the file to the codec of its extension.
#include "engine/image/ImageBuffer.h"
#include "imageio/CodecFile.h"
#include "imageio/ImageFormat.h"
#include "imageio/BmpCodec.h"
#include "imageio/JpegCodec.h"
#include "imageio/PngCodec.h"
#include "imageio/TgaCodec.h"

namespace skelvane {

bool CImageBuffer::Load(const std::filesystem::path& path)
{
    switch (GetImageFormat(path)) {
    case ImageFormat::Bmp:
        return LoadBmp(path);
    case ImageFormat::Jpeg:
        return LoadJpeg(path);
    case ImageFormat::Tga:
        return LoadTga(path);
    case ImageFormat::Png:
        return LoadPng(path);
    default:
        return false;
    }
}

bool CImageBuffer::LoadRegion(const std::filesystem::path& path, const PixelRect& needed)
{
    if (GetImageFormat(path) != ImageFormat::Jpeg) {
        return Load(path);
    }
    return LoadImageFile(*this, path, ReleaseBeforeOpen::No,
                         [&needed](std::span<const std::uint8_t> data, CImageBuffer& image) {
                             return DecodeJpegRegion(data, image, needed);
                         });
}

bool EncodeForSave(CImageBuffer& image, ImageFormat format, std::vector<std::uint8_t>& out)
{
    switch (format) {
    case ImageFormat::Bmp:
        return EncodeBmp(image, out);
    case ImageFormat::Jpeg:
        return EncodeJpeg(image, 100, out);
    case ImageFormat::Tga:
        return EncodeTga(image, true, out);
    case ImageFormat::Png:
        return EncodePng(image, false, out);
    default:
        return false;
    }
}

bool CImageBuffer::Save(const std::filesystem::path& path)
{
    const ImageFormat format = GetImageFormat(path);
    return SaveImageFile(*this, path, [format](CImageBuffer& image, std::vector<std::uint8_t>& out) {
        return EncodeForSave(image, format, out);
    });
}

}  // namespace skelvane
