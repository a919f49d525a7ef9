#include "engine/projection/CubeDomeRows.h"

#include "engine/projection/CubeDomePixels.h"
#include "engine/simd/CubeDomeRowsAvx2.h"
#include "engine/simd/CubeDomeRowsAvx512.h"
#include "engine/simd/LoopSwitch.h"

namespace skelvane {
namespace {

const std::uint32_t kOpaqueBlack = 0xFF000000u;

#if SKELVANE_CUBE_ROWS_AVX512
LoopSwitch g_avx2{CpuHasAvx2};
LoopSwitch g_avx512{CpuHasAvx512};
#else
LoopSwitch g_avx2{nullptr};
LoopSwitch g_avx512{nullptr};
#endif

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
    if (g_avx512.On() && RenderFaceMapRowsAvx512(frame, first, end, overflowW, overflowH)) {
        return;
    }
    if (g_avx2.On() && RenderFaceMapRowsAvx2(frame, first, end, overflowW, overflowH)) {
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
    if (g_avx512.On()) {
        RenderPackedRowsAvx512(frame, first, end);
        return;
    }
    if (g_avx2.On()) {
        RenderPackedRowsAvx2(frame, first, end);
        return;
    }
#endif
    for (std::int32_t i = first; i < end; ++i) {
        PackedPixels(frame, i, 0, frame.outSize);
    }
}

bool UseCubeRowLoop(PixelLoop loop)
{
    return UsePixelLoop(loop, g_avx2, g_avx512);
}

}  // namespace skelvane
