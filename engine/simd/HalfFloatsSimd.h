// Floats to IEEE half floats, as half-float files store them: rounded to the
// nearest half (ties to even), beyond the largest half to infinity, below
// half the smallest to zero, signs kept; not-a-number stays not-a-number with
// the top bits of its payload (or, where those are all zero, a payload of 1),
// so that no file loses a marker a renderer left in a picture.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>

namespace skelvane {

// One value's half-float bits.
constexpr std::uint16_t HalfBitsOf(float value)
{
    const auto bits = std::bit_cast<std::uint32_t>(value);
    const auto sign = static_cast<std::uint16_t>(bits >> 16 & 0x8000u);
    const std::uint32_t magnitude = bits & 0x7FFFFFFFu;
    if (magnitude >= 0x7F800000u) {
        const std::uint32_t payload = (magnitude & 0x7FFFFFu) >> 13;
        const std::uint32_t marker = magnitude == 0x7F800000u ? 0 : payload | (payload == 0 ? 1u : 0u);
        return static_cast<std::uint16_t>(sign | 0x7C00u | marker);
    }
    if (magnitude >= 0x477FF000u) {  // 65520 and more round beyond 65504, the largest half
        return static_cast<std::uint16_t>(sign | 0x7C00u);
    }
    if (magnitude >= 0x38800000u) {  // 2^-14 and more: a normal half
        const std::uint32_t rebased = magnitude - 0x38000000u;
        return static_cast<std::uint16_t>(sign | (rebased + 0xFFFu + (rebased >> 13 & 1u)) >> 13);
    }
    if (magnitude <= 0x33000000u) {  // at most 2^-25, half the smallest half
        return sign;
    }
    // A subnormal half: the mantissa with its leading one, shifted to units of
    // 2^-24 and rounded by the bits shifted out.
    const std::uint32_t shift = 0x7Eu - (magnitude >> 23);
    const std::uint32_t mantissa = 0x800000u | (magnitude & 0x7FFFFFu);
    std::uint32_t half = mantissa >> shift;
    const std::uint32_t rest = mantissa << (32 - shift);
    if (rest > 0x80000000u || (rest == 0x80000000u && (half & 1u) != 0)) {
        ++half;
    }
    return static_cast<std::uint16_t>(sign | half);
}

// `count` values from `in` to their half-float bits in `out`, a vector at a
// time where the processor converts halves itself.
using HalfFloatsLoop = void (*)(const float* in, std::size_t count, std::uint16_t* out);

// The loop for the targets usable now (engine/simd/SimdTargets.h).
HalfFloatsLoop ChooseHalfFloatsLoop();

}  // namespace skelvane
