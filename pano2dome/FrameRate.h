// Frame rates as exact fractions. Broadcast rates are not whole numbers:
// "29.97" is 30000/1001 frames a second, and a video timed at 2997/100 drifts
// from its sound by a frame every few minutes. Whole rates stay n/1, so a
// sweep at 25 frames a second is computed exactly as it always was.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace skelvane {

struct FrameRate {
    std::uint32_t num = 25;
    std::uint32_t den = 1;

    constexpr FrameRate() = default;
    // Whole rates convert implicitly: a job's `frameRate = 25` means 25/1.
    constexpr FrameRate(std::uint32_t perSecond) : num(perSecond) {}  // NOLINT(google-explicit-constructor)
    constexpr FrameRate(std::uint32_t numerator, std::uint32_t denominator) : num(numerator), den(denominator) {}

    constexpr bool IsPositive() const { return num > 0 && den > 0; }
    double PerSecond() const { return den > 0 ? static_cast<double>(num) / den : 0.0; }

    // Equal values, whatever the fraction's terms (50/2 == 25).
    friend constexpr bool operator==(FrameRate a, FrameRate b)
    {
        return std::uint64_t{a.num} * b.den == std::uint64_t{b.num} * a.den && (a.den == 0) == (b.den == 0);
    }
};

// The largest numerator or denominator a typed rate may have.
inline constexpr std::uint32_t kMaxFrameRateTerm = 1'000'000;

// "25", "30000/1001" or a decimal: "12.5" is 25/2, and the broadcast rates
// written the usual way (23.976 or 23.98, 29.97, 47.952, 59.94, 119.88) are
// their exact x000/1001 fractions. The fraction is reduced. Nothing for text
// that is not a rate, a zero denominator or terms above kMaxFrameRateTerm; a
// rate of 0 parses, for the job's checks to refuse with their own message.
std::optional<FrameRate> ParseFrameRate(std::string_view text);

// "25" for whole rates, "30000/1001" otherwise.
std::string FrameRateText(FrameRate rate);

// Frames in `seconds` at `rate`, rounded to the nearest whole frame (half
// up): 5 seconds at 30000/1001 are 150 frames. Exact for whole rates.
std::uint64_t FramesInSeconds(FrameRate rate, std::uint64_t seconds);

}  // namespace skelvane
