#include "engine/projection/FaceGatherMap.h"

#include <algorithm>
#include <atomic>
#include <limits>
#include <memory>
#include <mutex>
#include <new>
#include <type_traits>

#include "engine/projection/CubeDomePixels.h"
#include "engine/projection/CubeDomeRows.h"
#include "engine/projection/CubeDomeView.h"
#include "engine/jobs/ParallelRows.h"
#include "engine/simd/CubeDomeRowsSimd.h"

namespace skelvane {
namespace {

constexpr int kFaceShift = 29;
constexpr std::uint32_t kOffsetMask = (1u << kFaceShift) - 1;
constexpr std::uint32_t kOutsideWord = 7u << kFaceShift;  // "face" 7 reads transparent black

std::uint32_t WordOf(const FaceMapEntry& entry, std::int32_t faceSize, bool& overflowW, bool& overflowH)
{
    if (entry.u == kOutsideCircle && entry.v == kOutsideCircle) {
        return kOutsideWord;
    }
    const std::int32_t x = cube_geometry::RoundToFacePixel(entry.u, faceSize, overflowW);
    const std::int32_t y = cube_geometry::RoundToFacePixel(entry.v, faceSize, overflowH);
    const auto face = static_cast<std::uint32_t>(static_cast<unsigned>(entry.face) % kCubeFaceCount);
    // Rows are stored bottom-up: row y from the top is block row F - 1 - y.
    const auto offset = static_cast<std::uint32_t>((faceSize - 1 - y) * faceSize + x);
    return face << kFaceShift | offset;
}

// The pixels one face gives, as inclusive bounds while they are collected.
struct FaceBounds {
    std::int32_t minX = std::numeric_limits<std::int32_t>::max();
    std::int32_t minY = std::numeric_limits<std::int32_t>::max();
    std::int32_t maxX = -1;
    std::int32_t maxY = -1;

    void Include(std::int32_t x, std::int32_t y)
    {
        minX = std::min(minX, x);
        minY = std::min(minY, y);
        maxX = std::max(maxX, x);
        maxY = std::max(maxY, y);
    }
    void Include(const FaceBounds& other)
    {
        minX = std::min(minX, other.minX);
        minY = std::min(minY, other.minY);
        maxX = std::max(maxX, other.maxX);
        maxY = std::max(maxY, other.maxY);
    }
    PixelRect Rect() const { return maxX < 0 ? PixelRect{} : PixelRect{minX, minY, maxX + 1, maxY + 1}; }
};

}  // namespace

bool CFaceGatherMap::Allocate(std::int32_t faceSize, std::int32_t outSize)
{
    m_words.reset();
    m_used = {};
    if (faceSize < 2 || faceSize > kMaxFaceSize || outSize < 1 || outSize > kMaxDomeSize) {
        return false;
    }
    m_words = std::make_unique_for_overwrite<std::uint32_t[]>(static_cast<std::size_t>(outSize) * outSize);
    m_faceSize = faceSize;
    m_outSize = outSize;
    m_rows = ChoosePackedRowLoop();
    return true;
}

bool CFaceGatherMap::BuildFromView(std::int32_t faceSize, std::int32_t outSize, std::int32_t fov, float tilt,
                                   float pan)
{
    if (!Allocate(faceSize, outSize)) {
        return false;
    }
    std::atomic<bool> overflowW{false};
    std::atomic<bool> overflowH{false};
    cube_geometry::ForEachViewEntry(cube_geometry::MakeCubeView(faceSize, outSize, fov, tilt, pan),
                                    [&](std::size_t n, const FaceMapEntry& entry) {
                                        bool w = false;
                                        bool h = false;
                                        m_words[n] = WordOf(entry, faceSize, w, h);
                                        if (w) {
                                            overflowW.store(true, std::memory_order_relaxed);
                                        }
                                        if (h) {
                                            overflowH.store(true, std::memory_order_relaxed);
                                        }
                                    });
    m_overflowW = overflowW.load();
    m_overflowH = overflowH.load();
    FindUsedRects();
    return true;
}

bool CFaceGatherMap::Build(const FaceMapEntry* map, std::int32_t faceSize, std::int32_t outSize)
{
    if (!map || !Allocate(faceSize, outSize)) {
        return false;
    }
    std::atomic<bool> overflowW{false};
    std::atomic<bool> overflowH{false};
    ForEachRowBand(outSize, outSize, [&](std::int32_t first, std::int32_t end) {
        bool bandW = false;
        bool bandH = false;
        for (std::int32_t i = first; i < end; ++i) {
            const std::size_t row = static_cast<std::size_t>(i) * outSize;
            for (std::int32_t j = 0; j < outSize; ++j) {
                m_words[row + j] = WordOf(map[row + j], faceSize, bandW, bandH);
            }
        }
        if (bandW) {
            overflowW = true;
        }
        if (bandH) {
            overflowH = true;
        }
    });
    m_overflowW = overflowW.load();
    m_overflowH = overflowH.load();
    FindUsedRects();
    return true;
}

void CFaceGatherMap::FindUsedRects()
{
    std::array<FaceBounds, kCubeFaceCount> used;
    std::mutex merge;
    ForEachRowBand(m_outSize, m_outSize, [&](std::int32_t first, std::int32_t end) {
        std::array<FaceBounds, kCubeFaceCount> band;
        for (std::int32_t i = first; i < end; ++i) {
            const std::uint32_t* word = m_words.get() + static_cast<std::size_t>(i) * m_outSize;
            for (std::int32_t j = 0; j < m_outSize; ++j) {
                const std::uint32_t face = word[j] >> kFaceShift;
                if (face < static_cast<std::uint32_t>(kCubeFaceCount)) {
                    const auto offset = static_cast<std::int32_t>(word[j] & kOffsetMask);
                    const std::int32_t blockRow = offset / m_faceSize;
                    band[face].Include(offset - blockRow * m_faceSize, m_faceSize - 1 - blockRow);
                }
            }
        }
        std::lock_guard lock(merge);
        for (int k = 0; k < kCubeFaceCount; ++k) {
            used[k].Include(band[k]);
        }
    });
    for (int k = 0; k < kCubeFaceCount; ++k) {
        m_used[k] = used[k].Rect();
    }
}

bool CFaceGatherMap::Accepts(const CubeFaces& faces) const
{
    if (!m_words) {
        return false;
    }
    const int bitCount = BitCountOf(CubeFacesChannelType(faces));
    for (const CImageBuffer& face : faces) {
        if (!face.IsEmpty() && (face.GetBitCount() != bitCount || face.GetWidth() != m_faceSize ||
                                face.GetHeight() != m_faceSize || face.Stride() != face.BytesPerPixel() * m_faceSize)) {
            return false;
        }
    }
    return true;
}

void CFaceGatherMap::RenderRows(const CubeFaces& faces, std::int32_t first, std::int32_t end, CImageBuffer& target,
                                std::int32_t targetFirst) const
{
    static_assert(kFaceShift == kPackedSourceShift);
    WithPixelType(target.GetChannelType(), [&]<class P>(P*) {
        static constexpr P kOpaqueBlack = OpaqueBlackPixel<P>();
        static constexpr P kTransparentBlack{};
        // Per "face" 0..7: where its pixels start and which offsets are real.
        // An empty face and the outside word read one fixed pixel. The loops
        // take a target row for a row of words: the words start where the
        // dome's row `first` lands on the target's row `targetFirst`.
        const std::uint32_t* words =
            m_words.get() + (static_cast<std::ptrdiff_t>(first) - targetFirst) * static_cast<std::ptrdiff_t>(m_outSize);
        PackedFrameOf<P> frame{words, m_outSize, {}, {}, &target};
        for (int k = 0; k < 8; ++k) {
            const bool usable = k < kCubeFaceCount && !faces[k].IsEmpty();
            frame.base[k] = usable ? reinterpret_cast<const P*>(faces[k].Bits())
                                   : (k == 7 ? &kTransparentBlack : &kOpaqueBlack);
            frame.mask[k] = usable ? kOffsetMask : 0;
        }
        const std::int32_t targetEnd = targetFirst + (end - first);
        if constexpr (std::is_same_v<P, std::uint32_t>) {
            m_rows(frame, targetFirst, targetEnd);
        } else {
            // Deep pixels are copied whole, a pixel at a time: the faces'
            // decoding, not this copy, is what a deep frame waits for.
            for (std::int32_t i = targetFirst; i < targetEnd; ++i) {
                PackedPixels(frame, i, 0, m_outSize);
            }
        }
    });
}

void CFaceGatherMap::ReportOverflows(CMessageReporter& reporter) const
{
    if (m_overflowW) {
        reporter.ShowMessage("Overflow-w");
    }
    if (m_overflowH) {
        reporter.ShowMessage("Overflow-h");
    }
}

std::unique_ptr<CImageBuffer> CFaceGatherMap::Render(const CubeFaces& faces, CMessageReporter& reporter) const
{
    if (!Accepts(faces)) {
        return nullptr;  // the offsets would not fit these faces
    }
    try {
        auto dome = std::make_unique<CImageBuffer>();
        dome->Create(m_outSize, m_outSize, CubeFacesChannelType(faces), BlockContents::Unspecified);
        ForEachRowBand(m_outSize, m_outSize, kCubeRowsPerBand, [&](std::int32_t first, std::int32_t end) {
            RenderRows(faces, first, end, *dome, first);
        });
        ReportOverflows(reporter);
        return dome;
    } catch (const std::bad_alloc&) {
        reporter.ShowMessage(kOutOfMemoryText);
    }
    return nullptr;
}

std::unique_ptr<CBandedImage> CFaceGatherMap::RenderInBands(const CubeFaces& faces, std::int32_t bandRows,
                                                            CMessageReporter& reporter) const
{
    if (!Accepts(faces)) {
        return nullptr;
    }
    try {
        auto dome = std::make_unique<CBandedImage>(
            m_outSize, m_outSize, CubeFacesChannelType(faces), bandRows,
            [this, &faces](std::int32_t first, std::int32_t end, CImageBuffer& band) {
                // A band on all cores: a still, or a machine with more cores
                // than frames in flight, would otherwise render on one.
                ForEachRowBand(end - first, m_outSize, [&](std::int32_t top, std::int32_t bottom) {
                    RenderRows(faces, first + top, first + bottom, band, top);
                });
            });
        ReportOverflows(reporter);
        return dome;
    } catch (const std::bad_alloc&) {
        reporter.ShowMessage(kOutOfMemoryText);
    }
    return nullptr;
}

}  // namespace skelvane
