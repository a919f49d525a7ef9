// The check of an angle option, shared by the commands.
#pragma once

#include <CLI/CLI.hpp>

namespace skelvane::cli {

// A number of degrees from `min` to `max`. CLI11's own Range lets "nan"
// through (every comparison with it is false), and a not-a-number tilt or pan
// renders a dome of nothing but black.
CLI::Validator AngleRange(float min, float max);

}  // namespace skelvane::cli
