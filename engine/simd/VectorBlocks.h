// Small helpers shared by the Highway loops of engine/simd/, included once
// per target inside HWY_NAMESPACE's scope by each loop file.
#if defined(SKELVANE_SIMD_VECTOR_BLOCKS_H_) == defined(HWY_TARGET_TOGGLE)
#ifdef SKELVANE_SIMD_VECTOR_BLOCKS_H_
#undef SKELVANE_SIMD_VECTOR_BLOCKS_H_
#else
#define SKELVANE_SIMD_VECTOR_BLOCKS_H_
#endif

#include <cstddef>
#include <cstdint>

#include <hwy/highway.h>

// Targets without vectors (HWY_EMU128, HWY_SCALAR) run the one-pixel loops.
#undef SKELVANE_SIMD_HAS_VECTORS
#if HWY_TARGET == HWY_EMU128 || HWY_TARGET == HWY_SCALAR
#define SKELVANE_SIMD_HAS_VECTORS 0
#else
#define SKELVANE_SIMD_HAS_VECTORS 1
#endif

HWY_BEFORE_NAMESPACE();
namespace skelvane {
namespace HWY_NAMESPACE {

namespace hn = hwy::HWY_NAMESPACE;

#if SKELVANE_SIMD_HAS_VECTORS
// A vector of 16-byte blocks, block k loaded from at(k): the loads that a
// 128-bit target does one at a time, joined for wider ones.
template <class D, class At>
HWY_INLINE hwy::HWY_NAMESPACE::VFromD<D> LoadBlocks(D d, const At& at, std::size_t first = 0)
{
    constexpr std::size_t kBytes = hn::MaxLanes(D()) * sizeof(hn::TFromD<D>);
    if constexpr (kBytes <= 16) {
        return hn::LoadU(d, reinterpret_cast<const hn::TFromD<D>*>(at(first)));
    } else {
        const hn::Half<D> half;
        return hn::Combine(d, LoadBlocks(half, at, first + kBytes / 32), LoadBlocks(half, at, first));
    }
}
#endif

}  // namespace HWY_NAMESPACE
}  // namespace skelvane
HWY_AFTER_NAMESPACE();

#endif
