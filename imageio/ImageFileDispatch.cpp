// Load and Save of CImageBuffer: hand the file to the codec of its extension.
#include "engine/ImageBuffer.h"
#include "imageio/CodecFile.h"
#include "imageio/ImageFormat.h"
#include "imageio/JpegCodec.h"

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

bool CImageBuffer::Save(const std::filesystem::path& path)
{
    switch (GetImageFormat(path)) {
    case ImageFormat::Bmp:
        return SaveBmp(path);
    case ImageFormat::Jpeg:
        return SaveJpeg(path, 100);
    case ImageFormat::Tga:
        return SaveTga(path, true);
    case ImageFormat::Png:
        return SavePng(path, false);
    default:
        return false;
    }
}

}  // namespace skelvane
