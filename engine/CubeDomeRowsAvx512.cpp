#include "engine/CubeDomeRowsAvx512.h"

#if SKELVANE_CUBE_ROWS_AVX512

#include <immintrin.h>

#include <algorithm>
#include <vector>

#include "engine/CubeDomePixels.h"

#define SKELVANE_AVX512 __attribute__((target("avx2,avx512f,avx512dq,avx512bw,avx512vl")))
#define SKELVANE_INLINE inline __attribute__((always_inline))
// GCC 12's AVX-512 headers start some intrinsics from an undefined register
// and then warn about it.
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"

namespace skelvane {
namespace {

// How far ahead, in blocks of sixteen, the plan fetches map entries: the
// hardware prefetchers stop at every 4 KiB page of the map, and it is read
// too fast for them to catch up.
constexpr std::int32_t kMapBlocksAhead = 40;

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
SKELVANE_INLINE void PrefetchAhead(const void* at, std::size_t bytes)
{
    _mm_prefetch(reinterpret_cast<const char*>(reinterpret_cast<std::uintptr_t>(at) + bytes), _MM_HINT_T0);
}

// A table of eight 32-bit entries, indexed by permutes.
SKELVANE_AVX512 SKELVANE_INLINE __m512i Table8(const void* entries)
{
    return _mm512_maskz_loadu_epi32(0x00FF, entries);
}

// RoundToFacePixel in sixteen lanes, followed by the clamp into the face:
// truncate(min(max(p + 0.5, 0), limit)), with the face size less one and the
// face's last pixel (whichever is smaller) as the limit. Equal to the scalar
// steps as long as the limits are whole numbers a float holds exactly: not
// above 0 (NaN included, which max turns into its second operand) gives 0,
// and truncation commutes with a whole-number limit. The largest p + 0.5 is
// kept in `highest`, for the overflow flag (max passes over NaN likewise).
SKELVANE_AVX512 SKELVANE_INLINE __m512i FacePixel16(__m512 position, __m512 limit, __m512& highest)
{
    const __m512 rounded = _mm512_add_ps(position, _mm512_set1_ps(0.5f));
    highest = _mm512_max_ps(rounded, highest);
    return _mm512_cvttps_epi32(_mm512_min_ps(_mm512_max_ps(rounded, _mm512_setzero_ps()), limit));
}

// What a planner gives for sixteen pixels: per lane its source and its pixel
// counted from the source's first, and which lanes read at all (the others
// are transparent black).
struct LanePlan {
    __m512i index;
    __m512i source;
    __mmask16 read;
};

// The face map, sixteen entries at a time.
class FaceMapPlanner {
public:
    SKELVANE_AVX512 explicit FaceMapPlanner(const FaceMapFrame& frame)
        : m_map(frame.map),
          m_outSize(static_cast<std::size_t>(frame.outSize)),
          m_size(static_cast<float>(frame.faceSize)),
          m_lastRow(Table8(frame.sources.lastRow)),
          m_pitch(Table8(frame.sources.pitch))
    {
        float limitX[8];
        float limitY[8];
        for (int k = 0; k < 8; ++k) {
            limitX[k] = static_cast<float>(std::min(frame.faceSize - 1, frame.sources.lastColumn[k]));
            limitY[k] = static_cast<float>(std::min(frame.faceSize - 1, frame.sources.lastRow[k]));
        }
        m_limitX = _mm512_castsi512_ps(Table8(limitX));
        m_limitY = _mm512_castsi512_ps(Table8(limitY));
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
    SKELVANE_AVX512 SKELVANE_INLINE bool Plan(std::int32_t j, LanePlan& plan)
    {
        // Lanes of u, v and face in three vectors of sixteen entries.
        const __m512i uFirst = _mm512_setr_epi32(0, 3, 6, 9, 12, 15, 18, 21, 24, 27, 30, 0, 0, 0, 0, 0);
        const __m512i uLast = _mm512_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 17, 20, 23, 26, 29);
        const __m512i vFirst = _mm512_setr_epi32(1, 4, 7, 10, 13, 16, 19, 22, 25, 28, 31, 0, 0, 0, 0, 0);
        const __m512i vLast = _mm512_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 18, 21, 24, 27, 30);
        const __m512i fFirst = _mm512_setr_epi32(2, 5, 8, 11, 14, 17, 20, 23, 26, 29, 0, 0, 0, 0, 0, 0);
        const __m512i fLast = _mm512_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 16, 19, 22, 25, 28, 31);
        const float* e = &m_entry[j].u;
        // Sixteen entries are three 64-byte lines.
        constexpr std::size_t kAhead = 16 * sizeof(FaceMapEntry) * kMapBlocksAhead;
        PrefetchAhead(e, kAhead);
        PrefetchAhead(e, kAhead + 64);
        PrefetchAhead(e, kAhead + 128);
        const __m512 e0 = _mm512_loadu_ps(e);
        const __m512 e1 = _mm512_loadu_ps(e + 16);
        const __m512 e2 = _mm512_loadu_ps(e + 32);
        const __m512i face = _mm512_permutex2var_epi32(
            _mm512_permutex2var_epi32(_mm512_castps_si512(e0), fFirst, _mm512_castps_si512(e1)), fLast,
            _mm512_castps_si512(e2));
        if (_mm512_cmpgt_epu32_mask(face, _mm512_set1_epi32(kCubeFaceCount - 1))) {
            return false;
        }
        const __m512 u = _mm512_permutex2var_ps(_mm512_permutex2var_ps(e0, uFirst, e1), uLast, e2);
        const __m512 v = _mm512_permutex2var_ps(_mm512_permutex2var_ps(e0, vFirst, e1), vLast, e2);
        const __m512 outside = _mm512_set1_ps(kOutsideCircle);
        const __m512i x = FacePixel16(u, _mm512_permutexvar_ps(face, m_limitX), m_highestX);
        const __m512i y = FacePixel16(v, _mm512_permutexvar_ps(face, m_limitY), m_highestY);
        const __m512i rowsUp = _mm512_sub_epi32(_mm512_permutexvar_epi32(face, m_lastRow), y);
        plan.index = _mm512_add_epi32(_mm512_mullo_epi32(rowsUp, _mm512_permutexvar_epi32(face, m_pitch)), x);
        plan.source = face;
        plan.read = ~(_mm512_cmp_ps_mask(u, outside, _CMP_EQ_OQ) & _mm512_cmp_ps_mask(v, outside, _CMP_EQ_OQ));
        return true;
    }

    // Whether a position rounded to or beyond the face size.
    SKELVANE_AVX512 bool OverflowW() const { return Beyond(m_highestX); }
    SKELVANE_AVX512 bool OverflowH() const { return Beyond(m_highestY); }

private:
    SKELVANE_AVX512 bool Beyond(__m512 highest) const
    {
        return _mm512_cmp_ps_mask(highest, _mm512_set1_ps(m_size), _CMP_GE_OQ) != 0;
    }

    const FaceMapEntry* m_map;
    std::size_t m_outSize;
    float m_size;
    const FaceMapEntry* m_entry = nullptr;
    __m512 m_limitX;
    __m512 m_limitY;
    __m512i m_lastRow;
    __m512i m_pitch;
    __m512 m_highestX = _mm512_set1_ps(-1.0f);
    __m512 m_highestY = _mm512_set1_ps(-1.0f);
};

// Packed words, sixteen at a time.
class PackedPlanner {
public:
    SKELVANE_AVX512 explicit PackedPlanner(const PackedFrame& frame)
        : m_words(frame.words), m_outSize(static_cast<std::size_t>(frame.outSize)), m_mask(Table8(frame.mask))
    {
    }

    void StartRow(std::int32_t row) { m_word = m_words + static_cast<std::size_t>(row) * m_outSize; }

    SKELVANE_AVX512 SKELVANE_INLINE bool Plan(std::int32_t j, LanePlan& plan)
    {
        PrefetchAhead(m_word + j, 16 * sizeof(std::uint32_t) * kMapBlocksAhead);
        const __m512i w = _mm512_loadu_si512(m_word + j);
        plan.source = _mm512_srli_epi32(w, kPackedSourceShift);
        plan.index = _mm512_and_si512(w, _mm512_permutexvar_epi32(plan.source, m_mask));
        plan.read = 0xFFFF;
        return true;
    }

private:
    const std::uint32_t* m_words;
    std::size_t m_outSize;
    const std::uint32_t* m_word = nullptr;
    __m512i m_mask;
};

// A planned block as the gather reads it. Its control word holds the lanes
// that read in bits 0..15 and, when they all read one source, that source in
// bits 16..18; otherwise kMixedSources, and the gather goes source by source.
constexpr std::uint32_t kMixedSources = 1u << 19;

struct alignas(64) PlannedBlock {
    __m512i index;
    __m128i source;  // one byte a lane
    std::uint32_t* out;
    std::uint32_t control;
};

// Blocks the gather trails the plan by. The face lines a block reads for the
// first time are prefetched when it is planned; this many blocks later they
// have arrived and are still in the first-level cache. Rows follow one
// another without a pause, so the last blocks of a row get the same lead.
constexpr std::uint64_t kGatherLag = 24;
// Planned blocks not yet gathered, in a ring of this many.
constexpr std::uint64_t kRingBlocks = 32;
static_assert(kRingBlocks > kGatherLag && (kRingBlocks & (kRingBlocks - 1)) == 0);

struct alignas(64) BlockLines {
    __m512i lanes;
};

// The ring, and the face line numbers of the last two planned rows (one
// block either side of each row). Kept per thread, as bands follow one
// another on the same threads.
struct PipelineBuffers {
    PlannedBlock ring[kRingBlocks];
    std::vector<BlockLines> lines;
};

// Lanes that do not read count too: a block at the rim of the circle goes
// source by source, which costs less than finding the lanes that read.
SKELVANE_AVX512 SKELVANE_INLINE std::uint32_t ControlOf(const LanePlan& plan)
{
    const __m128i first = _mm512_castsi512_si128(plan.source);
    const bool shared = !_mm512_cmpneq_epi32_mask(plan.source, _mm512_broadcastd_epi32(first));
    return plan.read | (shared ? static_cast<std::uint32_t>(_mm_cvtsi128_si32(first)) << 16 : kMixedSources);
}

// Sixteen pixels read one by one. The gather instruction does the same in
// one, but on processors whose microcode guards gathers against data
// sampling it gives up overlapping the lanes' cache misses and ran three
// times slower (Ice Lake, 2026-12-07) than these loads, which lose little to
// it elsewhere.
SKELVANE_AVX512 SKELVANE_INLINE __m512i GatherBlock(const PlannedBlock& block, const std::uint32_t* const* base)
{
    const auto read = static_cast<__mmask16>(block.control);
    if (!read) {
        return _mm512_setzero_si512();
    }
    const auto* index = reinterpret_cast<const std::uint32_t*>(&block.index);
    alignas(64) std::uint32_t pixels[16];
    if (read == 0xFFFF && !(block.control & kMixedSources)) {
        const std::uint32_t* face = base[(block.control >> 16) & 7];
        for (int k = 0; k < 16; ++k) {
            pixels[k] = face[index[k]];
        }
    } else {
        const auto* source = reinterpret_cast<const std::uint8_t*>(&block.source);
        for (int k = 0; k < 16; ++k) {
            pixels[k] = (read >> k & 1) ? base[source[k]][index[k]] : 0;
        }
    }
    return _mm512_load_si512(pixels);
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
    SKELVANE_AVX512 BlockPipeline(Planner& planner, const std::uint32_t* const* base, Pixels& pixels,
                                  CImageBuffer& dome)
        : m_planner(planner), m_base(base), m_pixels(pixels), m_dome(dome), m_width(dome.GetWidth()),
          m_lineBlocks(static_cast<std::size_t>(m_width) / 16 + 2)
    {
        thread_local PipelineBuffers buffers;
        m_buffers = &buffers;
        buffers.lines.resize(2 * m_lineBlocks);
        std::int32_t lowBits[8];
        for (int k = 0; k < 8; ++k) {
            lowBits[k] = static_cast<std::int32_t>(reinterpret_cast<std::uintptr_t>(base[k]) / 4);
        }
        m_baseLow = Table8(lowBits);
    }

    SKELVANE_AVX512 void Run(std::int32_t first, std::int32_t end)
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
    SKELVANE_AVX512 SKELVANE_INLINE void PlanRow(Planner& planner, std::int32_t r, bool compareAbove)
    {
        std::uint32_t* out = m_dome.Row32(r);
        const std::int32_t head = kStream ? PixelsBeforeLine(out, m_width) : 0;
        const std::int32_t blocks = (m_width - head) / 16;
        m_pixels(r, 0, head);
        m_pixels(r, head + 16 * blocks, m_width);
        planner.StartRow(r);
        BlockLines* lines = m_buffers->lines.data() + 1 + static_cast<std::size_t>(r & 1) * m_lineBlocks;
        const BlockLines* linesAbove = m_buffers->lines.data() + 1 + static_cast<std::size_t>(~r & 1) * m_lineBlocks;
        __m512i before = _mm512_set1_epi32(-1);
        __m512i abovePrevious = linesAbove[-1].lanes;
        __m512i above = linesAbove[0].lanes;
        const PlannedBlock* pending = nullptr;
        __mmask16 pendingLanes = 0;
        for (std::int32_t c = 0; c < blocks; ++c) {
            const std::int32_t j = head + 16 * c;
            const __m512i aboveBefore = _mm512_alignr_epi32(above, abovePrevious, 15);
            const __m512i aboveNext = linesAbove[c + 1].lanes;
            const __m512i aboveAfter = _mm512_alignr_epi32(aboveNext, above, 1);
            const __m512i aboveSame = above;
            abovePrevious = above;
            above = aboveNext;
            LanePlan plan;
            if (!planner.Plan(j, plan)) {
                m_pixels(r, j, j + 16);
                lines[c].lanes = _mm512_set1_epi32(-1);
                continue;
            }
            if (m_planned - m_gathered > kGatherLag) {
                GatherNext();
            }
            PlannedBlock& block = m_buffers->ring[m_planned++ % kRingBlocks];
            block.index = plan.index;
            block.source = _mm512_cvtepi32_epi8(plan.source);
            block.out = out + j;
            block.control = ControlOf(plan);
            const __m512i line =
                _mm512_srli_epi32(_mm512_add_epi32(_mm512_permutexvar_epi32(plan.source, m_baseLow), plan.index), 4);
            lines[c].lanes = line;
            __mmask16 fresh = plan.read & _mm512_cmpneq_epi32_mask(line, _mm512_alignr_epi32(line, before, 15));
            before = line;
            if (compareAbove) {
                fresh &= _mm512_cmpneq_epi32_mask(line, aboveBefore) & _mm512_cmpneq_epi32_mask(line, aboveSame) &
                         _mm512_cmpneq_epi32_mask(line, aboveAfter);
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

    SKELVANE_INLINE void Prefetch(const PlannedBlock& block, __mmask16 lanes) const
    {
        const auto* index = reinterpret_cast<const std::uint32_t*>(&block.index);
        const auto* source = reinterpret_cast<const std::uint8_t*>(&block.source);
        for (unsigned left = lanes; left; left &= left - 1) {
            const int k = __builtin_ctz(left);
            _mm_prefetch(reinterpret_cast<const char*>(m_base[source[k]] + index[k]), _MM_HINT_T0);
        }
    }

    SKELVANE_AVX512 SKELVANE_INLINE void GatherNext()
    {
        const PlannedBlock& block = m_buffers->ring[m_gathered++ % kRingBlocks];
        const __m512i pixels = GatherBlock(block, m_base);
        if (kStream) {
            _mm512_stream_si512(reinterpret_cast<__m512i*>(block.out), pixels);
        } else {
            _mm512_storeu_si512(block.out, pixels);
        }
    }

    Planner& m_planner;
    const std::uint32_t* const* m_base;
    Pixels& m_pixels;
    CImageBuffer& m_dome;
    std::int32_t m_width;
    std::size_t m_lineBlocks;
    PipelineBuffers* m_buffers;
    std::uint64_t m_planned = 0;
    std::uint64_t m_gathered = 0;
    __m512i m_baseLow;  // the low 32 bits of each source's address in pixels
};

template <class Planner, class Pixels>
SKELVANE_AVX512 void RenderRows(Planner& planner, const std::uint32_t* const* base, Pixels& pixels,
                                CImageBuffer& dome, std::int32_t first, std::int32_t end)
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

}  // namespace

bool CpuHasAvx512()
{
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512dq") &&
           __builtin_cpu_supports("avx512bw") && __builtin_cpu_supports("avx512vl");
}

SKELVANE_AVX512 bool RenderFaceMapRowsAvx512(const FaceMapFrame& frame, std::int32_t first, std::int32_t end,
                                             bool& overflowW, bool& overflowH)
{
    if (!FitsPixelOffsets(frame.sources) || !FaceMapPlanner::Handles(frame)) {
        return false;
    }
    auto pixels = [&](std::int32_t row, std::int32_t firstColumn, std::int32_t endColumn) {
        FaceMapPixels(frame, row, firstColumn, endColumn, overflowW, overflowH);
    };
    FaceMapPlanner planner(frame);
    RenderRows(planner, frame.sources.bottom, pixels, *frame.dome, first, end);
    overflowW = overflowW || planner.OverflowW();
    overflowH = overflowH || planner.OverflowH();
    return true;
}

SKELVANE_AVX512 void RenderPackedRowsAvx512(const PackedFrame& frame, std::int32_t first, std::int32_t end)
{
    auto pixels = [&](std::int32_t row, std::int32_t firstColumn, std::int32_t endColumn) {
        PackedPixels(frame, row, firstColumn, endColumn);
    };
    PackedPlanner planner(frame);
    RenderRows(planner, frame.base, pixels, *frame.dome, first, end);
}

}  // namespace skelvane

#endif
