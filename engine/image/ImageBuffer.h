// The one raster image type: an in-memory Windows device-independent bitmap.
//
// Rows are stored bottom-up and padded to four bytes, exactly as a BMP file
// holds them, and a row table gives the address of each row counted from the
// top. The working format is 32 bits per pixel, one little-endian word
// 0xAARRGGBB per pixel; readers convert to it, 24-bit writers convert to 24
// bits just before writing and back afterwards. Deep pictures (16-bit and
// float files) keep their depth in the same layout with wider channels
// (engine/image/PixelDepth.h): 64 and 128 bits a pixel.
#pragma once

#include <array>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <utility>

#include "engine/image/ColourDescription.h"
#include "engine/image/PixelBlock.h"
#include "engine/image/PixelDepth.h"

namespace skelvane {

// Largest width or height accepted from any file, typed value or command line.
inline constexpr std::int32_t kMaxImageSide = 32768;

struct BitmapFileHeader {
    std::uint16_t type = 0;
    std::uint32_t size = 0;
    std::uint16_t reserved1 = 0;
    std::uint16_t reserved2 = 0;
    std::uint32_t offBits = 0;
};

struct BitmapInfoHeader {
    std::uint32_t size = 0;
    std::int32_t width = 0;
    std::int32_t height = 0;
    std::uint16_t planes = 0;
    std::uint16_t bitCount = 0;
    std::uint32_t compression = 0;
    std::uint32_t sizeImage = 0;
    std::int32_t xPelsPerMeter = 0;
    std::int32_t yPelsPerMeter = 0;
    std::uint32_t clrUsed = 0;
    std::uint32_t clrImportant = 0;
};

struct RgbQuad {
    std::uint8_t blue = 0;
    std::uint8_t green = 0;
    std::uint8_t red = 0;
    std::uint8_t reserved = 0;
};

inline constexpr std::uint16_t kBitmapType = 0x4D42;  // "BM"
inline constexpr std::uint32_t kBitmapHeadersSize = 54;

// Bytes of one row of `width` pixels of `bitCount` bits, padded to four bytes.
constexpr std::int64_t PaddedRowBytes(std::int64_t width, int bitCount)
{
    return (width * bitCount + 31) / 32 * 4;
}

// The pixels x in [left, right) and y in [top, bottom), rows counted from the
// top of the picture.
struct PixelRect {
    std::int32_t left = 0;
    std::int32_t top = 0;
    std::int32_t right = 0;
    std::int32_t bottom = 0;

    bool IsEmpty() const { return right <= left || bottom <= top; }
    friend bool operator==(const PixelRect&, const PixelRect&) = default;
};

// A rectangle that covers every image.
inline constexpr PixelRect kWholeImage{0, 0, kMaxImageSide, kMaxImageSide};

struct ImageWriteOptions;

class CImageBuffer {
public:
    CImageBuffer() = default;
    virtual ~CImageBuffer();
    CImageBuffer(const CImageBuffer&) = delete;
    CImageBuffer& operator=(const CImageBuffer&) = delete;
    CImageBuffer(CImageBuffer&& other) noexcept;
    CImageBuffer& operator=(CImageBuffer&& other) noexcept;

    // A 32-bit image; its pixels are zero, or unspecified for a renderer that
    // writes every one of them (a reused block is then not written twice).
    bool Create(std::int32_t width, std::int32_t height, BlockContents contents = BlockContents::Zeroed);
    // An image of `type` channels (32, 64 or 128 bits a pixel), pixels as above.
    bool Create(std::int32_t width, std::int32_t height, ChannelType type,
                BlockContents contents = BlockContents::Zeroed);
    bool CopyFrom(const CImageBuffer& source);
    void Release();

    bool IsEmpty() const { return !m_bits; }
    std::int32_t GetWidth() const { return m_infoHeader.width; }
    std::int32_t GetHeight() const { return m_infoHeader.height; }
    int GetBitCount() const { return m_infoHeader.bitCount; }
    // 16-bit and float for 64- and 128-bit images; 8-bit for the others.
    ChannelType GetChannelType() const;
    bool IsDeep() const { return GetChannelType() != ChannelType::Uint8; }
    // Whether every pixel's alpha is full; bitmaps of 24 bits and fewer
    // always are. Empty images too.
    bool IsOpaque() const;

    // The pixel as a 0xAARRGGBB word; a deep pixel is rounded to it, and set
    // from it widened exactly.
    std::uint32_t GetPixel(std::int32_t x, std::int32_t y) const;
    void SetPixel(std::int32_t x, std::int32_t y, std::uint32_t value);

    // 8-, 16- and 24-bit bitmaps become 32-bit; so do deep images, each value
    // rounded to the nearest 8-bit one (DepthConversion.h dithers instead).
    bool ConvertTo32();
    bool ConvertTo24();

    // Both images 32-bit, or both of the same deep channel type; anything
    // else is left alone.
    void StretchFrom(std::int32_t dstX, std::int32_t dstY, std::int32_t dstW, std::int32_t dstH,
                     const CImageBuffer& source,
                     std::int32_t srcX, std::int32_t srcY, std::int32_t srcW, std::int32_t srcH);

    // Image files: the codec follows the file name's extension (the formats
    // are listed in imageio/ImageCodecRegistry.h). On failure `reason`, when
    // given, says why in a few words for a message about the file ("there is
    // no such file", "not a PNG file", "header claims 40000 x 300 pixels,
    // more than the 32768 limit"). A failed load leaves the image empty,
    // except that a file a reader cannot get at all leaves it as it was
    // (the BMP reader empties it first all the same) and an extension
    // without a reader never touches it. Running out of memory throws
    // std::bad_alloc, image released, rather than passing for a bad file.
    bool Load(const std::filesystem::path& path, std::string* reason = nullptr);
    bool Save(const std::filesystem::path& path, std::string* reason = nullptr);
    // At the depth, dither and compression the options ask for
    // (imageio/ImageCodec.h); Save above takes the defaults.
    bool Save(const std::filesystem::path& path, const ImageWriteOptions& options, std::string* reason = nullptr);

    // Load for a reader that looks at the pixels inside `needed` only: the
    // image has the file's size, and those pixels are the ones Load gives;
    // the others are unspecified. A JPEG decodes just the rows and block
    // columns around `needed` (no pixels at all for an empty one) but still
    // reads its header, so a file Load refuses as unreadable, not an image or
    // of another size is refused here too; other formats load whole.
    bool LoadRegion(const std::filesystem::path& path, const PixelRect& needed, std::string* reason = nullptr);

    // Access for codecs and renderers.
    const BitmapFileHeader& FileHeader() const { return m_fileHeader; }
    const BitmapInfoHeader& InfoHeader() const { return m_infoHeader; }
    std::int32_t Stride() const { return m_stride; }
    std::int32_t BytesPerPixel() const { return m_bytesPerPixel; }
    std::int64_t ImageSize() const { return m_imageSize; }
    const std::uint8_t* Bits() const { return m_bits.get(); }
    std::uint8_t* Row(std::int32_t y) { return m_rows[y]; }
    const std::uint8_t* Row(std::int32_t y) const { return m_rows[y]; }
    std::uint32_t* Row32(std::int32_t y) { return reinterpret_cast<std::uint32_t*>(m_rows[y]); }
    const std::uint32_t* Row32(std::int32_t y) const
    {
        return reinterpret_cast<const std::uint32_t*>(m_rows[y]);
    }
    Pixel16* Row16(std::int32_t y) { return reinterpret_cast<Pixel16*>(m_rows[y]); }
    const Pixel16* Row16(std::int32_t y) const { return reinterpret_cast<const Pixel16*>(m_rows[y]); }
    PixelF* RowF(std::int32_t y) { return reinterpret_cast<PixelF*>(m_rows[y]); }
    const PixelF* RowF(std::int32_t y) const { return reinterpret_cast<const PixelF*>(m_rows[y]); }
    // Row y as pixels of type P (std::uint32_t, Pixel16 or PixelF), which
    // must be the image's channel type.
    template <class P>
    P* RowOf(std::int32_t y)
    {
        return reinterpret_cast<P*>(m_rows[y]);
    }
    template <class P>
    const P* RowOf(std::int32_t y) const
    {
        return reinterpret_cast<const P*>(m_rows[y]);
    }
    int PaletteCount() const { return m_paletteCount; }
    const std::array<RgbQuad, 256>& Palette() const { return m_palette; }
    std::array<RgbQuad, 256>& Palette() { return m_palette; }
    void SetPaletteCount(int count) { m_paletteCount = count; }

    // What the file it came from said about its values (null: nothing).
    // Readers set it, copies and renders take it over, writers repeat it.
    const ColourDescriptionPtr& Colour() const { return m_colour; }
    void SetColour(ColourDescriptionPtr colour) { m_colour = std::move(colour); }

    // The depth of the samples of the file it came from, as far as the three
    // channel types tell it: 16-bit for EXR's half floats, which a float
    // image holds. The image's own type where no reader set one. Files
    // written from it default to that depth.
    ChannelType FileChannelType() const { return m_fileType.value_or(GetChannelType()); }
    void SetFileChannelType(ChannelType type) { m_fileType = type; }
    // The colour description and file depth of `source`, for an image made
    // from it (a dome from its faces or panorama).
    void TakeDescriptionFrom(const CImageBuffer& source)
    {
        m_colour = source.m_colour;
        m_fileType = source.FileChannelType();
    }

    // Releases the image, then gives it headers as a BMP of `bitCount` bits
    // would have them and a pixel block (zeroed unless the reader fills it
    // all) with its row table, for a reader to fill. False (image left empty)
    // for a size outside 1..kMaxImageSide or a bit count other than 8, 16,
    // 24, 32, 64 or 128 (the last two are deep images).
    bool AllocateForReader(std::int32_t width, std::int32_t height, int bitCount,
                           BlockContents contents = BlockContents::Zeroed);

private:
    void BuildRowTable();
    void SetBlockBookkeeping();

    BitmapFileHeader m_fileHeader;
    BitmapInfoHeader m_infoHeader;
    int m_paletteCount = 0;
    std::array<RgbQuad, 256> m_palette{};
    std::int32_t m_stride = 0;
    std::int32_t m_bytesPerPixel = 0;
    std::int64_t m_imageSize = 0;
    PixelBlock m_bits;
    std::unique_ptr<std::uint8_t*[]> m_rows;
    ColourDescriptionPtr m_colour;
    std::optional<ChannelType> m_fileType;
};

}  // namespace skelvane
