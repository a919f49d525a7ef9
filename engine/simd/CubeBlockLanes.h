// The block pipeline of engine/projection/CubeDomeRows.h, written once for any number
// of lanes: AVX-512 runs it sixteen pixels to a block
// (engine/simd/CubeDomeRowsAvx512.cpp), AVX2 eight (engine/simd/CubeDomeRowsAvx2.cpp).
//
// Included only by those files, each after defining SKELVANE_LANES_TARGET
// (the processor features its functions are compiled for) and with a lanes
// type `L` of that width:
//   L::kCount                        lanes
//   L::F, L::I                       float and int32 vectors; masks are lane bits
//   L::Set, SetFloat, Table8, Lookup, LookupFloat, Add, Sub, Mullo, And,
//   L::ShiftRight,
//   L::AddF, MaxF, MinF, Truncate, Compare<predicate>, NotEqual
//   L::LoadEntries                   u, v and face of kCount face map entries
//   L::AnyAbove(a, limit)            whether a lane exceeds limit, unsigned
//   L::LaneBefore(a, previous)       a's lanes one up, previous's last in lane 0
//   L::LaneAfter(next, a)            a's lanes one down, next's first last
//   L::SharedFirst(a, first)         whether every lane equals lane 0 (its value)
//   L::Collect(pixel)                a vector of pixel(0) ... pixel(kCount - 1)
//   L::StoreBytes, Load, Store, Stream
#pragma once

#ifndef SKELVANE_LANES_TARGET
#error "define SKELVANE_LANES_TARGET before including engine/simd/CubeBlockLanes.h"
#endif

#include <immintrin.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "engine/projection/CubeDomePixels.h"

#define SKELVANE_INLINE inline __attribute__((always_inline))

namespace skelvane {
namespace {

// How far ahead, in map entries, the plan fetches the map: the hardware
// prefetchers stop at every 4 KiB page of the map, and it is read too fast
// for them to catch up.
constexpr std::size_t kMapEntriesAhead = 640;

// Domes from this size on no longer fit the last-level cache next to the
// faces and the map, so nothing is lost by writing them around it.
constexpr std::int64_t kStreamedDomeBytes = std::int64_t{16} << 20;

// The pixels of a row before its first whole 64-byte line.
inline std::int32_t PixelsBeforeLine(const std::uint32_t* out, std::int32_t width)
{
    const auto misalignment = static_cast<std::int32_t>(reinterpret_cast<std::uintptr_t>(out) & 63);
    return std::min(width, (64 - misalignment) % 64 / 4);
}

// Fetches the line `bytes` past `at` into the cache (which may lie past the
// end of a block: prefetches do not fault).
SKELVANE_INLINE void PrefetchAhead(const void* at, std::size_t bytes)
{
    _mm_prefetch(reinterpret_cast<const char*>(reinterpret_cast<std::uintptr_t>(at) + bytes), _MM_HINT_T0);
}

// Fetches every line of `bytes` bytes that start `ahead` bytes past `at`.
SKELVANE_INLINE void PrefetchSpanAhead(const void* at, std::size_t ahead, std::size_t bytes)
{
    for (std::size_t line = 0; line < bytes; line += 64) {
        PrefetchAhead(at, ahead + line);
    }
}

// RoundToFacePixel in every lane, followed by the clamp into the face:
// truncate(min(max(p + 0.5, 0), limit)), with the face size less one and the
// face's last pixel (whichever is smaller) as the limit. Equal to the scalar
// steps as long as the limits are whole numbers a float holds exactly: not
// above 0 (NaN included, which max turns into its second operand) gives 0,
// and truncation commutes with a whole-number limit. The largest p + 0.5 is
// kept in `highest`, for the overflow flag (max passes over NaN likewise).
template <class L>
SKELVANE_LANES_TARGET SKELVANE_INLINE typename L::I FacePixels(typename L::F position, typename L::F limit,
                                                               typename L::F& highest)
{
    const auto rounded = L::AddF(position, L::SetFloat(0.5f));
    highest = L::MaxF(rounded, highest);
    return L::Truncate(L::MinF(L::MaxF(rounded, L::SetFloat(0.0f)), limit));
}

// What a planner gives for a block: per lane its source and its pixel
// counted from the source's first, and which lanes read at all (the others
// are transparent black).
template <class L>
struct LanePlan {
    typename L::I index;
    typename L::I source;
    unsigned read;
};

// The face map, a block of entries at a time.
template <class L>
class FaceMapPlanner {
public:
    SKELVANE_LANES_TARGET explicit FaceMapPlanner(const FaceMapFrame& frame)
        : m_map(frame.map),
          m_outSize(static_cast<std::size_t>(frame.outSize)),
          m_size(static_cast<float>(frame.faceSize)),
          m_lastRow(L::Table8(frame.sources.lastRow)),
          m_pitch(L::Table8(frame.sources.pitch)),
          m_highestX(L::SetFloat(-1.0f)),
          m_highestY(L::SetFloat(-1.0f))
    {
        float limitX[8];
        float limitY[8];
        for (int k = 0; k < 8; ++k) {
            limitX[k] = static_cast<float>(std::min(frame.faceSize - 1, frame.sources.lastColumn[k]));
            limitY[k] = static_cast<float>(std::min(frame.faceSize - 1, frame.sources.lastRow[k]));
        }
        m_limitX = L::Table8(limitX);
        m_limitY = L::Table8(limitY);
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
    SKELVANE_LANES_TARGET SKELVANE_INLINE bool Plan(std::int32_t j, LanePlan<L>& plan)
    {
        const float* e = &m_entry[j].u;
        PrefetchSpanAhead(e, kMapEntriesAhead * sizeof(FaceMapEntry), L::kCount * sizeof(FaceMapEntry));
        typename L::F u;
        typename L::F v;
        typename L::I face;
        L::LoadEntries(e, u, v, face);
        if (L::AnyAbove(face, kCubeFaceCount - 1)) {
            return false;
        }
        const auto x = FacePixels<L>(u, L::LookupFloat(m_limitX, face), m_highestX);
        const auto y = FacePixels<L>(v, L::LookupFloat(m_limitY, face), m_highestY);
        const auto rowsUp = L::Sub(L::Lookup(m_lastRow, face), y);
        plan.index = L::Add(L::Mullo(rowsUp, L::Lookup(m_pitch, face)), x);
        plan.source = face;
        const auto outside = L::SetFloat(kOutsideCircle);
        plan.read = ~(L::template Compare<_CMP_EQ_OQ>(u, outside) & L::template Compare<_CMP_EQ_OQ>(v, outside)) &
                    ((1u << L::kCount) - 1);
        return true;
    }

    // Whether a position rounded to or beyond the face size.
    SKELVANE_LANES_TARGET bool OverflowW() const { return Beyond(m_highestX); }
    SKELVANE_LANES_TARGET bool OverflowH() const { return Beyond(m_highestY); }

private:
    SKELVANE_LANES_TARGET bool Beyond(typename L::F highest) const
    {
        return L::template Compare<_CMP_GE_OQ>(highest, L::SetFloat(m_size)) != 0;
    }

    const FaceMapEntry* m_map;
    std::size_t m_outSize;
    float m_size;
    const FaceMapEntry* m_entry = nullptr;
    typename L::I m_limitX;  // as float bits
    typename L::I m_limitY;
    typename L::I m_lastRow;
    typename L::I m_pitch;
    typename L::F m_highestX;
    typename L::F m_highestY;
};

// Packed words, a block at a time.
template <class L>
class PackedPlanner {
public:
    SKELVANE_LANES_TARGET explicit PackedPlanner(const PackedFrame& frame)
        : m_words(frame.words), m_outSize(static_cast<std::size_t>(frame.outSize)), m_mask(L::Table8(frame.mask))
    {
    }

    void StartRow(std::int32_t row) { m_word = m_words + static_cast<std::size_t>(row) * m_outSize; }

    SKELVANE_LANES_TARGET SKELVANE_INLINE bool Plan(std::int32_t j, LanePlan<L>& plan)
    {
        PrefetchAhead(m_word + j, kMapEntriesAhead * sizeof(std::uint32_t));
        const auto w = L::Load(m_word + j);
        plan.source = L::ShiftRight(w, kPackedSourceShift);
        plan.index = L::And(w, L::Lookup(m_mask, plan.source));
        plan.read = (1u << L::kCount) - 1;
        return true;
    }

private:
    const std::uint32_t* m_words;
    std::size_t m_outSize;
    const std::uint32_t* m_word = nullptr;
    typename L::I m_mask;
};

// A planned block as the gather reads it. Its control word holds the lanes
// that read in bits 0..15 and, when they all read one source, that source in
// bits 16..18; otherwise kMixedSources, and the gather goes source by source.
constexpr std::uint32_t kMixedSources = 1u << 19;

template <class L>
struct alignas(64) PlannedBlock {
    typename L::I index;
    std::uint8_t source[L::kCount];
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

template <class L>
struct alignas(64) BlockLines {
    typename L::I lanes;
};

// The ring, and the face line numbers of the last two planned rows (one
// block either side of each row). Kept per thread, as bands follow one
// another on the same threads.
template <class L>
struct PipelineBuffers {
    PlannedBlock<L> ring[kRingPixels / L::kCount];
    std::vector<BlockLines<L>> lines;
};

// Lanes that do not read count too: a block at the rim of the circle goes
// source by source, which costs less than finding the lanes that read.
template <class L>
SKELVANE_LANES_TARGET SKELVANE_INLINE std::uint32_t ControlOf(const LanePlan<L>& plan)
{
    std::uint32_t first = 0;
    const bool shared = L::SharedFirst(plan.source, first);
    return plan.read | (shared ? first << 16 : kMixedSources);
}

// A block's pixels read one by one. The gather instruction does the same in
// one, but on processors whose microcode guards gathers against data
// sampling it gives up overlapping the lanes' cache misses and ran three
// times slower (Ice Lake, 2026-12-07) than these loads, which lose little to
// it elsewhere.
template <class L>
SKELVANE_LANES_TARGET SKELVANE_INLINE typename L::I GatherBlock(const PlannedBlock<L>& block,
                                                                const std::uint32_t* const* base)
{
    constexpr unsigned kAll = (1u << L::kCount) - 1;
    const unsigned read = block.control & kAll;
    if (!read) {
        return L::Set(0);
    }
    const auto* index = reinterpret_cast<const std::uint32_t*>(&block.index);
    if (read == kAll && !(block.control & kMixedSources)) {
        const std::uint32_t* face = base[(block.control >> 16) & 7];
        return L::Collect([&](int k) { return face[index[k]]; });
    }
    return L::Collect([&](int k) { return (read >> k & 1) ? base[block.source[k]][index[k]] : 0; });
}

// Rows [first, end) of the dome through `planner`, with pixels(row, firstColumn,
// endColumn) for what it leaves to the one-pixel loop.
//
// A face line is prefetched when a lane reads it and neither the lane before
// nor the three nearest lanes of the row above read it: over a dome, that
// fetches nearly every line the rows read for the first time, at under two
// prefetches per such line. The prefetches of a block are issued while the
// next block is planned, once the block's stores have been made.
template <class L, bool kStream, class Planner, class Pixels>
class BlockPipeline {
public:
    static constexpr std::uint64_t kGatherLag = kGatherLagPixels / L::kCount;
    static constexpr std::uint64_t kRingBlocks = kRingPixels / L::kCount;
    static_assert(kRingBlocks > kGatherLag && (kRingBlocks & (kRingBlocks - 1)) == 0);

    SKELVANE_LANES_TARGET BlockPipeline(Planner& planner, const std::uint32_t* const* base, Pixels& pixels,
                                        CImageBuffer& dome)
        : m_planner(planner), m_base(base), m_pixels(pixels), m_dome(dome), m_width(dome.GetWidth()),
          m_lineBlocks(static_cast<std::size_t>(m_width) / L::kCount + 2)
    {
        thread_local PipelineBuffers<L> buffers;
        m_buffers = &buffers;
        buffers.lines.resize(2 * m_lineBlocks);
        std::int32_t lowBits[8];
        for (int k = 0; k < 8; ++k) {
            lowBits[k] = static_cast<std::int32_t>(reinterpret_cast<std::uintptr_t>(base[k]) / 4);
        }
        m_baseLow = L::Table8(lowBits);
    }

    SKELVANE_LANES_TARGET void Run(std::int32_t first, std::int32_t end)
    {
        Planner planner = m_planner;  // a copy the one-pixel calls cannot reach, kept in registers
        for (std::int32_t r = first; r < end; ++r) {
            PlanRow(planner, r, r > first);
        }
        while (m_gathered < m_planned) {
            GatherNext();
        }
        if (kStream) {
            _mm_sfence();
        }
        m_planner = planner;
    }

private:
    SKELVANE_LANES_TARGET SKELVANE_INLINE void PlanRow(Planner& planner, std::int32_t r, bool compareAbove)
    {
        std::uint32_t* out = m_dome.Row32(r);
        const std::int32_t head = kStream ? PixelsBeforeLine(out, m_width) : 0;
        const std::int32_t blocks = (m_width - head) / L::kCount;
        m_pixels(r, 0, head);
        m_pixels(r, head + L::kCount * blocks, m_width);
        planner.StartRow(r);
        BlockLines<L>* lines = m_buffers->lines.data() + 1 + static_cast<std::size_t>(r & 1) * m_lineBlocks;
        const BlockLines<L>* linesAbove =
            m_buffers->lines.data() + 1 + static_cast<std::size_t>(~r & 1) * m_lineBlocks;
        auto before = L::Set(-1);
        auto abovePrevious = linesAbove[-1].lanes;
        auto above = linesAbove[0].lanes;
        const PlannedBlock<L>* pending = nullptr;
        unsigned pendingLanes = 0;
        for (std::int32_t c = 0; c < blocks; ++c) {
            const std::int32_t j = head + L::kCount * c;
            const auto aboveBefore = L::LaneBefore(above, abovePrevious);
            const auto aboveNext = linesAbove[c + 1].lanes;
            const auto aboveAfter = L::LaneAfter(aboveNext, above);
            const auto aboveSame = above;
            abovePrevious = above;
            above = aboveNext;
            LanePlan<L> plan;
            if (!planner.Plan(j, plan)) {
                m_pixels(r, j, j + L::kCount);
                lines[c].lanes = L::Set(-1);
                continue;
            }
            if (m_planned - m_gathered > kGatherLag) {
                GatherNext();
            }
            PlannedBlock<L>& block = m_buffers->ring[m_planned++ % kRingBlocks];
            block.index = plan.index;
            L::StoreBytes(block.source, plan.source);
            block.out = out + j;
            block.control = ControlOf(plan);
            const auto line = L::ShiftRight(L::Add(L::Lookup(m_baseLow, plan.source), plan.index), 4);
            lines[c].lanes = line;
            unsigned fresh = plan.read & L::NotEqual(line, L::LaneBefore(line, before));
            before = line;
            if (compareAbove) {
                fresh &= L::NotEqual(line, aboveBefore) & L::NotEqual(line, aboveSame) &
                         L::NotEqual(line, aboveAfter);
            }
            if (pendingLanes) {
                Prefetch(*pending, pendingLanes);
            }
            pending = &block;
            pendingLanes = fresh;
        }
        if (pendingLanes) {
            Prefetch(*pending, pendingLanes);
        }
    }

    SKELVANE_INLINE void Prefetch(const PlannedBlock<L>& block, unsigned lanes) const
    {
        const auto* index = reinterpret_cast<const std::uint32_t*>(&block.index);
        for (unsigned left = lanes; left; left &= left - 1) {
            const int k = __builtin_ctz(left);
            _mm_prefetch(reinterpret_cast<const char*>(m_base[block.source[k]] + index[k]), _MM_HINT_T0);
        }
    }

    SKELVANE_LANES_TARGET SKELVANE_INLINE void GatherNext()
    {
        const PlannedBlock<L>& block = m_buffers->ring[m_gathered++ % kRingBlocks];
        const auto pixels = GatherBlock<L>(block, m_base);
        if (kStream) {
            L::Stream(block.out, pixels);
        } else {
            L::Store(block.out, pixels);
        }
    }

    Planner& m_planner;
    const std::uint32_t* const* m_base;
    Pixels& m_pixels;
    CImageBuffer& m_dome;
    std::int32_t m_width;
    std::size_t m_lineBlocks;
    PipelineBuffers<L>* m_buffers;
    std::uint64_t m_planned = 0;
    std::uint64_t m_gathered = 0;
    typename L::I m_baseLow;  // the low 32 bits of each source's address in pixels
};

template <class L, class Planner, class Pixels>
SKELVANE_LANES_TARGET void RenderRows(Planner& planner, const std::uint32_t* const* base, Pixels& pixels,
                                      CImageBuffer& dome, std::int32_t first, std::int32_t end)
{
    if (dome.ImageSize() >= kStreamedDomeBytes) {
        BlockPipeline<L, true, Planner, Pixels>(planner, base, pixels, dome).Run(first, end);
    } else {
        BlockPipeline<L, false, Planner, Pixels>(planner, base, pixels, dome).Run(first, end);
    }
}

// Whether every face's pixels can be counted in 31 bits from its first.
inline bool FitsPixelOffsets(const CubeFaceSources& sources)
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

template <class L>
SKELVANE_LANES_TARGET bool RenderFaceMapRowsWith(const FaceMapFrame& frame, std::int32_t first, std::int32_t end,
                                                 bool& overflowW, bool& overflowH)
{
    if (!FitsPixelOffsets(frame.sources) || !FaceMapPlanner<L>::Handles(frame)) {
        return false;
    }
    auto pixels = [&](std::int32_t row, std::int32_t firstColumn, std::int32_t endColumn) {
        FaceMapPixels(frame, row, firstColumn, endColumn, overflowW, overflowH);
    };
    FaceMapPlanner<L> planner(frame);
    RenderRows<L>(planner, frame.sources.bottom, pixels, *frame.dome, first, end);
    overflowW = overflowW || planner.OverflowW();
    overflowH = overflowH || planner.OverflowH();
    return true;
}

template <class L>
SKELVANE_LANES_TARGET void RenderPackedRowsWith(const PackedFrame& frame, std::int32_t first, std::int32_t end)
{
    auto pixels = [&](std::int32_t row, std::int32_t firstColumn, std::int32_t endColumn) {
        PackedPixels(frame, row, firstColumn, endColumn);
    };
    PackedPlanner<L> planner(frame);
    RenderRows<L>(planner, frame.base, pixels, *frame.dome, first, end);
}

}  // namespace
}  // namespace skelvane
