// Pano map entries as the panorama loops load them, included once per target
// inside HWY_NAMESPACE's scope by each loop file (as VectorBlocks.h is).
#if defined(SKELVANE_SIMD_PANO_ENTRY_LANES_H_) == defined(HWY_TARGET_TOGGLE)
#ifdef SKELVANE_SIMD_PANO_ENTRY_LANES_H_
#undef SKELVANE_SIMD_PANO_ENTRY_LANES_H_
#else
#define SKELVANE_SIMD_PANO_ENTRY_LANES_H_
#endif

#include <hwy/highway.h>

#include "engine/projection/PanoDomeProjector.h"

HWY_BEFORE_NAMESPACE();
namespace skelvane {
namespace HWY_NAMESPACE {

namespace hn = hwy::HWY_NAMESPACE;

// The columns and rows of MaxLanes(df) consecutive entries, and the lanes
// that show as outside the disc, as the one-pixel blend shows them: the
// outside marker, or a position that is not finite.
template <class DF>
HWY_INLINE hn::Mask<DF> LoadPanoEntries(DF df, const PanoMapEntry* entries, hn::Vec<DF>& x, hn::Vec<DF>& y)
{
    hn::LoadInterleaved2(df, reinterpret_cast<const float*>(entries), x, y);
    const hn::Vec<DF> marker = hn::Set(df, kPanoOutside);
    return hn::Or(hn::Or(hn::Not(hn::IsFinite(x)), hn::Not(hn::IsFinite(y))),
                  hn::And(hn::Eq(x, marker), hn::Eq(y, marker)));
}

}  // namespace HWY_NAMESPACE
}  // namespace skelvane
HWY_AFTER_NAMESPACE();

#endif
