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
// A vector of 16-byte blocks, block k being block(k) (a full 128-bit vector
// of D's lane type): what a 128-bit target holds at once, joined for wider
// ones.
template <class D, class Block>
HWY_INLINE hwy::HWY_NAMESPACE::VFromD<D> BlocksOf(D d, const Block& block, std::size_t first = 0)
{
    constexpr std::size_t kBytes = hn::MaxLanes(D()) * sizeof(hn::TFromD<D>);
    if constexpr (kBytes <= 16) {
        return block(first);
    } else {
        const hn::Half<D> half;
        return hn::Combine(d, BlocksOf(half, block, first + kBytes / 32), BlocksOf(half, block, first));
    }
}

// A vector of 16-byte blocks, block k loaded from at(k): the loads that a
// 128-bit target does one at a time, joined for wider ones.
template <class D, class At>
HWY_INLINE hwy::HWY_NAMESPACE::VFromD<D> LoadBlocks(D d, const At& at, std::size_t first = 0)
{
    using T = hn::TFromD<D>;
    const hn::Full128<T> block;
    return BlocksOf(d, [&](std::size_t k) { return hn::LoadU(block, reinterpret_cast<const T*>(at(k))); }, first);
}

// Four 32-bit values per lane, lane k's four made by quad(k) as one 16-byte
// block, spread over four vectors: quads[c] lane k holds lane k's c-th. The
// blocks of lanes 4q + e go into block q of vector e, and a 4 x 4 transpose
// inside each block brings every lane's value c back to lane 4q + e (cheaper
// than gathers, and the same on every target).
template <class D, class Quad>
HWY_INLINE void TransposeQuads(D d, const Quad& quad, hn::VFromD<D> quads[4])
{
    static_assert(sizeof(hn::TFromD<D>) == 4);
    const hn::Repartition<std::uint64_t, D> d64;
    hn::VFromD<D> blocks[4];
    for (std::size_t e = 0; e < 4; ++e) {
        blocks[e] = BlocksOf(d, [&](std::size_t q) { return quad(4 * q + e); });
    }
    const auto ab01 = hn::InterleaveLower(d, blocks[0], blocks[1]);
    const auto ab23 = hn::InterleaveUpper(d, blocks[0], blocks[1]);
    const auto cd01 = hn::InterleaveLower(d, blocks[2], blocks[3]);
    const auto cd23 = hn::InterleaveUpper(d, blocks[2], blocks[3]);
    quads[0] = hn::BitCast(d, hn::InterleaveLower(d64, hn::BitCast(d64, ab01), hn::BitCast(d64, cd01)));
    quads[1] = hn::BitCast(d, hn::InterleaveUpper(d64, hn::BitCast(d64, ab01), hn::BitCast(d64, cd01)));
    quads[2] = hn::BitCast(d, hn::InterleaveLower(d64, hn::BitCast(d64, ab23), hn::BitCast(d64, cd23)));
    quads[3] = hn::BitCast(d, hn::InterleaveUpper(d64, hn::BitCast(d64, ab23), hn::BitCast(d64, cd23)));
}
#endif

// The lanes of a mask as bits, lane k in bit k: the loops walk the lanes a
// vector leaves to the one-pixel code by their set bits.
template <class D>
HWY_INLINE std::uint64_t LaneBits(D d, hn::Mask<D> mask)
{
    static_assert(hn::MaxLanes(D()) <= 64, "one bit a lane in 64 bits");
    std::uint8_t bytes[8] = {};
    hn::StoreMaskBits(d, mask, bytes);
    std::uint64_t bits = 0;
    for (std::size_t k = 0; k < (hn::MaxLanes(d) + 7) / 8; ++k) {
        bits |= std::uint64_t{bytes[k]} << (8 * k);
    }
    return bits;
}

// A vector of 32-bit values, lane k value(k), built in registers: read back
// from stores, the vector would wait for them to reach the cache (Zen 3 spent
// a third of the packed render there).
template <class D, class Value>
HWY_INLINE hwy::HWY_NAMESPACE::VFromD<D> Collect(D d, const Value& value, int first = 0)
{
    constexpr int kCount = static_cast<int>(hn::MaxLanes(D()));
    if constexpr (kCount * 4 <= 16) {
        auto v = hn::Zero(d);
        for (int k = 0; k < kCount; ++k) {
            v = hn::InsertLane(v, static_cast<std::size_t>(k), static_cast<hn::TFromD<D>>(value(first + k)));
        }
        return v;
    } else {
#if SKELVANE_SIMD_HAS_VECTORS
        const hn::Half<D> half;
        return hn::Combine(d, Collect(half, value, first + kCount / 2), Collect(half, value, first));
#endif
    }
}

// Eight 32-bit entries, looked up by a lane index 0..7 (per face and the two
// spare sources of the cube loops).
struct Table8 {
    using DI = hn::ScalableTag<std::int32_t>;
    using VI = hn::Vec<DI>;
    static constexpr int kLanes = static_cast<int>(hn::MaxLanes(DI()));

    VI low;   // entries 0 .. kLanes - 1
    VI high;  // entries 4 .. 7 where a vector holds only four
    std::int32_t single[8];  // where a vector holds one

    explicit Table8(const void* entries)
    {
        const DI di;
        const auto* values = static_cast<const std::int32_t*>(entries);
        if constexpr (kLanes == 1) {
            for (int k = 0; k < 8; ++k) {
                single[k] = values[k];
            }
        } else if constexpr (kLanes >= 8) {
            alignas(64) std::int32_t padded[kLanes] = {};
            for (int k = 0; k < 8; ++k) {
                padded[k] = values[k];
            }
            low = hn::Load(di, padded);
            high = low;
        } else {
            low = hn::LoadU(di, values);
            high = hn::LoadU(di, values + 4);
        }
    }

    HWY_INLINE VI Lookup(VI index) const
    {
        const DI di;
        if constexpr (kLanes == 1) {
            return hn::Set(di, single[hn::GetLane(index) & 7]);
        } else if constexpr (kLanes >= 8) {
            return hn::TableLookupLanes(low, hn::IndicesFromVec(di, index));
        } else {
            const auto within = hn::IndicesFromVec(di, hn::And(index, hn::Set(di, 3)));
            return hn::IfThenElse(hn::Gt(index, hn::Set(di, 3)), hn::TableLookupLanes(high, within),
                                  hn::TableLookupLanes(low, within));
        }
    }
};

}  // namespace HWY_NAMESPACE
}  // namespace skelvane
HWY_AFTER_NAMESPACE();

#endif
