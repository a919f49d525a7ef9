#include "engine/projection/CubeDomeRows.h"

namespace skelvane {
namespace {

template <class P>
constexpr P kMissingFacePixel = OpaqueBlackPixel<P>();

}  // namespace

template <class P>
CubeFaceSourcesOf<P> FaceMapSourcesOf(const CubeFaces& faces)
{
    CubeFaceSourcesOf<P> sources{};
    for (int k = 0; k < 8; ++k) {
        const bool usable = k < kCubeFaceCount && !faces[k].IsEmpty() &&
                            faces[k].GetBitCount() == static_cast<int>(8 * sizeof(P));
        if (!usable) {
            sources.bottom[k] = &kMissingFacePixel<P>;
            continue;
        }
        const CImageBuffer& face = faces[k];
        sources.bottom[k] = face.RowOf<P>(face.GetHeight() - 1);
        sources.lastColumn[k] = face.GetWidth() - 1;
        sources.lastRow[k] = face.GetHeight() - 1;
        sources.pitch[k] = face.Stride() / static_cast<std::int32_t>(sizeof(P));
    }
    return sources;
}

template CubeFaceSourcesOf<std::uint32_t> FaceMapSourcesOf(const CubeFaces&);
template CubeFaceSourcesOf<Pixel16> FaceMapSourcesOf(const CubeFaces&);
template CubeFaceSourcesOf<PixelF> FaceMapSourcesOf(const CubeFaces&);

}  // namespace skelvane
