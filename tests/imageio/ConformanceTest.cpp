// Public test suites through Load: every file of expected.tsv in a checked
// folder must load (or fail) as the table says, without crashing.
//
// Running the binary directly prints, at the end, every row whose result
// differs from the table (including the tolerated ones of `either` rows).
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "engine/image/ImageBuffer.h"
#include "support/Sha256.h"

namespace skelvane {
namespace {

// Folders of expected.tsv whose codecs are in place.
constexpr std::string_view kCheckedFolders[] = {"bmp", "jpeg", "png", "tga"};

// Rows the table rejects while allowing a partial image that reports the
// damage: a JPEG that ends early loads as far as the library decodes it (the
// library warns on the standard error stream), like any other truncated JPEG.
constexpr std::string_view kPartialImageAllowed[] = {"jpeg/truncated_jpeg.jpg"};

struct ConformanceRow {
    std::string path;
    std::string outcome;  // ok, reject or either
    int width = 0;        // 0 where the table gives no size
    int height = 0;
    std::string hash;  // RGBA8 SHA-256, empty where none is given
    std::string note;
};

std::filesystem::path TestDataFolder()
{
    if (const char* folder = std::getenv("SKELVANE_TESTDATA"); folder && *folder) {
        return folder;
    }
#ifdef SKELVANE_TESTDATA_DEFAULT
    return SKELVANE_TESTDATA_DEFAULT;
#else
    return {};
#endif
}

bool InCheckedFolder(std::string_view path)
{
    const std::string_view folder = path.substr(0, path.find('/'));
    return std::find(std::begin(kCheckedFolders), std::end(kCheckedFolders), folder) != std::end(kCheckedFolders);
}

std::vector<ConformanceRow> ReadTable()
{
    std::vector<ConformanceRow> rows;
    std::ifstream table(TestDataFolder() / "expected.tsv");
    std::string line;
    while (std::getline(table, line)) {
        if (line.empty() || line[0] == '#') {
            continue;
        }
        std::vector<std::string> fields;
        std::istringstream columns(line);
        for (std::string field; std::getline(columns, field, '\t');) {
            fields.push_back(field);
        }
        fields.resize(6);
        if (!InCheckedFolder(fields[0])) {
            continue;
        }
        ConformanceRow row;
        row.path = fields[0];
        row.outcome = fields[1];
        row.width = fields[2].empty() ? 0 : std::stoi(fields[2]);
        row.height = fields[3].empty() ? 0 : std::stoi(fields[3]);
        row.hash = fields[4];
        row.note = fields[5];
        rows.push_back(std::move(row));
    }
    return rows;
}

const std::vector<ConformanceRow>& CheckedRows()
{
    static const std::vector<ConformanceRow> rows = ReadTable();
    return rows;
}

// Our words 0xAARRGGBB as bytes red, green, blue, alpha, top row first; the
// samples of 16-bit images by their high byte, as the table's 16-bit rows
// were made.
std::string RgbaHash(const CImageBuffer& image)
{
    std::vector<std::uint8_t> rgba;
    rgba.reserve(static_cast<std::size_t>(image.GetWidth()) * image.GetHeight() * 4);
    for (std::int32_t y = 0; y < image.GetHeight(); ++y) {
        if (image.GetChannelType() == ChannelType::Uint16) {
            for (const Pixel16* p = image.Row16(y); p != image.Row16(y) + image.GetWidth(); ++p) {
                for (std::uint16_t sample : {p->red, p->green, p->blue, p->alpha}) {
                    rgba.push_back(static_cast<std::uint8_t>(sample >> 8));
                }
            }
            continue;
        }
        const std::uint32_t* row = image.Row32(y);
        for (std::int32_t x = 0; x < image.GetWidth(); ++x) {
            rgba.push_back(static_cast<std::uint8_t>(row[x] >> 16));
            rgba.push_back(static_cast<std::uint8_t>(row[x] >> 8));
            rgba.push_back(static_cast<std::uint8_t>(row[x]));
            rgba.push_back(static_cast<std::uint8_t>(row[x] >> 24));
        }
    }
    return test::Sha256Hex(rgba);
}

std::vector<std::string>& Differences()
{
    static std::vector<std::string> differences;
    return differences;
}

class DifferenceReport : public ::testing::Environment {
public:
    void TearDown() override
    {
        if (Differences().empty()) {
            return;
        }
        std::cout << "\nRows whose result differs from expected.tsv (" << Differences().size() << "):\n";
        for (const std::string& difference : Differences()) {
            std::cout << "  " << difference << '\n';
        }
    }
};

[[maybe_unused]] ::testing::Environment* const kDifferenceReport =
    ::testing::AddGlobalTestEnvironment(new DifferenceReport);

class Conformance : public ::testing::TestWithParam<ConformanceRow> {};

TEST_P(Conformance, LoadsAsTheTableSays)
{
    const ConformanceRow& row = GetParam();
    CImageBuffer image;
    const bool loaded = image.Load(TestDataFolder() / row.path);

    // What our result says, compared with what the table gives.
    std::string difference;
    if (!loaded) {
        EXPECT_TRUE(image.IsEmpty());
        EXPECT_EQ(image.GetWidth(), 0);
        EXPECT_EQ(image.GetHeight(), 0);
        if (row.width != 0) {
            difference = "rejected; the table gives a decoded size";
        }
    } else {
        // 16-bit PNGs keep their depth.
        ASSERT_TRUE(image.GetBitCount() == 32 || (image.GetBitCount() == 64 && row.path.starts_with("png/")))
            << image.GetBitCount();
        if (row.width == 0) {
            difference = "loads (pixels " + RgbaHash(image).substr(0, 12) + "); the table gives no decode";
        } else if (image.GetWidth() != row.width || image.GetHeight() != row.height) {
            difference = "loads as " + std::to_string(image.GetWidth()) + "x" + std::to_string(image.GetHeight());
        } else if (!row.hash.empty() && RgbaHash(image) != row.hash) {
            difference = "pixels differ from the reference";
        }
    }
    if (!difference.empty()) {
        Differences().push_back(row.path + " (" + row.outcome + "): " + difference);
    }

    const bool partialAllowed = std::find(std::begin(kPartialImageAllowed), std::end(kPartialImageAllowed),
                                          row.path) != std::end(kPartialImageAllowed);
    if (row.outcome == "reject") {
        EXPECT_TRUE(!loaded || partialAllowed) << row.note;
    } else if (row.outcome == "ok") {
        ASSERT_TRUE(loaded) << row.note;
        EXPECT_EQ(image.GetWidth(), row.width);
        EXPECT_EQ(image.GetHeight(), row.height);
        if (!row.hash.empty()) {
            EXPECT_EQ(RgbaHash(image), row.hash) << row.note;
        }
    } else {
        EXPECT_EQ(row.outcome, "either");
    }
}

std::string RowName(const ::testing::TestParamInfo<ConformanceRow>& info)
{
    std::string name = info.param.path;
    std::replace_if(name.begin(), name.end(), [](unsigned char c) { return !std::isalnum(c); }, '_');
    return name;
}

INSTANTIATE_TEST_SUITE_P(Files, Conformance, ::testing::ValuesIn(CheckedRows()), RowName);

TEST(ConformanceTable, HoldsRowsForEveryCheckedFolder)
{
    for (std::string_view folder : kCheckedFolders) {
        const bool present = std::any_of(CheckedRows().begin(), CheckedRows().end(), [&](const ConformanceRow& row) {
            return std::string_view(row.path).substr(0, folder.size()) == folder;
        });
        EXPECT_TRUE(present) << "no rows for " << folder << " in " << (TestDataFolder() / "expected.tsv");
    }
}

TEST(Sha256, MatchesKnownDigests)
{
    EXPECT_EQ(test::Sha256Hex({}), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
    const std::string abc = "abc";
    EXPECT_EQ(test::Sha256Hex({reinterpret_cast<const std::uint8_t*>(abc.data()), abc.size()}),
              "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    // 56 bytes: the length no longer fits the first padding block.
    const std::string twoBlocks = "abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq";
    EXPECT_EQ(test::Sha256Hex({reinterpret_cast<const std::uint8_t*>(twoBlocks.data()), twoBlocks.size()}),
              "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1");
}

}  // namespace
}  // namespace skelvane
