// How long the rest of a render takes at the pace of the frames done so far,
// and that time as people read it. The command line's progress lines and the
// desktop's Cube2Dome page say it the same way.
#pragma once

#include <cstdint>
#include <string>

namespace skelvane {

// The frames not yet done at the pace of the `done` ones, which took
// `elapsedSeconds`; 0 while nothing is done (no pace yet) and once all are.
double SecondsLeft(std::int64_t done, std::int64_t total, double elapsedSeconds);

// "0:42", "12:05", "1:02:03": minutes and seconds, hours once there are any,
// rounded to the nearest second.
std::string ClockText(double seconds);

}  // namespace skelvane
