// skelvane-cli on a machine that cannot hold what it is asked to load: the
// address space is limited below what a large but legitimate panorama or face
// needs. Every such run ends with a report and status 1, never an abort.
#include <png.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "CliFaultHarness.h"

namespace skelvane::test {
namespace {
namespace fs = std::filesystem;

// A greyscale PNG written one row at a time, so that the test never holds the
// image. Some noise in every row keeps the compression at an everyday ratio.
void WriteLargeGreyPng(const fs::path& path, int width, int height)
{
    FILE* file = std::fopen(path.c_str(), "wb");
    ASSERT_NE(file, nullptr);
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    png_init_io(png, file);
    png_set_compression_level(png, 1);
    png_set_IHDR(png, info, static_cast<png_uint_32>(width), static_cast<png_uint_32>(height), 8, PNG_COLOR_TYPE_GRAY,
                 PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    std::vector<png_byte> row(static_cast<std::size_t>(width), 128);
    std::uint32_t noise = 12345;
    for (int y = 0; y < height; ++y) {
        for (std::size_t x = 0; x < row.size(); x += 64) {
            noise = noise * 1664525u + 1013904223u;
            row[x] = static_cast<png_byte>(noise >> 24);
        }
        png_write_row(png, row.data());
    }
    png_write_end(png, info);
    png_destroy_write_struct(&png, &info);
    std::fclose(file);
}

TEST_F(CliFault, MemoryRunningOutBeforeTheJobIsReportedWithWhatAskedForIt)
{
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "a sanitizer's shadow memory does not fit under an address-space limit";
#endif
    // 512 MiB once loaded; the program itself needs well under the limit.
    const fs::path big = m_dir / "big.png";
    WriteLargeGreyPng(big, 16384, 8192);
    const fs::path sample = m_dir / "sample";
    ASSERT_EQ(Run({"sample", "--output", sample.string(), "--frames", "1", "--size", "16", "--format", "png"}).status,
              0);
    const fs::path face = sample / "left" / "L00001.png";
    fs::copy_file(big, face, fs::copy_options::overwrite_existing);

    struct Case {
        std::vector<std::string> args;
        std::string report;
    };
    const fs::path out = m_dir / "out";
    const std::vector<Case> cases = {
        {{"pano2dome", "--input", big.string(), "--output", (out / "dome.png").string()},
         "Out of memory.\nLoading the panorama " + big.string() + " asked for a block of "},
        {{"pano2dome", "--input", big.string(), "--output", out.string(), "--mode", "frames", "--size", "64"},
         "Out of memory.\nLoading the panorama " + big.string() + " asked for a block of "},
        {{"cube2dome", "--input", sample.string(), "--in-format", "png", "--output", out.string()},
         "Out of memory.\nReading " + face.string() + " for the face width asked for a block of "},
    };
    CliLaunch launch;
    // The block alone fills the limit, whatever the program maps besides.
    launch.addressSpaceLimit = rlim_t{512} << 20;
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.args));
        const CliResult result = Run(c.args, launch);
        EXPECT_EQ(result.status, 1) << result.err;
        EXPECT_EQ(result.err.rfind(c.report, 0), 0u) << result.err;
        EXPECT_FALSE(fs::exists(out));
    }
}

}  // namespace
}  // namespace skelvane::test
