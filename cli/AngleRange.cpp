#include "cli/AngleRange.h"

#include <cmath>
#include <cstdio>
#include <string>

namespace skelvane::cli {

CLI::Validator AngleRange(float min, float max)
{
    char range[64];
    std::snprintf(range, sizeof range, "%g to %g", min, max);
    const std::string text = range;
    return CLI::Validator(
        [min, max, text](std::string& input) -> std::string {
            float value = 0.0f;
            if (!CLI::detail::lexical_cast(input, value) || !std::isfinite(value) || value < min || value > max) {
                return "Value " + input + " is not a number of degrees from " + text;
            }
            return {};
        },
        "DEGREES in " + text);
}

}  // namespace skelvane::cli
