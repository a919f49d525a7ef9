#include "engine/projection/CubeDomeRows.h"

namespace skelvane {
namespace {

const std::uint32_t kOpaqueBlack = 0xFF000000u;

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

}  // namespace skelvane
