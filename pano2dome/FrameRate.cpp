#include "pano2dome/FrameRate.h"

#include <charconv>
#include <cmath>
#include <numeric>

namespace skelvane {
namespace {

// Decimals beyond this many places are no frame rate anyone types.
constexpr int kMaxDecimals = 6;

bool ParseWhole(std::string_view text, std::uint64_t& value)
{
    if (text.empty() || text.size() > 10) {
        return false;
    }
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    return error == std::errc() && end == text.data() + text.size();
}

std::optional<FrameRate> Reduced(std::uint64_t num, std::uint64_t den)
{
    if (den == 0) {
        return std::nullopt;
    }
    const std::uint64_t divisor = num == 0 ? den : std::gcd(num, den);
    num /= divisor;
    den /= divisor;
    if (num > kMaxFrameRateTerm || den > kMaxFrameRateTerm) {
        return std::nullopt;
    }
    return FrameRate(static_cast<std::uint32_t>(num), static_cast<std::uint32_t>(den));
}

// A decimal a hair away from k x 1000/1001 is that broadcast rate written
// short: 29.97 and 23.976 stand for 30000/1001 and 24000/1001.
std::optional<FrameRate> BroadcastRate(double value)
{
    const double whole = std::round(value * 1.001);
    if (whole < 1.0 || whole > kMaxFrameRateTerm / 1000) {
        return std::nullopt;
    }
    if (std::abs(value - whole * 1000.0 / 1001.0) >= 0.005) {
        return std::nullopt;
    }
    return FrameRate(static_cast<std::uint32_t>(whole) * 1000, 1001);
}

}  // namespace

std::optional<FrameRate> ParseFrameRate(std::string_view text)
{
    std::uint64_t num = 0;
    std::uint64_t den = 1;
    if (const std::size_t slash = text.find('/'); slash != std::string_view::npos) {
        if (!ParseWhole(text.substr(0, slash), num) || !ParseWhole(text.substr(slash + 1), den)) {
            return std::nullopt;
        }
        return Reduced(num, den);
    }
    const std::size_t point = text.find('.');
    if (point == std::string_view::npos) {
        return ParseWhole(text, num) ? Reduced(num, 1) : std::nullopt;
    }
    const std::string_view decimals = text.substr(point + 1);
    if (decimals.empty() || decimals.size() > kMaxDecimals || !ParseWhole(text.substr(0, point), num) ||
        num > kMaxFrameRateTerm || !ParseWhole(decimals, den)) {
        return std::nullopt;
    }
    const std::uint64_t fraction = den;
    den = 1;
    for (std::size_t i = 0; i < decimals.size(); ++i) {
        den *= 10;
    }
    if (fraction == 0) {
        return Reduced(num, 1);
    }
    if (const auto broadcast = BroadcastRate(static_cast<double>(num) + static_cast<double>(fraction) / den)) {
        return broadcast;
    }
    return Reduced(num * den + fraction, den);
}

std::string FrameRateText(FrameRate rate)
{
    if (rate.den == 1) {
        return std::to_string(rate.num);
    }
    return std::to_string(rate.num) + "/" + std::to_string(rate.den);
}

std::uint64_t FramesInSeconds(FrameRate rate, std::uint64_t seconds)
{
    if (rate.den == 0) {
        return 0;
    }
    return (std::uint64_t{rate.num} * seconds + rate.den / 2) / rate.den;
}

}  // namespace skelvane
