// The block pipeline of the cube dome renderers (engine/projection/CubeDomeRows.h),
// a vector of pixels to a block: sixteen with AVX-512, eight with AVX2, four
// with NEON. Where there are no vectors every pixel takes the one-pixel loop.
#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "engine/simd/CubeDomeRowsSimd.cpp"
#include <hwy/foreach_target.h>  // IWYU pragma: keep

#include <hwy/cache_control.h>
#include <hwy/highway.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "engine/projection/CubeDomePixels.h"
#include "engine/simd/ChooseLoop.h"
#include "engine/simd/CubeDomeRowsSimd.h"
#include "engine/simd/VectorBlocks.h"

HWY_BEFORE_NAMESPACE();
namespace skelvane {
namespace HWY_NAMESPACE {
namespace {

#if SKELVANE_SIMD_HAS_VECTORS
using DI = hn::ScalableTag<std::int32_t>;
using DU = hn::RebindToUnsigned<DI>;
using DF = hn::RebindToFloat<DI>;
using VI = hn::Vec<DI>;
using VF = hn::Vec<DF>;
using MI = hn::Mask<DI>;
constexpr int kLanes = static_cast<int>(hn::MaxLanes(DI()));
constexpr unsigned kAllLanes = (1u << kLanes) - 1;

// How far ahead, in map entries, the plan fetches the map: the hardware
// prefetchers stop at every 4 KiB page of the map, and it is read too fast
// for them to catch up.
constexpr std::size_t kMapEntriesAhead = 640;

// Domes from this size on no longer fit the last-level cache next to the
// faces and the map, so nothing is lost by writing them around it.
constexpr std::int64_t kStreamedDomeBytes = std::int64_t{16} << 20;

// The pixels of a row before its first whole 64-byte line.
std::int32_t PixelsBeforeLine(const std::uint32_t* out, std::int32_t width)
{
    const auto misalignment = static_cast<std::int32_t>(reinterpret_cast<std::uintptr_t>(out) & 63);
    return std::min(width, (64 - misalignment) % 64 / 4);
}

// Fetches the line `bytes` past `at` into the cache (which may lie past the
// end of a block: prefetches do not fault).
HWY_INLINE void PrefetchAhead(const void* at, std::size_t bytes)
{
    hwy::Prefetch(reinterpret_cast<const char*>(reinterpret_cast<std::uintptr_t>(at) + bytes));
}

// The larger of a and b (the smaller for kSmaller), and b where a is NaN, as
// x86's maximum and minimum give them.
template <bool kSmaller>
HWY_INLINE VF PickOrSecond(VF a, VF b)
{
#if HWY_ARCH_X86
    return kSmaller ? hn::Min(a, b) : hn::Max(a, b);
#else
    return hn::IfThenElse(kSmaller ? hn::Lt(a, b) : hn::Gt(a, b), a, b);
#endif
}

// Lanes one up, `previous`'s last in lane 0.
HWY_INLINE VI LaneBefore(VI a, VI previous)
{
    const DI di;
    const auto up = hn::IndicesFromVec(di, hn::And(hn::Add(hn::Iota(di, 0), hn::Set(di, kLanes - 1)),
                                                     hn::Set(di, kLanes - 1)));
    return hn::IfThenElse(hn::FirstN(di, 1), hn::TableLookupLanes(previous, up), hn::TableLookupLanes(a, up));
}

// Lanes one down, `next`'s first last.
HWY_INLINE VI LaneAfter(VI next, VI a)
{
    const DI di;
    const auto down = hn::IndicesFromVec(di, hn::And(hn::Iota(di, 1), hn::Set(di, kLanes - 1)));
    return hn::IfThenElse(hn::FirstN(di, kLanes - 1), hn::TableLookupLanes(a, down), hn::TableLookupLanes(next, down));
}

// RoundToFacePixel in every lane, followed by the clamp into the face:
// truncate(min(max(p + 0.5, 0), limit)), with the face size less one and the
// face's last pixel (whichever is smaller) as the limit. Equal to the scalar
// steps as long as the limits are whole numbers a float holds exactly: not
// above 0 (NaN included, which the maximum turns into its second operand)
// gives 0, and truncation commutes with a whole-number limit. The largest
// p + 0.5 is kept in `highest`, for the overflow flag (NaN passed over
// likewise).
HWY_INLINE VI FacePixels(VF position, VF limit, VF& highest)
{
    const DF df;
    const VF rounded = hn::Add(position, hn::Set(df, 0.5f));
    highest = PickOrSecond<false>(rounded, highest);
    return hn::ConvertTo(DI(), PickOrSecond<true>(PickOrSecond<false>(rounded, hn::Zero(df)), limit));
}

// What a planner gives for a block: per lane its source and its pixel
// counted from the source's first, and which lanes read at all (the others
// are transparent black).
struct LanePlan {
    VI index;
    VI source;
    unsigned read;
};

// The face map, a block of entries at a time.
class FaceMapPlanner {
public:
    explicit FaceMapPlanner(const FaceMapFrame& frame)
        : m_map(frame.map),
          m_outSize(static_cast<std::size_t>(frame.outSize)),
          m_size(static_cast<float>(frame.faceSize)),
          m_limitX(LimitsOf(frame, frame.sources.lastColumn)),
          m_limitY(LimitsOf(frame, frame.sources.lastRow)),
          m_lastRow(frame.sources.lastRow),
          m_pitch(frame.sources.pitch),
          m_highestX(hn::Set(DF(), -1.0f)),
          m_highestY(hn::Set(DF(), -1.0f))
    {
    }

    // Whether the limits are whole numbers a float holds exactly.
    static bool Handles(const FaceMapFrame& frame)
    {
        constexpr std::int32_t kExact = 1 << 24;
        if (frame.faceSize > kExact) {
            return false;
        }
        for (int k = 0; k < 8; ++k) {
            if (frame.sources.lastColumn[k] > kExact || frame.sources.lastRow[k] > kExact) {
                return false;
            }
        }
        return true;
    }

    void StartRow(std::int32_t row) { m_entry = m_map + static_cast<std::size_t>(row) * m_outSize; }

    // False, leaving the pixels to the one-pixel loop, where a face number
    // needs wrapping.
    HWY_INLINE bool Plan(std::int32_t j, LanePlan& plan)
    {
        const DI di;
        const DF df;
        const float* e = &m_entry[j].u;
        for (std::size_t line = 0; line < kLanes * sizeof(FaceMapEntry); line += 64) {
            PrefetchAhead(e, kMapEntriesAhead * sizeof(FaceMapEntry) + line);
        }
        VF u;
        VF v;
        VF faceBits;
        hn::LoadInterleaved3(df, e, u, v, faceBits);
        const VI face = hn::BitCast(di, faceBits);
        if (!hn::AllFalse(DU(), hn::Gt(hn::BitCast(DU(), face), hn::Set(DU(), kCubeFaceCount - 1)))) {
            return false;
        }
        const VI x = FacePixels(u, hn::BitCast(df, m_limitX.Lookup(face)), m_highestX);
        const VI y = FacePixels(v, hn::BitCast(df, m_limitY.Lookup(face)), m_highestY);
        const VI rowsUp = hn::Sub(m_lastRow.Lookup(face), y);
        plan.index = hn::Add(hn::Mul(rowsUp, m_pitch.Lookup(face)), x);
        plan.source = face;
        const VF outside = hn::Set(df, kOutsideCircle);
        const auto outsideLanes = hn::RebindMask(di, hn::And(hn::Eq(u, outside), hn::Eq(v, outside)));
        plan.read = static_cast<unsigned>(~LaneBits(DI(), outsideLanes) & kAllLanes);
        return true;
    }

    // Whether a position rounded to or beyond the face size.
    bool OverflowW() const { return Beyond(m_highestX); }
    bool OverflowH() const { return Beyond(m_highestY); }

private:
    static Table8 LimitsOf(const FaceMapFrame& frame, const std::int32_t* last)
    {
        float limits[8];
        for (int k = 0; k < 8; ++k) {
            limits[k] = static_cast<float>(std::min(frame.faceSize - 1, last[k]));
        }
        return Table8(limits);
    }

    bool Beyond(VF highest) const { return !hn::AllFalse(DF(), hn::Ge(highest, hn::Set(DF(), m_size))); }

    const FaceMapEntry* m_map;
    std::size_t m_outSize;
    float m_size;
    const FaceMapEntry* m_entry = nullptr;
    Table8 m_limitX;  // as float bits
    Table8 m_limitY;
    Table8 m_lastRow;
    Table8 m_pitch;
    VF m_highestX;
    VF m_highestY;
};

// Packed words, a block at a time.
class PackedPlanner {
public:
    explicit PackedPlanner(const PackedFrame& frame)
        : m_words(frame.words), m_outSize(static_cast<std::size_t>(frame.outSize)), m_mask(frame.mask)
    {
    }

    void StartRow(std::int32_t row) { m_word = m_words + static_cast<std::size_t>(row) * m_outSize; }

    HWY_INLINE bool Plan(std::int32_t j, LanePlan& plan)
    {
        const DI di;
        PrefetchAhead(m_word + j, kMapEntriesAhead * sizeof(std::uint32_t));
        const VI w = hn::LoadU(di, reinterpret_cast<const std::int32_t*>(m_word + j));
        plan.source = hn::BitCast(di, hn::ShiftRight<kPackedSourceShift>(hn::BitCast(DU(), w)));
        plan.index = hn::And(w, m_mask.Lookup(plan.source));
        plan.read = kAllLanes;
        return true;
    }

private:
    const std::uint32_t* m_words;
    std::size_t m_outSize;
    const std::uint32_t* m_word = nullptr;
    Table8 m_mask;
};

// A planned block as the gather reads it. Its control word holds the lanes
// that read in bits 0..15 and, when they all read one source, that source in
// bits 16..18; otherwise kMixedSources, and the gather goes source by source.
constexpr std::uint32_t kMixedSources = 1u << 19;

struct alignas(64) PlannedBlock {
    std::uint32_t index[kLanes];
    std::uint8_t source[kLanes];
    std::uint32_t* out;
    std::uint32_t control;
};

// Pixels the gather trails the plan by. The face lines a block reads for the
// first time are prefetched when it is planned; this many pixels later they
// have arrived and are still in the first-level cache. Rows follow one
// another without a pause, so the last blocks of a row get the same lead.
constexpr std::uint64_t kGatherLagPixels = 384;
// Planned blocks not yet gathered are kept in a ring of this many pixels.
constexpr std::uint64_t kRingPixels = 512;

struct alignas(64) BlockLines {
    std::int32_t lanes[kLanes];
};

// The ring, and the face line numbers of the last two planned rows (one
// block either side of each row). Kept per thread, as bands follow one
// another on the same threads.
struct PipelineBuffers {
    PlannedBlock ring[kRingPixels / kLanes];
    std::vector<BlockLines> lines;
};

// Lanes that do not read count too: a block at the rim of the circle goes
// source by source, which costs less than finding the lanes that read.
HWY_INLINE std::uint32_t ControlOf(const LanePlan& plan)
{
    const DI di;
    const std::int32_t first = hn::GetLane(plan.source);
    const bool shared = hn::AllTrue(di, hn::Eq(plan.source, hn::Set(di, first)));
    return plan.read | (shared ? static_cast<std::uint32_t>(first) << 16 : kMixedSources);
}

// A block's pixels read one by one. The gather instruction does the same in
// one, but on processors whose microcode guards gathers against data
// sampling it gives up overlapping the lanes' cache misses and ran three
// times slower (Ice Lake, 2026-12-07) than these loads, which lose little to
// it elsewhere.
HWY_INLINE hn::Vec<DU> GatherBlock(const PlannedBlock& block, const std::uint32_t* const* base)
{
    const DU du;
    const unsigned read = block.control & kAllLanes;
    if (!read) {
        return hn::Zero(du);
    }
    if (read == kAllLanes && !(block.control & kMixedSources)) {
        const std::uint32_t* face = base[(block.control >> 16) & 7];
        return Collect(du, [&](int k) { return face[block.index[k]]; });
    }
    return Collect(du, [&](int k) { return (read >> k & 1) ? base[block.source[k]][block.index[k]] : 0u; });
}

// Rows [first, end) of the dome through `planner`, with pixels(row, firstColumn,
// endColumn) for what it leaves to the one-pixel loop.
//
// A face line is prefetched when a lane reads it and neither the lane before
// nor the three nearest lanes of the row above read it: over a dome, that
// fetches nearly every line the rows read for the first time, at under two
// prefetches per such line. The prefetches of a block are issued while the
// next block is planned, once the block's stores have been made.
template <bool kStream, class Planner, class Pixels>
class BlockPipeline {
public:
    static constexpr std::uint64_t kGatherLag = kGatherLagPixels / kLanes;
    static constexpr std::uint64_t kRingBlocks = kRingPixels / kLanes;
    static_assert(kRingBlocks > kGatherLag && (kRingBlocks & (kRingBlocks - 1)) == 0);

    BlockPipeline(Planner& planner, const std::uint32_t* const* base, Pixels& pixels, CImageBuffer& dome)
        : m_planner(planner), m_base(base), m_pixels(pixels), m_dome(dome), m_width(dome.GetWidth()),
          m_lineBlocks(static_cast<std::size_t>(m_width) / kLanes + 2), m_baseLow(BaseLowBits(base))
    {
        thread_local PipelineBuffers buffers;
        m_buffers = &buffers;
        buffers.lines.resize(2 * m_lineBlocks);
    }

    void Run(std::int32_t first, std::int32_t end)
    {
        Planner planner = m_planner;  // a copy the one-pixel calls cannot reach, kept in registers
        for (std::int32_t r = first; r < end; ++r) {
            PlanRow(planner, r, r > first);
        }
        while (m_gathered < m_planned) {
            GatherNext();
        }
        if (kStream) {
            hwy::FlushStream();
        }
        m_planner = planner;
    }

private:
    // The low 32 bits of each source's address in pixels.
    static Table8 BaseLowBits(const std::uint32_t* const* base)
    {
        std::int32_t lowBits[8];
        for (int k = 0; k < 8; ++k) {
            lowBits[k] = static_cast<std::int32_t>(reinterpret_cast<std::uintptr_t>(base[k]) / 4);
        }
        return Table8(lowBits);
    }

    HWY_INLINE void PlanRow(Planner& planner, std::int32_t r, bool compareAbove)
    {
        const DI di;
        std::uint32_t* out = m_dome.Row32(r);
        const std::int32_t head = kStream ? PixelsBeforeLine(out, m_width) : 0;
        const std::int32_t blocks = (m_width - head) / kLanes;
        m_pixels(r, 0, head);
        m_pixels(r, head + kLanes * blocks, m_width);
        planner.StartRow(r);
        BlockLines* lines = m_buffers->lines.data() + 1 + static_cast<std::size_t>(r & 1) * m_lineBlocks;
        const BlockLines* linesAbove = m_buffers->lines.data() + 1 + static_cast<std::size_t>(~r & 1) * m_lineBlocks;
        VI before = hn::Set(di, -1);
        VI abovePrevious = hn::Load(di, linesAbove[-1].lanes);
        VI above = hn::Load(di, linesAbove[0].lanes);
        const PlannedBlock* pending = nullptr;
        unsigned pendingLanes = 0;
        for (std::int32_t c = 0; c < blocks; ++c) {
            const std::int32_t j = head + kLanes * c;
            const VI aboveBefore = LaneBefore(above, abovePrevious);
            const VI aboveNext = hn::Load(di, linesAbove[c + 1].lanes);
            const VI aboveAfter = LaneAfter(aboveNext, above);
            const VI aboveSame = above;
            abovePrevious = above;
            above = aboveNext;
            LanePlan plan;
            if (!planner.Plan(j, plan)) {
                m_pixels(r, j, j + kLanes);
                hn::Store(hn::Set(di, -1), di, lines[c].lanes);
                continue;
            }
            if (m_planned - m_gathered > kGatherLag) {
                GatherNext();
            }
            PlannedBlock& block = m_buffers->ring[m_planned++ % kRingBlocks];
            hn::Store(hn::BitCast(DU(), plan.index), DU(), block.index);
            hn::StoreU(hn::DemoteTo(hn::Rebind<std::uint8_t, DI>(), plan.source), hn::Rebind<std::uint8_t, DI>(),
                       block.source);
            block.out = out + j;
            block.control = ControlOf(plan);
            const VI line = hn::BitCast(
                di, hn::ShiftRight<4>(hn::BitCast(DU(), hn::Add(m_baseLow.Lookup(plan.source), plan.index))));
            hn::Store(line, di, lines[c].lanes);
            MI fresh = hn::Ne(line, LaneBefore(line, before));
            before = line;
            if (compareAbove) {
                fresh = hn::And(fresh, hn::And(hn::Ne(line, aboveBefore),
                                               hn::And(hn::Ne(line, aboveSame), hn::Ne(line, aboveAfter))));
            }
            if (pendingLanes) {
                Prefetch(*pending, pendingLanes);
            }
            pending = &block;
            pendingLanes = plan.read & static_cast<unsigned>(LaneBits(DI(), fresh));
        }
        if (pendingLanes) {
            Prefetch(*pending, pendingLanes);
        }
    }

    HWY_INLINE void Prefetch(const PlannedBlock& block, unsigned lanes) const
    {
        for (unsigned left = lanes; left; left &= left - 1) {
            const int k = __builtin_ctz(left);
            hwy::Prefetch(m_base[block.source[k]] + block.index[k]);
        }
    }

    HWY_INLINE void GatherNext()
    {
        const DU du;
        const PlannedBlock& block = m_buffers->ring[m_gathered++ % kRingBlocks];
        const auto pixels = GatherBlock(block, m_base);
        if (kStream) {
            hn::Stream(pixels, du, block.out);
        } else {
            hn::StoreU(pixels, du, block.out);
        }
    }

    Planner& m_planner;
    const std::uint32_t* const* m_base;
    Pixels& m_pixels;
    CImageBuffer& m_dome;
    std::int32_t m_width;
    std::size_t m_lineBlocks;
    Table8 m_baseLow;
    PipelineBuffers* m_buffers;
    std::uint64_t m_planned = 0;
    std::uint64_t m_gathered = 0;
};

template <class Planner, class Pixels>
void RenderBlockRows(Planner& planner, const std::uint32_t* const* base, Pixels& pixels, CImageBuffer& dome,
                     std::int32_t first, std::int32_t end)
{
    if (dome.ImageSize() >= kStreamedDomeBytes) {
        BlockPipeline<true, Planner, Pixels>(planner, base, pixels, dome).Run(first, end);
    } else {
        BlockPipeline<false, Planner, Pixels>(planner, base, pixels, dome).Run(first, end);
    }
}

// Whether every face's pixels can be counted in 31 bits from its first.
bool FitsPixelOffsets(const CubeFaceSources& sources)
{
    for (int k = 0; k < 8; ++k) {
        const std::int64_t last =
            static_cast<std::int64_t>(sources.lastRow[k]) * sources.pitch[k] + sources.lastColumn[k];
        if (last > INT32_MAX) {
            return false;
        }
    }
    return true;
}
#endif

}  // namespace

void RenderFaceMapRows(const FaceMapFrame& frame, std::int32_t first, std::int32_t end, bool& overflowW,
                       bool& overflowH)
{
#if SKELVANE_SIMD_HAS_VECTORS
    if (FitsPixelOffsets(frame.sources) && FaceMapPlanner::Handles(frame)) {
        auto pixels = [&](std::int32_t row, std::int32_t firstColumn, std::int32_t endColumn) {
            FaceMapPixels(frame, row, firstColumn, endColumn, overflowW, overflowH);
        };
        FaceMapPlanner planner(frame);
        RenderBlockRows(planner, frame.sources.bottom, pixels, *frame.dome, first, end);
        overflowW = overflowW || planner.OverflowW();
        overflowH = overflowH || planner.OverflowH();
        return;
    }
#endif
    for (std::int32_t i = first; i < end; ++i) {
        FaceMapPixels(frame, i, 0, frame.outSize, overflowW, overflowH);
    }
}

void RenderPackedRows(const PackedFrame& frame, std::int32_t first, std::int32_t end)
{
#if SKELVANE_SIMD_HAS_VECTORS
    auto pixels = [&](std::int32_t row, std::int32_t firstColumn, std::int32_t endColumn) {
        PackedPixels(frame, row, firstColumn, endColumn);
    };
    PackedPlanner planner(frame);
    RenderBlockRows(planner, frame.base, pixels, *frame.dome, first, end);
#else
    for (std::int32_t i = first; i < end; ++i) {
        PackedPixels(frame, i, 0, frame.outSize);
    }
#endif
}

}  // namespace HWY_NAMESPACE
}  // namespace skelvane
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
namespace skelvane {

HWY_EXPORT(RenderFaceMapRows);
HWY_EXPORT(RenderPackedRows);

FaceMapRowLoop ChooseFaceMapRowLoop()
{
    return SKELVANE_CHOOSE_LOOP(RenderFaceMapRows);
}

PackedRowLoop ChoosePackedRowLoop()
{
    return SKELVANE_CHOOSE_LOOP(RenderPackedRows);
}

}  // namespace skelvane
#endif
