// 16-bit PNG, TIFF and OpenEXR: pictures come back with every bit at the depth
// they were written, files of other programs read as those programs meant
// them, and damaged or hostile files are refused with a reason.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "engine/image/DepthConversion.h"
#include "imageio/ExrCodec.h"
#include "imageio/ImageCodecRegistry.h"
#include "imageio/PngCodec.h"
#include "imageio/TiffCodec.h"
#include "support/DeepImages.h"
#include "support/HostileImages.h"
#include "support/TempDir.h"
#include "support/TestImages.h"

namespace skelvane {
namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes Encode(CImageBuffer& image, const char* extension, const ImageWriteOptions& options)
{
    Bytes file;
    std::string reason;
    EXPECT_TRUE(EncodeImageFile(image, std::string("picture.") + extension, options, file, &reason)) << reason;
    return file;
}

bool Decode(const char* extension, const Bytes& file, CImageBuffer& image, std::string* reason = nullptr)
{
    std::string why;
    const bool read = FindImageCodec(extension)->decode(file, image, kWholeImage, why);
    if (reason) {
        *reason = why;
    }
    return read;
}

ImageWriteOptions Options(SampleDepth depth, FileCompression compression = FileCompression::Default,
                          bool tiled = false)
{
    ImageWriteOptions options;
    options.depth = depth;
    options.compression = compression;
    options.tiled = tiled;
    return options;
}

struct LosslessTrip {
    const char* extension;
    ChannelType type;  // of the picture, and of the file
    FileCompression compression;
    bool tiled;
};

// Odd sizes: edge tiles and strips are partly outside the picture, and rows
// of an odd number of pixels have no padding to hide in.
TEST(DeepCodecs, PicturesComeBackBitForBitAtEveryDepthCompressionAndLayout)
{
    std::vector<LosslessTrip> trips = {
        {"png", ChannelType::Uint16, FileCompression::Default, false},
    };
    for (ChannelType type : {ChannelType::Uint8, ChannelType::Uint16, ChannelType::Float}) {
        for (FileCompression compression : {FileCompression::None, FileCompression::Lzw, FileCompression::Deflate}) {
            for (bool tiled : {false, true}) {
                trips.push_back({"tif", type, compression, tiled});
            }
        }
    }
    for (FileCompression compression : {FileCompression::None, FileCompression::Zip, FileCompression::Piz}) {
        for (bool tiled : {false, true}) {
            trips.push_back({"exr", ChannelType::Float, compression, tiled});
        }
    }
    for (const LosslessTrip& trip : trips) {
        for (bool alpha : {false, true}) {
            SCOPED_TRACE(std::string(trip.extension) + " " + std::string(ChannelTypeName(trip.type)) + " " +
                         std::string(CompressionName(trip.compression)) + (trip.tiled ? " tiled" : " strips") +
                         (alpha ? " with alpha" : ""));
            CImageBuffer picture = test::MakeDeepPattern(301, 67, trip.type, alpha);
            const Bytes file = Encode(picture, trip.extension,
                                      Options(SampleDepthOf(trip.type), trip.compression, trip.tiled));
            CImageBuffer back;
            std::string reason;
            ASSERT_TRUE(Decode(trip.extension, file, back, &reason)) << reason;
            EXPECT_TRUE(test::SamePixels(picture, back));
            EXPECT_EQ(back.FileChannelType(), trip.type);
        }
    }
}

// Half floats: the picture's values are multiples of 1/1024 below 2, which
// halves hold exactly; DWAA is lossy, but close.
TEST(DeepCodecs, HalfFloatExrHoldsLightAboveWhiteAndSaysItsSamplesWereHalves)
{
    for (FileCompression compression : {FileCompression::Zip, FileCompression::Piz, FileCompression::None,
                                        FileCompression::Dwaa}) {
        for (bool tiled : {false, true}) {
            SCOPED_TRACE(std::string(CompressionName(compression)) + (tiled ? " tiled" : ""));
            CImageBuffer picture = test::MakeDeepPattern(97, 33, ChannelType::Float, true);
            const Bytes file = Encode(picture, "exr", Options(kDepth16, compression, tiled));
            CImageBuffer back;
            ASSERT_TRUE(Decode("exr", file, back));
            ASSERT_EQ(back.GetChannelType(), ChannelType::Float);
            EXPECT_EQ(back.FileChannelType(), ChannelType::Uint16);
            if (compression == FileCompression::Dwaa) {
                EXPECT_LT(test::LargestFloatDifference(picture, back), 0.1f);
            } else {
                EXPECT_TRUE(test::SamePixels(picture, back));
            }
            ASSERT_TRUE(back.Colour());
            EXPECT_TRUE(back.Colour()->linear);
        }
    }
    // A 16-bit picture keeps its values, which are not light: the file says so.
    CImageBuffer sixteen = test::MakeDeepPattern(8, 8, ChannelType::Uint16, false);
    CImageBuffer back;
    ASSERT_TRUE(Decode("exr", Encode(sixteen, "exr", ImageWriteOptions{}), back));
    EXPECT_EQ(back.FileChannelType(), ChannelType::Uint16);
    ASSERT_TRUE(back.Colour());
    EXPECT_FALSE(back.Colour()->linear);
    EXPECT_NEAR(back.RowF(3)[5].red, FloatOf16(sixteen.Row16(3)[5].red), 1.0f / 1024);
    // Half floats are smaller than floats.
    CImageBuffer picture = test::MakeDeepPattern(64, 64, ChannelType::Float, false);
    EXPECT_LT(Encode(picture, "exr", Options(kDepth16, FileCompression::None)).size() * 3 / 2,
              Encode(picture, "exr", Options(kDepthFloat, FileCompression::None)).size());
}

TEST(DeepCodecs, SixteenBitPngKeepsItsColourChunksGrayAndLargePictures)
{
    // Gray pictures are written gray; chunks come back as they went.
    CImageBuffer gray;
    gray.Create(5, 3, ChannelType::Uint16);
    for (std::int32_t y = 0; y < 3; ++y) {
        for (std::int32_t x = 0; x < 5; ++x) {
            const auto v = static_cast<std::uint16_t>(x * 13001 + y * 77 + 1);
            gray.Row16(y)[x] = {v, v, v, 65535};
        }
    }
    auto colour = std::make_shared<ColourDescription>();
    colour->gamma = 0.45455f;
    colour->chromaticities = Chromaticities{{0.3127f, 0.329f}, {0.64f, 0.33f}, {0.3f, 0.6f}, {0.15f, 0.06f}};
    gray.SetColour(colour);
    const Bytes file = Encode(gray, "png", Options(kDepth16));
    EXPECT_EQ(file[25], 0);  // IHDR colour type: gray
    EXPECT_EQ(file[24], 16);  // bit depth
    CImageBuffer back;
    ASSERT_TRUE(Decode("png", file, back));
    EXPECT_TRUE(test::SamePixels(gray, back));
    ASSERT_TRUE(back.Colour());
    EXPECT_NEAR(back.Colour()->gamma, 0.45455f, 1e-5f);
    ASSERT_TRUE(back.Colour()->chromaticities);
    EXPECT_NEAR(back.Colour()->chromaticities->green[1], 0.6f, 1e-5f);

    // Pictures large enough to be deflated in pieces on all cores come out
    // as the library would have written them.
    CImageBuffer large = test::MakeDeepPattern(1031, 700, ChannelType::Uint16, true);
    CImageBuffer largeBack;
    ASSERT_TRUE(Decode("png", Encode(large, "png", Options(kDepth16)), largeBack));
    EXPECT_TRUE(test::SamePixels(large, largeBack));
}

TEST(DeepCodecs, DepthsDefaultToThePicturesOwnAndUnofferedChoicesAreRefused)
{
    struct Default {
        const char* extension;
        ChannelType picture;
        SampleDepth file;
    };
    for (const Default& d : {Default{"png", ChannelType::Uint16, kDepth16}, {"png", ChannelType::Float, kDepth16},
                             {"png", ChannelType::Uint8, kDepth8}, {"tif", ChannelType::Float, kDepthFloat},
                             {"exr", ChannelType::Uint8, kDepthFloat}, {"jpg", ChannelType::Uint16, kDepth8}}) {
        EXPECT_EQ(DefaultFileDepth(*FindImageCodec(d.extension), d.picture), d.file) << d.extension;
    }
    // A deep picture written without a depth keeps it; at 8 bits it is
    // dithered into an ordinary file.
    CImageBuffer deep = test::MakeDeepPattern(9, 4, ChannelType::Uint16, false);
    CImageBuffer back;
    ASSERT_TRUE(Decode("tif", Encode(deep, "tif", ImageWriteOptions{}), back));
    EXPECT_TRUE(test::SamePixels(deep, back));
    ASSERT_TRUE(Decode("png", Encode(deep, "png", Options(kDepth8)), back));
    EXPECT_EQ(back.GetBitCount(), 32);
    EXPECT_EQ(deep.GetChannelType(), ChannelType::Uint16);  // the picture itself is left as it was

    struct Refusal {
        const char* extension;
        ImageWriteOptions options;
        const char* reason;
    };
    const Refusal refusals[] = {
        {"jpg", Options(kDepth16), "JPEG files hold 8-bit samples only"},
        {"exr", Options(kDepth8), "OpenEXR files hold samples of 16 or float bits, not 8"},
        {"tif", Options(kDepth16, FileCompression::Piz), "TIFF files are compressed with deflate, lzw or none, not piz"},
        {"png", Options(kDepth16, FileCompression::Lzw), "PNG files offer no choice of compression"},
        {"bmp", Options(kDepth8, FileCompression::Default, true), "BMP files are not written in tiles"},
    };
    for (const Refusal& r : refusals) {
        Bytes file;
        std::string reason;
        EXPECT_FALSE(EncodeImageFile(deep, std::string("x.") + r.extension, r.options, file, &reason));
        EXPECT_EQ(reason, r.reason);
        EXPECT_TRUE(file.empty());
    }
}

// ---- files of other programs ----

// Debian's Pillow and numpy live with Debian's interpreter, not with one a
// user may have put first on the path.
constexpr const char* kPython = "/usr/bin/python3";

bool PythonHasPillow()
{
    return std::system((std::string(kPython) + " -c 'import PIL, numpy' 2>/dev/null").c_str()) == 0;
}

std::string RunPython(const std::string& script)
{
    const std::string command = std::string(kPython) + " -c '" + script + "'";
    std::unique_ptr<FILE, int (*)(FILE*)> pipe(popen(command.c_str(), "r"), pclose);
    std::string output;
    char buffer[4096];
    while (pipe && std::fgets(buffer, sizeof buffer, pipe.get())) {
        output += buffer;
    }
    return output;
}

TEST(DeepCodecs, PillowsSixteenBitAndFloatFilesReadAsItWroteThem)
{
    if (!PythonHasPillow()) {
        GTEST_SKIP() << "python3-pil and python3-numpy are not installed (scripts/install-deps.sh)";
    }
    test::TempDir dir;
    const std::string folder = dir.Path().string();
    RunPython("import numpy as np\nfrom PIL import Image\n"
              "a = (np.arange(35, dtype=np.uint32).reshape(5, 7) * 1871 + 3).astype(np.uint16)\n"
              "Image.fromarray(a).save(\"" + folder + "/gray16.png\")\n"
              "Image.fromarray(a).save(\"" + folder + "/gray16.tif\", compression=\"tiff_deflate\")\n"
              "f = (np.arange(35, dtype=np.float32).reshape(5, 7) / 8 - 1)\n"
              "Image.fromarray(f).save(\"" + folder + "/float.tif\")\n"
              "c = np.arange(5 * 7 * 4, dtype=np.uint8).reshape(5, 7, 4)\n"
              "Image.fromarray(c, \"RGBA\").save(\"" + folder + "/rgba.tif\", compression=\"tiff_lzw\")\n");
    for (const char* name : {"gray16.png", "gray16.tif"}) {
        SCOPED_TRACE(name);
        CImageBuffer image;
        std::string reason;
        ASSERT_TRUE(image.Load(dir / name, &reason)) << reason;
        ASSERT_EQ(image.GetChannelType(), ChannelType::Uint16);
        const Pixel16 p = image.Row16(4)[6];  // element 34, the last
        EXPECT_EQ(p, (Pixel16{34 * 1871 + 3, 34 * 1871 + 3, 34 * 1871 + 3, 65535}));
        EXPECT_EQ(image.Row16(0)[1].green, 1871 + 3);
    }
    CImageBuffer floats;
    ASSERT_TRUE(floats.Load(dir / "float.tif"));
    ASSERT_EQ(floats.GetChannelType(), ChannelType::Float);
    EXPECT_EQ(floats.RowF(0)[0].red, -1.0f);
    EXPECT_EQ(floats.RowF(4)[6].blue, 34.0f / 8 - 1);
    CImageBuffer rgba;
    ASSERT_TRUE(rgba.Load(dir / "rgba.tif"));
    EXPECT_EQ(rgba.GetPixel(1, 0), 0x07040506u);  // bytes 4, 5, 6, 7 as red, green, blue, alpha

    // And Pillow reads ours: a gray 16-bit PNG and TIFF, top row first.
    CImageBuffer gray;
    gray.Create(3, 2, ChannelType::Uint16);
    for (std::int32_t i = 0; i < 6; ++i) {
        const auto v = static_cast<std::uint16_t>(i * 10007 + 1);
        gray.Row16(i / 3)[i % 3] = {v, v, v, 65535};
    }
    ASSERT_TRUE(gray.Save(dir / "ours.png"));
    const std::string pixels =
        RunPython("import numpy as np\nfrom PIL import Image\n"
                  "print(np.array(Image.open(\"" + folder + "/ours.png\")).ravel().tolist())\n");
    EXPECT_EQ(pixels, "[1, 10008, 20015, 30022, 40029, 50036]\n");
}

// The tool turns our scan-line file into a tiled one with its own writer; the
// header tool shows what ours says about itself.
TEST(DeepCodecs, OpenExrToolsReadOursAndTheirTiledFilesReadBack)
{
    if (std::system("command -v exrmaketiled >/dev/null && command -v exrheader >/dev/null") != 0) {
        GTEST_SKIP() << "the openexr package is not installed (scripts/install-deps.sh)";
    }
    test::TempDir dir;
    CImageBuffer picture = test::MakeDeepPattern(75, 41, ChannelType::Float, true);
    ImageWriteOptions options = Options(kDepth16, FileCompression::Piz);
    ASSERT_TRUE(picture.Save(dir / "ours.exr", options));
    const std::string ours = (dir / "ours.exr").string();
    const std::string theirs = (dir / "theirs.exr").string();
    ASSERT_EQ(std::system(("exrmaketiled -t 16 16 -z zip " + ours + " " + theirs + " >/dev/null").c_str()), 0);
    CImageBuffer back;
    std::string reason;
    ASSERT_TRUE(back.Load(theirs, &reason)) << reason;
    EXPECT_TRUE(test::SamePixels(picture, back));
    EXPECT_EQ(back.FileChannelType(), ChannelType::Uint16);

    std::unique_ptr<FILE, int (*)(FILE*)> pipe(popen(("exrheader " + ours).c_str(), "r"), pclose);
    std::string header;
    char buffer[4096];
    while (pipe && std::fgets(buffer, sizeof buffer, pipe.get())) {
        header += buffer;
    }
    EXPECT_NE(header.find("piz"), std::string::npos) << header;
    EXPECT_NE(header.find("A, 16-bit floating-point"), std::string::npos) << header;
    EXPECT_NE(header.find("R, 16-bit floating-point"), std::string::npos) << header;
}

// ---- damaged and hostile files ----

// Sets the value of a SHORT or LONG entry `tag` of the first directory of a
// little-endian classic TIFF.
void SetTiffTag(Bytes& file, std::uint16_t tag, std::uint32_t value)
{
    auto u16 = [&](std::size_t at) { return static_cast<std::uint32_t>(file[at] | file[at + 1] << 8); };
    auto u32 = [&](std::size_t at) { return u16(at) | u16(at + 2) << 16; };
    const std::size_t ifd = u32(4);
    for (std::uint32_t i = 0; i < u16(ifd); ++i) {
        const std::size_t entry = ifd + 2 + 12 * i;
        if (u16(entry) == tag) {
            const bool isShort = u16(entry + 2) == 3;
            file[entry + 8] = static_cast<std::uint8_t>(value);
            file[entry + 9] = static_cast<std::uint8_t>(value >> 8);
            if (!isShort) {
                file[entry + 10] = static_cast<std::uint8_t>(value >> 16);
                file[entry + 11] = static_cast<std::uint8_t>(value >> 24);
            }
            return;
        }
    }
    ADD_FAILURE() << "no tag " << tag;
}

// Sets the data window of an OpenEXR file's header.
void SetExrDataWindow(Bytes& file, std::int32_t maxX, std::int32_t maxY)
{
    static const char kName[] = "dataWindow\0box2i";
    const auto at = std::search(file.begin(), file.end(), kName, kName + sizeof kName);
    ASSERT_NE(at, file.end());
    const auto box = static_cast<std::size_t>(at - file.begin()) + sizeof kName + 4 + 8;  // size, min x and y
    std::memcpy(file.data() + box, &maxX, 4);
    std::memcpy(file.data() + box + 4, &maxY, 4);
}

// An attribute put first in an OpenEXR file's header, declaring
// `declaredSize` bytes of value whatever `value` holds.
Bytes WithExrAttribute(const Bytes& file, const std::string& name, const std::string& type, const Bytes& value,
                       std::int32_t declaredSize)
{
    Bytes attribute(name.begin(), name.end());
    attribute.push_back(0);
    attribute.insert(attribute.end(), type.begin(), type.end());
    attribute.push_back(0);
    const auto* size = reinterpret_cast<const std::uint8_t*>(&declaredSize);
    attribute.insert(attribute.end(), size, size + 4);
    attribute.insert(attribute.end(), value.begin(), value.end());
    Bytes changed = file;
    changed.insert(changed.begin() + 8, attribute.begin(), attribute.end());  // after the magic and version
    return changed;
}

struct Hostile {
    std::string name;
    const char* extension;
    Bytes file;
    const char* reason;  // a part of the reason given; null: any
};

TEST(DeepCodecs, DamagedAndHostileTiffAndExrFilesAreRefusedWithAReason)
{
    CImageBuffer picture = test::MakeDeepPattern(64, 48, ChannelType::Uint16, true);
    CImageBuffer floats = test::MakeDeepPattern(64, 48, ChannelType::Float, true);
    const Bytes tiff = Encode(picture, "tif", Options(kDepth16, FileCompression::None));
    const Bytes tiledTiff = Encode(picture, "tif", Options(kDepth16, FileCompression::Deflate, true));
    const Bytes exr = Encode(floats, "exr", Options(kDepth16, FileCompression::Zip));
    const Bytes tiledExr = Encode(floats, "exr", Options(kDepthFloat, FileCompression::Piz, true));

    std::vector<Hostile> hostile;
    Bytes wide = tiff;
    SetTiffTag(wide, 256, 32769);
    hostile.push_back({"wider than the limit", "tif", wide, "more than the 32768 limit"});
    Bytes bomb = tiledTiff;
    SetTiffTag(bomb, 256, 32768);
    SetTiffTag(bomb, 257, 32768);
    hostile.push_back({"deflate bomb", "tif", bomb, "which take at least"});
    Bytes hugeTiles = tiledTiff;
    SetTiffTag(hugeTiles, 322, 1u << 20);
    hostile.push_back({"tiles wider than any writer makes", "tif", hugeTiles, nullptr});
    Bytes farStrip = tiff;
    SetTiffTag(farStrip, 273, 0x7FFFFFF0);  // the first strip's offset
    hostile.push_back({"strip beyond the file's end", "tif", farStrip, nullptr});
    Bytes oddBits = tiff;
    SetTiffTag(oddBits, 258, 12);
    hostile.push_back({"12-bit samples", "tif", oddBits, nullptr});
    Bytes wideExr = exr;
    SetExrDataWindow(wideExr, 40000, 47);
    hostile.push_back({"exr wider than the limit", "exr", wideExr, nullptr});
    Bytes bombExr = exr;
    SetExrDataWindow(bombExr, 30000, 30000);
    hostile.push_back({"exr claiming more than it holds", "exr", bombExr, nullptr});
    hostile.push_back({"png renamed", "exr", Encode(picture, "png", Options(kDepth16)), nullptr});
    hostile.push_back({"exr renamed", "tif", exr, nullptr});
    for (const Bytes* whole : {&tiff, &tiledTiff, &exr, &tiledExr}) {
        const char* extension = whole == &tiff || whole == &tiledTiff ? "tif" : "exr";
        for (std::size_t length : {std::size_t{0}, std::size_t{7}, std::size_t{200}, whole->size() / 2,
                                   whole->size() - 1}) {
            hostile.push_back({std::string(extension) + " cut at " + std::to_string(length), extension,
                               Bytes(whole->begin(), whole->begin() + static_cast<std::ptrdiff_t>(length)), nullptr});
        }
    }
    for (const Hostile& h : hostile) {
        SCOPED_TRACE(h.name);
        CImageBuffer image = test::MakePatternImage(2, 2);
        std::string reason;
        EXPECT_FALSE(Decode(h.extension, h.file, image, &reason));
        EXPECT_TRUE(image.IsEmpty());
        EXPECT_FALSE(reason.empty());
        if (h.reason) {
            EXPECT_NE(reason.find(h.reason), std::string::npos) << reason;
        }
    }
}

// OpenEXR allocates an attribute's value at the size the header declares
// before it reads it. Sizes no file of that length can hold are refused
// before the library sees them; in a child with little address space,
// allocating them would throw std::bad_alloc instead.
TEST(DeepCodecsDeathTest, HeaderSizesBeyondTheFileAreRefusedBeforeAnythingIsAllocated)
{
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "an address-space limit leaves no room for the sanitizer's shadow memory";
#endif
    CImageBuffer floats = test::MakeDeepPattern(64, 48, ChannelType::Float, true);
    const Bytes exr = Encode(floats, "exr", Options(kDepth16, FileCompression::Zip));
    constexpr std::int32_t kHuge = 0x60000000;  // 1.5 GiB
    const Bytes someBytes = {1, 2, 3, 4, 5, 6, 7, 8};
    std::vector<Hostile> hostile;
    hostile.push_back({"value of an unknown type", "exr", WithExrAttribute(exr, "blob", "mystery", someBytes, kHuge),
                       "claims 1610612736 bytes"});
    hostile.push_back({"string", "exr", WithExrAttribute(exr, "owner", "string", someBytes, kHuge), "\"owner\""});

    auto decodeWithLittleRoom = [&hostile] {
        test::LeaveAddressSpaceRoom(std::uint64_t{256} << 20);
        for (const Hostile& h : hostile) {
            CImageBuffer image;
            std::string reason;
            try {
                if (Decode(h.extension, h.file, image, &reason)) {
                    std::fprintf(stderr, "%s: read\n", h.name.c_str());
                    std::_Exit(1);
                }
            } catch (const std::bad_alloc&) {
                std::fprintf(stderr, "%s: allocated beyond the room\n", h.name.c_str());
                std::_Exit(2);
            }
            if (reason.find(h.reason) == std::string::npos) {
                std::fprintf(stderr, "%s: %s\n", h.name.c_str(), reason.c_str());
                std::_Exit(3);
            }
        }
        std::_Exit(0);
    };
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(decodeWithLittleRoom(), ::testing::ExitedWithCode(0), "");
}

}  // namespace
}  // namespace skelvane
