// The sample depth and the dither of the dome images a render writes, as two
// drop-down lists shared by the Cube2Dome settings and the Pano2Dome page.
//
// Depth: "as input" (the input's depth where the format holds it, else the
// format's deepest), "8-bit", "16-bit" ("half" for OpenEXR, whose 16-bit
// samples are half floats) and "float". Depths the output format cannot
// write stay in the list but cannot be chosen, so a choice made for another
// format is still shown after the format changed, and the render refuses it
// with the reason the command line gives, rather than quietly writing
// something else.
//
// Dither: how deep pictures are rounded into 8-bit files, "ordered" (the
// default: the pattern stays put from frame to frame), "diffusion" or
// "none". It is open to a choice only where 8-bit files can come of it: the
// depth is 8 bits, or "as input" in a format of 8-bit samples only. A video
// has no depth choice, but deep frames go into an 8-bit stream through the
// dither.
#pragma once

#include <optional>

#include <QObject>

#include "imageio/ImageCodec.h"

class QComboBox;
class QWidget;

namespace skelvane {

class CFieldExchange;

class CImageDepthChoice : public QObject {
public:
    // What the render writes with these choices.
    enum class Writes { Nothing, Images, Video };
    // Entries of the depth list, in order.
    enum DepthEntry { kAsInput = 0, kEightBit = 1, kSixteenBit = 2, kFloat = 3 };

    // Makes both lists as children of `parent`, first entries chosen, every
    // depth on offer (no format known yet).
    explicit CImageDepthChoice(QWidget* parent);

    QComboBox* DepthCombo() const { return m_depthCombo; }
    QComboBox* DitherCombo() const { return m_ditherCombo; }

    // The choices <-> the depth and dither of `options`.
    void Exchange(CFieldExchange& dx, ImageWriteOptions& options);

    // Offers the depths `codec` writes; null (no format chosen yet, or one no
    // codec writes) offers every depth.
    void OfferDepthsOf(const ImageCodec* codec);

    // Enables what applies to `writes`; Nothing locks both lists.
    void SetWrites(Writes writes);

private:
    void UpdateDitherEnabling();

    QComboBox* m_depthCombo;
    QComboBox* m_ditherCombo;
    const ImageCodec* m_codec = nullptr;
    Writes m_writes = Writes::Images;
};

}  // namespace skelvane
