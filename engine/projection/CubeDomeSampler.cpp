#include "engine/projection/CubeDomeSampler.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <memory>
#include <mutex>
#include <new>
#include <type_traits>

#include "engine/jobs/ParallelRows.h"
#include "engine/projection/CubeDomeView.h"
#include "engine/simd/CubeSampleRowsSimd.h"

namespace skelvane {
namespace {

constexpr std::uint32_t kTransparentBlack = 0x00000000u;
constexpr std::uint32_t kOpaqueBlack = 0xFF000000u;

// A missing face is read from a patch of 4 x 4 texels of one colour, which
// every tap window fits when its start is clamped to the patch's first texel.
constexpr std::int32_t kPatchSide = 4;
constexpr std::int32_t kPatchTexels = kPatchSide * kPatchSide;

bool IsUsableFace(const CImageBuffer& face)
{
    return !face.IsEmpty() && (face.GetBitCount() == 32 || face.IsDeep());
}

PixelRect Intersect(const PixelRect& a, const PixelRect& b)
{
    return {std::max(a.left, b.left), std::max(a.top, b.top), std::min(a.right, b.right),
            std::min(a.bottom, b.bottom)};
}

PixelRect Union(const PixelRect& a, const PixelRect& b)
{
    if (a.IsEmpty()) {
        return b;
    }
    if (b.IsEmpty()) {
        return a;
    }
    return {std::min(a.left, b.left), std::min(a.top, b.top), std::max(a.right, b.right),
            std::max(a.bottom, b.bottom)};
}

std::int64_t Area(const PixelRect& rect)
{
    return rect.IsEmpty() ? 0 : static_cast<std::int64_t>(rect.right - rect.left) * (rect.bottom - rect.top);
}

// A deep texel in the units of a dome of channel type `dome` (16-bit or
// float): the same widening as CopyAtChannelType's, so that a render of
// shallower faces equals the render of their widened copies.
CubeDeepTexel DeepTexelOf(std::uint32_t word, ChannelType dome)
{
    if (dome == ChannelType::Uint16) {
        const Pixel16 p = Pixel16OfWord(word);
        return {static_cast<float>(p.blue), static_cast<float>(p.green), static_cast<float>(p.red),
                static_cast<float>(p.alpha)};
    }
    return PixelFOfWord(word);
}

CubeDeepTexel DeepTexelOf(const Pixel16& p, ChannelType dome)
{
    if (dome == ChannelType::Uint16) {
        return {static_cast<float>(p.blue), static_cast<float>(p.green), static_cast<float>(p.red),
                static_cast<float>(p.alpha)};
    }
    return PixelFOf16(p);
}

CubeDeepTexel DeepTexelOf(const PixelF& p, ChannelType)
{
    return p;
}

// Face texel (x, y), clamped into the face, as a texel of the block.
template <class Texel>
Texel TexelAt(const CImageBuffer& face, std::int32_t x, std::int32_t y, ChannelType dome)
{
    if constexpr (std::is_same_v<Texel, std::uint32_t>) {
        return face.GetPixel(x, y);
    } else {
        x = std::clamp(x, 0, face.GetWidth() - 1);
        y = std::clamp(y, 0, face.GetHeight() - 1);
        return WithPixelType(face.GetChannelType(),
                             [&]<class P>(P*) { return DeepTexelOf(face.RowOf<P>(y)[x], dome); });
    }
}

// Texels [left, right) of face row y into `to`.
template <class Texel>
void CopyFaceRow(const CImageBuffer& face, std::int32_t y, std::int32_t left, std::int32_t right, ChannelType dome,
                 Texel* to)
{
    if constexpr (std::is_same_v<Texel, std::uint32_t>) {
        std::memcpy(to, face.Row32(y) + left, static_cast<std::size_t>(right - left) * 4);
    } else {
        WithPixelType(face.GetChannelType(), [&]<class P>(P*) {
            const P* row = face.RowOf<P>(y);
            for (std::int32_t x = left; x < right; ++x) {
                to[x - left] = DeepTexelOf(row[x], dome);
            }
        });
    }
}

// A border texel of deep faces: the 2 x 2 texels blended, not rounded.
CubeDeepTexel BlendTexels(const CubeDeepTexel& p00, const CubeDeepTexel& p01, const CubeDeepTexel& p10,
                          const CubeDeepTexel& p11, float fx, float fy)
{
    auto channel = [&](float CubeDeepTexel::*c) {
        const float top = p00.*c + (p01.*c - p00.*c) * fx;
        const float bottom = p10.*c + (p11.*c - p10.*c) * fx;
        return top + (bottom - top) * fy;
    };
    return {channel(&CubeDeepTexel::blue), channel(&CubeDeepTexel::green), channel(&CubeDeepTexel::red),
            channel(&CubeDeepTexel::alpha)};
}

std::uint32_t BlendTexels(std::uint32_t p00, std::uint32_t p01, std::uint32_t p10, std::uint32_t p11, float fx,
                          float fy)
{
    std::uint32_t pixel = 0;
    for (int shift = 0; shift < 32; shift += 8) {
        auto channel = [&](std::uint32_t p) { return static_cast<float>(p >> shift & 0xFFu); };
        const float top = channel(p00) + (channel(p01) - channel(p00)) * fx;
        const float bottom = channel(p10) + (channel(p11) - channel(p10)) * fx;
        const auto value = static_cast<std::uint32_t>(top + (bottom - top) * fy + 0.5f);
        pixel |= std::min(value, 255u) << shift;
    }
    return pixel;
}

}  // namespace

std::string_view CubeFilterName(CubeFilter filter)
{
    switch (filter) {
    case CubeFilter::Bilinear:
        return "bilinear";
    case CubeFilter::Bicubic:
        return "bicubic";
    case CubeFilter::Nearest:
    default:
        return "nearest";
    }
}

std::optional<CubeFilter> CubeFilterNamed(std::string_view name)
{
    for (CubeFilter filter : kCubeFilters) {
        if (CubeFilterName(filter) == name) {
            return filter;
        }
    }
    return std::nullopt;
}

CubeSampleReach CubeSampleReach::None()
{
    CubeSampleReach reach;
    for (int k = 0; k < kCubeFaceCount; ++k) {
        reach.lowX[k] = reach.lowY[k] = std::numeric_limits<std::int32_t>::max();
        reach.highX[k] = reach.highY[k] = std::numeric_limits<std::int32_t>::min();
    }
    return reach;
}

void CubeSampleReach::Include(const CubeSampleReach& other)
{
    for (int k = 0; k < kCubeFaceCount; ++k) {
        lowX[k] = std::min(lowX[k], other.lowX[k]);
        highX[k] = std::max(highX[k], other.highX[k]);
        lowY[k] = std::min(lowY[k], other.lowY[k]);
        highY[k] = std::max(highY[k], other.highY[k]);
    }
}

bool CCubeDomeSampler::Plan(std::int32_t faceSize, std::int32_t outSize, std::int32_t fov, float tilt, float pan,
                            CubeSampling sampling)
{
    m_planned = false;
    m_held = {};
    m_used = {};
    m_borders.clear();
    m_tapRows.clear();
    m_tapBlocks.reset();
    m_tapBlockCount = 0;
    m_tapRowsAhead = {};
    const int s = sampling.supersample;
    // Every texel of the block, borders included, is counted in 31 bits.
    constexpr std::int64_t kMaxTexels = std::numeric_limits<std::int32_t>::max() - 2 * kPatchTexels;
    const std::int64_t side = std::int64_t{faceSize} + 2 * FaceBorder(sampling.filter);
    if (faceSize < 2 || outSize < 1 || outSize > kMaxDomeSize || s < 1 || s > kMaxSupersample ||
        kCubeFaceCount * side * side > kMaxTexels) {
        return false;
    }

    const cube_geometry::CubeView cube = cube_geometry::MakeCubeView(faceSize, outSize, fov, tilt, pan);
    const float k = static_cast<float>(fov) * cube_geometry::kPi / 360.0f / cube.halfFace;
    m_view = CubeSampleView{faceSize,
                            outSize,
                            sampling.filter,
                            s,
                            static_cast<float>(outSize - 1) / 2.0f,
                            static_cast<float>(faceSize) / static_cast<float>(outSize),
                            cube.halfFace,
                            cube.halfFace * cube.halfFace,
                            k * k,
                            cube.halfFace * k,
                            cube.cosTilt,
                            cube.sinTilt,
                            cube.cosPan,
                            cube.sinPan,
                            {},
                            1.0f / static_cast<float>(s * s)};
    for (int b = 0; b < s; ++b) {
        m_view.offsets[b] = static_cast<float>(2 * b + 1 - s) / static_cast<float>(2 * s);
    }

    CubeSampleReach reach = CubeSampleReach::None();
    std::mutex merge;
    const CubeReachRowLoop rows = ChooseCubeReachRowLoop();
    ForEachRowBand(outSize, std::int64_t{outSize} * s * s, [&](std::int32_t first, std::int32_t end) {
        CubeSampleReach band = CubeSampleReach::None();
        rows(m_view, first, end, band);
        std::lock_guard lock(merge);
        reach.Include(band);
    });

    const std::int32_t window = TapWindow(sampling.filter);
    const std::int32_t border = FaceBorder(sampling.filter);
    const PixelRect extended{-border, -border, faceSize + border, faceSize + border};
    for (int face = 0; face < kCubeFaceCount; ++face) {
        if (reach.Reads(face)) {
            m_held[face] = Intersect({reach.lowX[face], reach.lowY[face], reach.highX[face] + window,
                                      reach.highY[face] + window},
                                     extended);
            m_used[face] = Intersect(m_held[face], {0, 0, faceSize, faceSize});
        }
    }
    PlanBorders();
    PlanTapTable();
    m_planned = true;
    return true;
}

void CCubeDomeSampler::PlanTapTable()
{
    if (m_view.supersample != 1 || m_view.filter == CubeFilter::Nearest || m_tapBudget <= 0) {
        return;
    }
    CubeHeldFaces held{};
    const std::int32_t window = TapWindow(m_view.filter);
    for (int k = 0; k < kCubeFaceCount; ++k) {
        const PixelRect& rect = m_held[k];
        if (rect.IsEmpty()) {
            continue;
        }
        // A window's offset within what a face holds has 29 bits.
        if (Area(rect) > std::int64_t{kCubeTapOffsetMask}) {
            return;
        }
        held.left[k] = rect.left;
        held.top[k] = rect.top;
        held.pitch[k] = rect.right - rect.left;
        held.highX[k] = std::max(rect.left, rect.right - window);
        held.highY[k] = std::max(rect.top, rect.bottom - window);
    }
    const std::int32_t size = m_view.outSize;
    try {
        m_tapRows.resize(static_cast<std::size_t>(size));
        const CubeTapSpanRowLoop spans = ChooseCubeTapSpanRowLoop();
        ForEachRowBand(size, size / 8,
                       [&](std::int32_t first, std::int32_t end) { spans(m_view, first, end, m_tapRows.data()); });
        std::int64_t blocks = 0;
        for (CubeTapRow& row : m_tapRows) {
            row.start = blocks;
            blocks += row.end - row.first;
        }
        const std::int64_t bytes = blocks * static_cast<std::int64_t>(sizeof(CubeTapBlock)) +
                                   size * static_cast<std::int64_t>(sizeof(CubeTapRow));
        if (bytes > m_tapBudget) {
            m_tapRows.clear();
            return;
        }
        m_tapBlocks = std::make_unique_for_overwrite<CubeTapBlock[]>(static_cast<std::size_t>(std::max<std::int64_t>(blocks, 1)));
        m_tapBlockCount = blocks;
    } catch (const std::bad_alloc&) {
        // Frames then project every pixel, as without a table.
        m_tapRows.clear();
        m_tapBlocks.reset();
        m_tapBlockCount = 0;
        return;
    }
    const CubeTapFillRowLoop fill = ChooseCubeTapFillRowLoop();
    ForEachRowBand(size, size, [&](std::int32_t first, std::int32_t end) {
        fill(m_view, held, first, end, m_tapRows.data(), m_tapBlocks.get());
    });
    PlanTapPrefetch();
}

void CCubeDomeSampler::PlanTapPrefetch()
{
    // Whether going down the dome goes down or up each face, by a vote of
    // pixels and the pixels below them, every eighth row: the direction is
    // the view's and changes little within a face.
    std::array<std::int64_t, kCubeFaceCount> votes{};
    const auto size = static_cast<std::int32_t>(m_tapRows.size());
    for (std::int32_t i = 0; i + 1 < size; i += 8) {
        const CubeTapRow& upper = m_tapRows[static_cast<std::size_t>(i)];
        const CubeTapRow& lower = m_tapRows[static_cast<std::size_t>(i) + 1];
        for (std::int32_t column = std::max(upper.first, lower.first); column < std::min(upper.end, lower.end);
             ++column) {
            const CubeTapBlock& a = m_tapBlocks[static_cast<std::size_t>(upper.start + column - upper.first)];
            const CubeTapBlock& b = m_tapBlocks[static_cast<std::size_t>(lower.start + column - lower.first)];
            for (int e = 0; e < kCubeTapBlock; ++e) {
                const std::uint32_t face = a.window[e] >> kCubeTapFaceShift;
                if (face >= kCubeFaceCount || b.window[e] >> kCubeTapFaceShift != face) {
                    continue;
                }
                const std::int64_t pitch = m_held[face].right - m_held[face].left;
                const std::int64_t step = std::int64_t{b.window[e] & kCubeTapOffsetMask} -
                                          std::int64_t{a.window[e] & kCubeTapOffsetMask};
                if (step >= pitch / 2) {
                    ++votes[face];
                } else if (step <= -pitch / 2) {
                    --votes[face];
                }
            }
        }
    }
    // A few rows beyond the window, far enough ahead for memory to answer
    // (measured at 4096² from 2048² faces: 8 to 16 rows alike).
    const std::int32_t ahead = TapWindow(m_view.filter) + 8;
    m_tapRowsAhead = {};
    for (int k = 0; k < kCubeFaceCount; ++k) {
        m_tapRowsAhead[k] = votes[k] < 0 ? -ahead : ahead;
    }
}

std::int64_t CCubeDomeSampler::TapTableBytes() const
{
    return m_tapRows.empty() ? 0
                             : m_tapBlockCount * static_cast<std::int64_t>(sizeof(CubeTapBlock)) +
                                   static_cast<std::int64_t>(m_tapRows.size() * sizeof(CubeTapRow));
}

void CCubeDomeSampler::PlanBorders()
{
    const std::int32_t size = m_view.faceSize;
    const float R = m_view.halfFace;
    for (int face = 0; face < kCubeFaceCount; ++face) {
        const PixelRect& held = m_held[face];
        for (std::int32_t y = held.top; y < held.bottom; ++y) {
            for (std::int32_t x = held.left; x < held.right; ++x) {
                if (x >= 0 && x < size && y >= 0 && y < size) {
                    continue;
                }
                const Direction d = cube_geometry::FaceToDirection(face, static_cast<float>(x),
                                                                   static_cast<float>(y), R);
                const FaceMapEntry seen = cube_geometry::DirectionToCubeFace(d, R);
                const float u = std::clamp(seen.u, 0.0f, static_cast<float>(size - 1));
                const float v = std::clamp(seen.v, 0.0f, static_cast<float>(size - 1));
                const std::int32_t sourceX = std::min(static_cast<std::int32_t>(u), size - 2);
                const std::int32_t sourceY = std::min(static_cast<std::int32_t>(v), size - 2);
                const int source = static_cast<int>(static_cast<unsigned>(seen.face) % kCubeFaceCount);
                m_borders.push_back({x, y, sourceX, sourceY, u - static_cast<float>(sourceX),
                                     v - static_cast<float>(sourceY), static_cast<std::int8_t>(face),
                                     static_cast<std::int8_t>(source)});
                m_used[source] = Union(m_used[source], {sourceX, sourceY, sourceX + 2, sourceY + 2});
            }
        }
    }
}

CSampledFaces CCubeDomeSampler::Prepare(const CubeFaces& faces) const
{
    CSampledFaces sampled;
    if (!m_planned) {
        return sampled;
    }
    sampled.m_type = CubeFacesChannelType(faces);
    if (sampled.m_type == ChannelType::Uint8) {
        PrepareAs(faces, sampled.m_type, sampled.m_block, sampled.m_sources);
    } else {
        PrepareAs(faces, sampled.m_type, sampled.m_block, sampled.m_deepSources);
    }
    return sampled;
}

template <class Texel>
void CCubeDomeSampler::PrepareAs(const CubeFaces& faces, ChannelType dome, PixelBlock& storage,
                                 CubeSampleSourcesOf<Texel>& sources) const
{
    const std::int32_t size = m_view.faceSize;
    const std::int32_t window = TapWindow(m_view.filter);
    std::array<bool, kCubeFaceCount> usable{};
    std::array<std::int64_t, kCubeFaceCount> offset{};
    std::int64_t texels = 0;
    for (int k = 0; k < kCubeFaceCount; ++k) {
        usable[k] = IsUsableFace(faces[k]);
        offset[k] = texels;
        if (usable[k]) {
            texels += Area(m_held[k]);
        }
    }
    const std::int64_t patch = texels;
    texels += kPatchTexels;
    storage = AllocatePixelBlock(texels * static_cast<std::int64_t>(sizeof(Texel)), BlockContents::Unspecified);
    auto* block = reinterpret_cast<Texel*>(storage.get());
    Texel missing{};
    if (m_view.filter == CubeFilter::Nearest) {
        if constexpr (std::is_same_v<Texel, std::uint32_t>) {
            missing = kOpaqueBlack;
        } else {
            missing = DeepTexelOf(kOpaqueBlack, dome);
        }
    }
    std::fill(block + patch, block + patch + kPatchTexels, missing);

    sources.texels = block;
    for (int k = 0; k < 8; ++k) {
        const bool held = k < kCubeFaceCount && usable[k] && !m_held[k].IsEmpty();
        if (!held) {
            sources.origin[k] = static_cast<std::int32_t>(patch);
            sources.pitch[k] = kPatchSide;
            sources.lowX[k] = sources.highX[k] = sources.lowY[k] = sources.highY[k] = 0;
            continue;
        }
        const PixelRect& rect = m_held[k];
        const std::int32_t pitch = rect.right - rect.left;
        sources.origin[k] = static_cast<std::int32_t>(offset[k] - std::int64_t{rect.top} * pitch - rect.left);
        sources.pitch[k] = pitch;
        sources.lowX[k] = rect.left;
        sources.highX[k] = std::max(rect.left, rect.right - window);
        sources.lowY[k] = rect.top;
        sources.highY[k] = std::max(rect.top, rect.bottom - window);
    }
    auto texel = [&](int k, std::int32_t x, std::int32_t y) -> Texel& {
        return block[sources.origin[k] + static_cast<std::int64_t>(y) * sources.pitch[k] + x];
    };

    // What each face gives itself.
    for (int k = 0; k < kCubeFaceCount; ++k) {
        const PixelRect inside = Intersect(m_held[k], {0, 0, size, size});
        if (!usable[k] || inside.IsEmpty()) {
            continue;
        }
        const CImageBuffer& face = faces[k];
        const bool whole = face.GetWidth() == size && face.GetHeight() == size;
        ForEachRowBand(inside.bottom - inside.top, inside.right - inside.left,
                       [&](std::int32_t first, std::int32_t end) {
                           for (std::int32_t y = inside.top + first; y < inside.top + end; ++y) {
                               Texel* to = &texel(k, inside.left, y);
                               if (whole) {
                                   CopyFaceRow(face, y, inside.left, inside.right, dome, to);
                               } else {
                                   for (std::int32_t x = inside.left; x < inside.right; ++x) {
                                       to[x - inside.left] = TexelAt<Texel>(face, x, y, dome);
                                   }
                               }
                           }
                       });
    }
    // What the neighbours give beyond the edges.
    for (const BorderTexel& b : m_borders) {
        if (!usable[b.face]) {
            continue;
        }
        const CImageBuffer& source = faces[b.source];
        texel(b.face, b.x, b.y) =
            usable[b.source]
                ? BlendTexels(TexelAt<Texel>(source, b.sourceX, b.sourceY, dome),
                              TexelAt<Texel>(source, b.sourceX + 1, b.sourceY, dome),
                              TexelAt<Texel>(source, b.sourceX, b.sourceY + 1, dome),
                              TexelAt<Texel>(source, b.sourceX + 1, b.sourceY + 1, dome), b.fractionX, b.fractionY)
                : missing;
    }
}

CCubeDomeSampler::RowRender CCubeDomeSampler::RowsOf(const CSampledFaces& faces) const
{
    if (!m_tapRows.empty()) {
        CubeTapTableView table{m_tapRows.data(), m_tapBlocks.get(), {}};
        std::copy(m_tapRowsAhead.begin(), m_tapRowsAhead.end(), table.rowsAhead);
        if (faces.Type() == ChannelType::Uint8) {
            return [this, &faces, table, rows = ChooseCubeTapSampleRowLoop()](
                       std::int32_t first, std::int32_t end, CImageBuffer& target, std::int32_t targetFirst) {
                rows(m_view, table, faces.Sources(), target, first, end, targetFirst);
            };
        }
        return [this, &faces, table, rows = ChooseCubeDeepTapSampleRowLoop()](
                   std::int32_t first, std::int32_t end, CImageBuffer& target, std::int32_t targetFirst) {
            rows(m_view, table, faces.DeepSources(), target, first, end, targetFirst);
        };
    }
    if (faces.Type() == ChannelType::Uint8) {
        return [this, &faces, rows = ChooseCubeSampleRowLoop()](std::int32_t first, std::int32_t end,
                                                                 CImageBuffer& target, std::int32_t targetFirst) {
            rows(m_view, faces.Sources(), target, first, end, targetFirst);
        };
    }
    return [this, &faces, rows = ChooseCubeDeepSampleRowLoop()](std::int32_t first, std::int32_t end,
                                                                 CImageBuffer& target, std::int32_t targetFirst) {
        rows(m_view, faces.DeepSources(), target, first, end, targetFirst);
    };
}

std::unique_ptr<CImageBuffer> CCubeDomeSampler::Render(const CSampledFaces& faces, CMessageReporter& reporter) const
{
    if (!m_planned || !faces.m_block) {
        return nullptr;
    }
    return ReportRenderFailures(reporter, [&] {
        auto dome = std::make_unique<CImageBuffer>();
        // Every pixel is written.
        dome->Create(m_view.outSize, m_view.outSize, faces.Type(), BlockContents::Unspecified);
        const int s = m_view.supersample;
        const RowRender rows = RowsOf(faces);
        ForEachRowBand(m_view.outSize, std::int64_t{m_view.outSize} * s * s,
                       [&](std::int32_t first, std::int32_t end) { rows(first, end, *dome, first); });
        return dome;
    });
}

std::unique_ptr<CBandedImage> CCubeDomeSampler::RenderInBands(const CSampledFaces& faces, std::int32_t bandRows,
                                                              CMessageReporter& reporter) const
{
    if (!m_planned || !faces.m_block) {
        return nullptr;
    }
    return ReportRenderFailures(reporter, [&] {
        return std::make_unique<CBandedImage>(
            m_view.outSize, m_view.outSize, faces.Type(), bandRows,
            [rows = RowsOf(faces), pixelsPerRow = std::int64_t{m_view.outSize} * m_view.supersample *
                                                  m_view.supersample](std::int32_t first, std::int32_t end,
                                                                      CImageBuffer& band) {
                // A band on all cores, as a whole render is: a still, or a
                // machine with more cores than frames in flight, would
                // otherwise render on one.
                ForEachRowBand(end - first, pixelsPerRow, [&](std::int32_t top, std::int32_t bottom) {
                    rows(first + top, first + bottom, band, top);
                });
            });
    });
}

std::unique_ptr<CImageBuffer> CCubeDomeSampler::Render(const CubeFaces& faces, CMessageReporter& reporter) const
{
    if (!m_planned) {
        return nullptr;
    }
    try {
        return Render(Prepare(faces), reporter);
    } catch (const std::bad_alloc&) {
        reporter.ShowMessage(kOutOfMemoryText);
    }
    return nullptr;
}

}  // namespace skelvane
