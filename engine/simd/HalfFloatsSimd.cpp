// Floats to half floats with the processor's own conversion (F16C on x86,
// the NEON conversion on ARM), which rounds as HalfBitsOf does; a vector that
// holds a not-a-number goes value by value, as the processors quieten a
// signalling one where the files keep its payload as it is.
#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "engine/simd/HalfFloatsSimd.cpp"
#include <hwy/foreach_target.h>  // IWYU pragma: keep

#include <hwy/highway.h>

#include "engine/simd/ChooseLoop.h"
#include "engine/simd/HalfFloatsSimd.h"
#include "engine/simd/VectorBlocks.h"

HWY_BEFORE_NAMESPACE();
namespace skelvane {
namespace HWY_NAMESPACE {

void FloatsToHalves(const float* in, std::size_t count, std::uint16_t* out)
{
    std::size_t k = 0;
#if SKELVANE_SIMD_HAS_VECTORS
    const hn::ScalableTag<float> df;
    const hn::Rebind<hwy::float16_t, decltype(df)> dh;
    const std::size_t lanes = hn::Lanes(df);
    for (; k + lanes <= count; k += lanes) {
        const auto values = hn::LoadU(df, in + k);
        if (!hn::AllFalse(df, hn::IsNaN(values))) {
            for (std::size_t j = k; j < k + lanes; ++j) {
                out[j] = HalfBitsOf(in[j]);
            }
            continue;
        }
        hn::StoreU(hn::DemoteTo(dh, values), dh, reinterpret_cast<hwy::float16_t*>(out + k));
    }
#endif
    for (; k < count; ++k) {
        out[k] = HalfBitsOf(in[k]);
    }
}

}  // namespace HWY_NAMESPACE
}  // namespace skelvane
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
namespace skelvane {

HWY_EXPORT(FloatsToHalves);

HalfFloatsLoop ChooseHalfFloatsLoop()
{
    return SKELVANE_CHOOSE_LOOP(FloatsToHalves);
}

}  // namespace skelvane
#endif
