// The frame renderer of the Pano2Dome sweep: the pixels of
// CPanoDomeProjector::RenderPanoDome, bit for bit, made two at a time.
//
// A sweep renders the same map at many pans, and that render is most of a
// frame's cost. The projector's pixel loop blends one pixel at a time with
// the four channels of a pixel in the lanes of one AVX2 register; a pixel's
// chain of dependent steps (column, kernel weights, gathers, sums) is long
// enough that the processor overlaps hardly two of them. Here two pixels
// share each AVX-512 register (eight lanes: both pixels' four channels), so
// every instruction does the work of two, and twice as many pixels are in
// flight. Lane by lane the arithmetic is the projector's, in its order:
// 1. The column is map x plus the pan shift, wrapped exactly as the
//    projector wraps it; column and row are split into whole part and
//    fraction in double precision, and the 4 x 4 neighbourhood is clamped at
//    the panorama's edges as the projector clamps it.
// 2. The eight kernel weights of each pixel are the projector's polynomials;
//    each row of four pixels is summed with the column weights, then the
//    rows with the row weights; truncate(total + 0.5), saturated into 0..255,
//    alpha opaque. Pixels outside the circle are 0.
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

    // Whether the paired loop runs on this processor. For tests: false turns
    // it off (the projector renders), true turns it back on where possible.
    static bool UsePairedLoop(bool enable);
    static bool PairedLoopInUse();

private:
    CMessageReporter& m_reporter;
    CPanoDomeProjector m_projector;
};

}  // namespace skelvane
