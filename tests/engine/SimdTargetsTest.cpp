#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "engine/simd/SimdTargets.h"

namespace skelvane {
namespace {

bool IsWithin(const char* setting, std::int64_t target)
{
    return (simd::CapFromSetting(setting) & target) != 0;
}

TEST(SimdTargets, TheSettingCapsTheInstructionSets)
{
    const auto targets = simd::SupportedTargets();
    ASSERT_FALSE(targets.empty());
    const std::string narrowest = simd::TargetName(targets.front());
    EXPECT_TRUE(narrowest == "SCALAR" || narrowest == "EMU128") << narrowest;
    for (const std::int64_t target : targets) {
        const std::string name = simd::TargetName(target);
        const bool avx512 = name == "AVX3" || name == "AVX3_DL";
        EXPECT_TRUE(IsWithin(nullptr, target)) << name;
        EXPECT_TRUE(IsWithin("avx512", target)) << name;
        EXPECT_TRUE(IsWithin("no such set", target)) << name;
        EXPECT_EQ(IsWithin("avx2", target), !avx512) << name;
        EXPECT_EQ(IsWithin("scalar", target), target == targets.front()) << name;
    }
}

TEST(SimdTargets, OnlyASupportedTargetCanBeChosenByName)
{
    if (std::getenv("SKELVANE_SIMD")) {
        GTEST_SKIP() << "SKELVANE_SIMD caps the targets";
    }
    EXPECT_FALSE(simd::UseOnlyTargetNamed("no such set"));
    const std::string widest = simd::TargetName(simd::SupportedTargets().back());
    ASSERT_TRUE(simd::UseOnlyTargetNamed(widest));
    EXPECT_EQ(simd::ActiveTargetName(), widest);
    const std::string narrowest = simd::TargetName(simd::SupportedTargets().front());
    ASSERT_TRUE(simd::UseOnlyTargetNamed(narrowest));
    EXPECT_EQ(simd::ActiveTargetName(), narrowest);
    simd::UseOnlyTargetForTest(0);
}

}  // namespace
}  // namespace skelvane
