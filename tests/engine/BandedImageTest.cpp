#include <gtest/gtest.h>

#include <stdexcept>
#include <utility>
#include <vector>

#include "engine/image/BandedImage.h"
#include "engine/jobs/ParallelRows.h"

namespace skelvane {
namespace {

// Pixel (x, y) of the picture every test takes in bands.
std::uint32_t PixelAt(std::int32_t x, std::int32_t y)
{
    return static_cast<std::uint32_t>(y) << 16 | static_cast<std::uint32_t>(x);
}

// A picture that records each band it is asked to make.
struct RecordedPicture {
    RecordedPicture(std::int32_t width, std::int32_t height, std::int32_t bandRows)
        : image(width, height, ChannelType::Uint8, bandRows,
                [this](std::int32_t first, std::int32_t end, CImageBuffer& band) {
                    bands.emplace_back(first, end);
                    for (std::int32_t y = first; y < end; ++y) {
                        auto* row = band.Row32(y - first);
                        for (std::int32_t x = 0; x < band.GetWidth(); ++x) {
                            row[x] = PixelAt(x, y);
                        }
                    }
                })
    {
    }

    // Takes rows [first, first + count) and checks that they are the picture's.
    void ExpectRows(std::int32_t first, std::int32_t count)
    {
        std::vector<std::uint8_t*> rows(static_cast<std::size_t>(count));
        image.Rows(first, count, rows.data());
        for (std::int32_t i = 0; i < count; ++i) {
            const auto* row = reinterpret_cast<const std::uint32_t*>(rows[static_cast<std::size_t>(i)]);
            for (std::int32_t x = 0; x < image.GetWidth(); ++x) {
                ASSERT_EQ(row[x], PixelAt(x, first + i)) << "row " << first + i << " column " << x;
            }
        }
    }

    std::vector<std::pair<std::int32_t, std::int32_t>> bands;
    CBandedImage image;
};

TEST(BandedImage, RowsTakenFromTheTopComeFromBandsMadeOnce)
{
    struct Case {
        std::int32_t height, bandRows, batch;
        std::size_t bands;  // made while the rows are taken
    };
    // Batches that divide the band make each row once, the last band short;
    // batches that straddle bands start a band where they start; a band
    // taller than the picture holds the picture.
    for (const Case& c : {Case{96, 32, 16, 3}, Case{100, 32, 16, 4}, Case{7, 1, 1, 7}, Case{10, 4, 3, 3},
                          Case{5, 64, 5, 1}, Case{33, 32, 32, 2}}) {
        SCOPED_TRACE(testing::Message() << c.height << " rows, bands of " << c.bandRows << ", batches of " << c.batch);
        RecordedPicture picture(9, c.height, c.bandRows);
        EXPECT_EQ(picture.image.GetHeight(), c.height);
        for (std::int32_t first = 0; first < c.height; first += c.batch) {
            picture.ExpectRows(first, std::min(c.batch, c.height - first));
        }
        EXPECT_EQ(picture.bands.size(), c.bands);
        for (const auto& [first, end] : picture.bands) {
            EXPECT_TRUE(0 <= first && first < end && end <= c.height && end - first <= c.bandRows)
                << first << " " << end;
        }
        EXPECT_EQ(picture.bands.back().second, c.height);
    }
}

TEST(BandedImage, RowsOutsideTheLastBandAreMadeAgain)
{
    RecordedPicture picture(5, 20, 4);
    picture.ExpectRows(8, 4);
    picture.ExpectRows(9, 2);  // within the band: not made again
    picture.ExpectRows(0, 3);
    picture.ExpectRows(17, 3);
    EXPECT_EQ(picture.bands, (std::vector<std::pair<std::int32_t, std::int32_t>>{{8, 12}, {0, 4}, {17, 20}}));
}

// A paused job waits between bands, as it does between the bands of any
// render: the thread's row-band check runs before each band is made.
TEST(BandedImage, TheRowBandCheckRunsBeforeEachBand)
{
    struct Check {
        RecordedPicture* picture;
        std::vector<std::size_t> bandsMadeBefore;
    };
    RecordedPicture picture(3, 10, 4);
    Check check{&picture, {}};
    const ScopedRowBandCheck installed({[](void* context) {
                                            auto* c = static_cast<Check*>(context);
                                            c->bandsMadeBefore.push_back(c->picture->bands.size());
                                        },
                                        &check});
    for (std::int32_t first = 0; first < 10; first += 2) {
        picture.ExpectRows(first, 2);
    }
    EXPECT_EQ(check.bandsMadeBefore, (std::vector<std::size_t>{0, 1, 2}));
}

TEST(BandedImage, RefusesAPictureWithoutRowsOrBands)
{
    const auto nothing = [](std::int32_t, std::int32_t, CImageBuffer&) {};
    EXPECT_THROW(CBandedImage(0, 4, ChannelType::Uint8, 2, nothing), std::invalid_argument);
    EXPECT_THROW(CBandedImage(4, 0, ChannelType::Uint8, 2, nothing), std::invalid_argument);
    EXPECT_THROW(CBandedImage(4, 4, ChannelType::Uint8, 0, nothing), std::invalid_argument);
    const CBandedImage deep(4, 3, ChannelType::Uint16, 8, nothing);
    EXPECT_EQ(deep.GetBitCount(), 64);
    EXPECT_EQ(deep.BandRows(), 3);
    EXPECT_EQ(deep.FileChannelType(), ChannelType::Uint16);
}

}  // namespace
}  // namespace skelvane
