#include "engine/CubeDomeRows.h"

#include <atomic>

#include "engine/CubeDomePixels.h"
#include "engine/CubeDomeRowsAvx512.h"

namespace skelvane {
namespace {

const std::uint32_t kOpaqueBlack = 0xFF000000u;

#if SKELVANE_CUBE_ROWS_AVX512
std::atomic<bool> g_vector{CpuHasAvx512()};
#endif

bool VectorLoopsOn()
{
#if SKELVANE_CUBE_ROWS_AVX512
    return g_vector.load(std::memory_order_relaxed);
#else
    return false;
#endif
}

}  // namespace

CubeFaceSources FaceMapSourcesOf(const CubeFaces& faces)
{
    CubeFaceSources sources{};
    for (int k = 0; k < 8; ++k) {
        const bool usable = k < kCubeFaceCount && !faces[k].IsEmpty() && faces[k].GetBitCount() == 32;
        if (!usable) {
            sources.bottom[k] = &kOpaqueBlack;
            continue;
        }
        const CImageBuffer& face = faces[k];
        sources.bottom[k] = face.Row32(face.GetHeight() - 1);
        sources.lastColumn[k] = face.GetWidth() - 1;
        sources.lastRow[k] = face.GetHeight() - 1;
        sources.pitch[k] = face.Stride() / 4;
    }
    return sources;
}

void RenderFaceMapRows(const FaceMapFrame& frame, std::int32_t first, std::int32_t end, bool& overflowW,
                       bool& overflowH)
{
#if SKELVANE_CUBE_ROWS_AVX512
    if (VectorLoopsOn() && RenderFaceMapRowsAvx512(frame, first, end, overflowW, overflowH)) {
        return;
    }
#endif
    for (std::int32_t i = first; i < end; ++i) {
        FaceMapPixels(frame, i, 0, frame.outSize, overflowW, overflowH);
    }
}

void RenderPackedRows(const PackedFrame& frame, std::int32_t first, std::int32_t end)
{
#if SKELVANE_CUBE_ROWS_AVX512
    if (VectorLoopsOn()) {
        RenderPackedRowsAvx512(frame, first, end);
        return;
    }
#endif
    for (std::int32_t i = first; i < end; ++i) {
        PackedPixels(frame, i, 0, frame.outSize);
    }
}

bool UseVectorCubeRows(bool enable)
{
#if SKELVANE_CUBE_ROWS_AVX512
    g_vector.store(enable && CpuHasAvx512());
#else
    (void)enable;
#endif
    return VectorLoopsOn();
}

}  // namespace skelvane
