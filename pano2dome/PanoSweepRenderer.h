// The frame renderer of the Pano2Dome sweep: the pixels of
// CPanoDomeProjector::RenderPanoDome, bit for bit, made sixteen at a time.
//
// A sweep renders the same map at many pans, and that render is most of a
// frame's cost. The projector blends in double precision, one pixel at a
// time. Here (on processors with AVX-512):
// 1. Sixteen pixels are estimated at once in single precision: column (map x
//    plus the pan shift, wrapped as the projector wraps it), whole parts and
//    fractions (exact in single precision for whole parts of 1 and more),
//    the cubic weights, and each pixel's 4 x 4 neighbourhood read as four
//    16-byte loads.
// 2. The estimate's error is below 1/1024, so every channel total further
//    than that from a rounding step rounds as the double-precision total
//    does. The other pixels (about one in a hundred), those at the
//    panorama's edges, unusual wraps and non-finite or outside entries take
//    the exact path: the projector's arithmetic, operation for operation,
//    two pixels to an AVX-512 register.
// On processors without AVX-512 the projector itself renders.
#pragma once

#include <cstdint>
#include <memory>

#include "engine/ImageBuffer.h"
#include "engine/MessageReporter.h"
#include "engine/PanoDomeProjector.h"

namespace skelvane {

class CPanoSweepRenderer {
public:
    explicit CPanoSweepRenderer(CMessageReporter& reporter = DefaultReporter())
        : m_reporter(reporter), m_projector(reporter)
    {
    }

    // What RenderPanoDome returns for the same arguments, and null where it
    // returns null (reporting the same way).
    std::unique_ptr<CImageBuffer> Render(const CImageBuffer& pano, const PanoMapEntry* map, std::int32_t outSize,
                                         float pan);

    // Whether this renderer's own loops run on this processor. For tests:
    // false turns them off (the projector renders), true turns them back on
    // where possible.
    static bool UseOwnLoops(bool enable);
    static bool OwnLoopsInUse();

private:
    CMessageReporter& m_reporter;
    CPanoDomeProjector m_projector;
};

}  // namespace skelvane
