// Half floats written by the program are the OpenEXR library's own
// conversion's, value for value, on every instruction set.
#include <gtest/gtest.h>

#include <Imath/half.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <vector>

#include "engine/simd/HalfFloatsSimd.h"
#include "support/EachSimdTarget.h"

namespace skelvane {
namespace {

std::uint16_t LibraryHalf(float value)
{
    return half(value).bits();
}

// Values at and beside every kind of rounding step: ties between halves
// (rounding to the even one), the largest half and the step to infinity,
// the smallest normal and subnormal halves and half of the smallest, float
// subnormals, zeros, infinities, and not-a-numbers quiet and signalling with
// payloads whose top bits are and are not all zero, of both signs; then
// bit patterns spread over every float.
std::vector<float> TestValues()
{
    std::vector<float> values;
    const std::uint32_t steps[] = {
        0x3F800000u, 0x3F801000u, 0x3F803000u, 0x3F800FFFu, 0x3F801001u,  // 1, ties and beside them
        0x477FE000u, 0x477FEFFFu, 0x477FF000u, 0x477FF001u, 0x47800000u,  // 65504 to 65536
        0x38800000u, 0x387FFFFFu, 0x387FF000u, 0x33800000u, 0x33000000u,  // 2^-14, 2^-24, 2^-25
        0x33000001u, 0x33400000u, 0x33C00000u, 0x34200000u, 0x37FFE000u,  // subnormal ties
        0x00000001u, 0x007FFFFFu, 0x00000000u, 0x7F7FFFFFu,               // float subnormals, largest
        0x7F800000u, 0x7FC00000u, 0x7F800001u, 0x7F801FFFu, 0x7FA00000u, 0x7FFFFFFFu, 0x7FC02000u};
    for (const std::uint32_t bits : steps) {
        for (const std::uint32_t sign : {0u, 0x80000000u}) {
            values.push_back(std::bit_cast<float>(bits | sign));
        }
    }
    for (std::uint64_t bits = 0; bits <= 0xFFFFFFFFu; bits += 65521) {
        values.push_back(std::bit_cast<float>(static_cast<std::uint32_t>(bits)));
    }
    return values;
}

TEST(HalfFloats, EveryValueConvertsAsTheLibraryConvertsIt)
{
    const std::vector<float> values = TestValues();
    int failures = 0;
    for (const float value : values) {
        if (HalfBitsOf(value) != LibraryHalf(value) && ++failures <= 5) {
            ADD_FAILURE() << std::hex << "float bits " << std::bit_cast<std::uint32_t>(value) << ": "
                          << HalfBitsOf(value) << " instead of " << LibraryHalf(value);
        }
    }
    // Runs of every length cover the vector loops' ends; every value also
    // sits beside a not-a-number in some vector, and away from one in another.
    test::ForEachSimdTarget([&](const char* target) {
        SCOPED_TRACE(target);
        const HalfFloatsLoop convert = ChooseHalfFloatsLoop();
        for (const std::size_t offset : {std::size_t{0}, std::size_t{7}}) {
            std::vector<std::uint16_t> halves(values.size() - offset);
            convert(values.data() + offset, halves.size(), halves.data());
            int wrong = 0;
            for (std::size_t k = 0; k < halves.size(); ++k) {
                const float value = values[offset + k];
                if (halves[k] != LibraryHalf(value) && ++wrong <= 5) {
                    ADD_FAILURE() << std::hex << "float bits " << std::bit_cast<std::uint32_t>(value) << ": "
                                  << halves[k] << " instead of " << LibraryHalf(value);
                }
            }
        }
    });
}

}  // namespace
}  // namespace skelvane
