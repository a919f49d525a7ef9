#include "engine/simd/SimdTargets.h"

#include <cstdlib>
#include <cstring>

#include <hwy/targets.h>

namespace skelvane::simd {
namespace {

// Targets without vectors: every loop kind runs its one-pixel loop there.
constexpr std::int64_t kNoVectors = HWY_EMU128 | HWY_SCALAR;

}  // namespace

std::int64_t CapFromSetting(const char* setting)
{
    if (!setting) {
        return ~std::int64_t{0};
    }
    if (std::strcmp(setting, "scalar") == 0) {
        return kNoVectors;
    }
#if HWY_ARCH_X86
    if (std::strcmp(setting, "avx2") == 0) {
        return ~(HWY_AVX3 | HWY_AVX3_DL);
    }
#endif
    return ~std::int64_t{0};
}

namespace {

// Read once: the loops of one run all keep to one cap.
std::int64_t Cap()
{
    static const std::int64_t cap = CapFromSetting(std::getenv("SKELVANE_SIMD"));
    return cap;
}

}  // namespace

std::int64_t UsableTargets()
{
    const std::int64_t usable = hwy::SupportedTargets() & HWY_TARGETS & Cap();
    return usable ? usable : HWY_STATIC_TARGET;
}

std::vector<std::int64_t> SupportedTargets()
{
    std::vector<std::int64_t> targets;
    // Lower bits are wider targets; the fallback without vectors is the highest.
    for (std::int64_t left = hwy::SupportedTargets() & HWY_TARGETS; left; left &= left - 1) {
        targets.insert(targets.begin(), left & -left);
    }
    return targets;
}

std::string TargetName(std::int64_t target)
{
    return hwy::TargetName(target);
}

std::string ActiveTargetName()
{
    const std::int64_t usable = UsableTargets();
    return TargetName(usable & -usable);
}

void UseOnlyTargetForTest(std::int64_t target)
{
    hwy::SetSupportedTargetsForTest(target);
}

bool UseOnlyTargetNamed(const std::string& name)
{
    for (const std::int64_t target : SupportedTargets()) {
        if (TargetName(target) == name) {
            UseOnlyTargetForTest(target);
            return true;
        }
    }
    return false;
}

}  // namespace skelvane::simd
