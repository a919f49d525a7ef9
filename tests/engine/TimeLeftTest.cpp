// The time left of a render and how it reads.
#include <gtest/gtest.h>

#include <limits>

#include "engine/jobs/TimeLeft.h"

namespace skelvane {
namespace {

TEST(TimeLeftTest, TheFramesLeftAtThePaceOfThoseDone)
{
    const struct {
        std::int64_t done;
        std::int64_t total;
        double elapsed;
        double left;
    } cases[] = {
        {2, 10, 4.0, 16.0},  // two seconds a frame, eight to go
        {1, 3, 0.5, 1.0},
        {0, 10, 4.0, 0.0},   // no pace before the first frame
        {10, 10, 20.0, 0.0},
        {12, 10, 20.0, 0.0},
        {5, 10, 0.0, 0.0},
        {5, 10, std::numeric_limits<double>::quiet_NaN(), 0.0},
    };
    for (const auto& each : cases) {
        EXPECT_DOUBLE_EQ(SecondsLeft(each.done, each.total, each.elapsed), each.left)
            << each.done << " of " << each.total << " in " << each.elapsed;
    }
}

TEST(TimeLeftTest, ReadsAsMinutesAndSecondsWithHoursOnceThereAreAny)
{
    const struct {
        double seconds;
        const char* text;
    } cases[] = {
        {0.0, "0:00"},        {0.4, "0:00"},       {0.5, "0:01"},          {42.0, "0:42"},
        {59.6, "1:00"},       {725.0, "12:05"},    {3599.4, "59:59"},      {3599.5, "1:00:00"},
        {3723.0, "1:02:03"},  {90061.0, "25:01:01"}, {-5.0, "0:00"},
        {std::numeric_limits<double>::infinity(), "0:00"},
    };
    for (const auto& each : cases) EXPECT_EQ(ClockText(each.seconds), each.text) << each.seconds;
}

}  // namespace
}  // namespace skelvane
