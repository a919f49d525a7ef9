#include "engine/jobs/TimeLeft.h"

#include <cmath>
#include <cstdio>

namespace skelvane {

double SecondsLeft(std::int64_t done, std::int64_t total, double elapsedSeconds)
{
    if (done <= 0 || done >= total || !(elapsedSeconds > 0.0)) return 0.0;
    return elapsedSeconds / static_cast<double>(done) * static_cast<double>(total - done);
}

std::string ClockText(double seconds)
{
    const long long whole = std::isfinite(seconds) && seconds > 0.0 ? std::llround(seconds) : 0;
    char text[32];
    if (whole >= 3600) {
        std::snprintf(text, sizeof text, "%lld:%02lld:%02lld", whole / 3600, whole / 60 % 60, whole % 60);
    } else {
        std::snprintf(text, sizeof text, "%lld:%02lld", whole / 60, whole % 60);
    }
    return text;
}

}  // namespace skelvane
