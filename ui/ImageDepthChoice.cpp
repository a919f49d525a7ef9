#include "ui/ImageDepthChoice.h"

#include <iterator>

#include <QComboBox>
#include <QStandardItemModel>

#include "ui/FieldExchange.h"

namespace skelvane {
namespace {

constexpr SampleDepth kEntryDepths[] = {kDepth8, kDepth16, kDepthFloat};  // after "as input"
constexpr Dither kEntryDithers[] = {Dither::Ordered, Dither::Diffusion, Dither::None};

std::optional<SampleDepth> DepthOfEntry(int entry)
{
    if (entry < CImageDepthChoice::kEightBit || entry > CImageDepthChoice::kFloat) return std::nullopt;
    return kEntryDepths[entry - CImageDepthChoice::kEightBit];
}

int EntryOfDepth(std::optional<SampleDepth> depth)
{
    for (int entry = CImageDepthChoice::kEightBit; entry <= CImageDepthChoice::kFloat; ++entry) {
        if (depth == kEntryDepths[entry - CImageDepthChoice::kEightBit]) return entry;
    }
    return CImageDepthChoice::kAsInput;
}

Dither DitherOfEntry(int entry)
{
    return entry >= 0 && entry < static_cast<int>(std::size(kEntryDithers)) ? kEntryDithers[entry] : Dither::Ordered;
}

int EntryOfDither(Dither dither)
{
    for (int entry = 0; entry < static_cast<int>(std::size(kEntryDithers)); ++entry) {
        if (kEntryDithers[entry] == dither) return entry;
    }
    return 0;
}

}  // namespace

CImageDepthChoice::CImageDepthChoice(QWidget* parent)
    : QObject(parent), m_depthCombo(new QComboBox(parent)), m_ditherCombo(new QComboBox(parent))
{
    m_depthCombo->addItems({QStringLiteral("as input"), QStringLiteral("8-bit"), QStringLiteral("16-bit"),
                            QStringLiteral("float")});
    m_ditherCombo->addItems({QStringLiteral("ordered"), QStringLiteral("diffusion"), QStringLiteral("none")});
    connect(m_depthCombo, &QComboBox::currentIndexChanged, this, [this] { UpdateDitherEnabling(); });
    UpdateDitherEnabling();
}

void CImageDepthChoice::Exchange(CFieldExchange& dx, ImageWriteOptions& options)
{
    int depth = EntryOfDepth(options.depth);
    dx.ComboIndex(m_depthCombo, depth);
    int dither = EntryOfDither(options.dither);
    dx.ComboIndex(m_ditherCombo, dither);
    if (dx.IsSaving()) {
        options.depth = DepthOfEntry(depth);
        options.dither = DitherOfEntry(dither);
    }
}

void CImageDepthChoice::OfferDepthsOf(const ImageCodec* codec)
{
    m_codec = codec && codec->CanWrite() ? codec : nullptr;
    auto* model = qobject_cast<QStandardItemModel*>(m_depthCombo->model());
    for (int entry = kEightBit; entry <= kFloat; ++entry) {
        const SampleDepth depth = kEntryDepths[entry - kEightBit];
        model->item(entry)->setEnabled(!m_codec || m_codec->writes.Has(depth));
    }
    const bool half = m_codec && m_codec->deepAsFloat;
    m_depthCombo->setItemText(kSixteenBit, half ? QStringLiteral("half") : QStringLiteral("16-bit"));
    UpdateDitherEnabling();
}

void CImageDepthChoice::SetWrites(Writes writes)
{
    m_writes = writes;
    m_depthCombo->setEnabled(writes == Writes::Images);
    UpdateDitherEnabling();
}

void CImageDepthChoice::UpdateDitherEnabling()
{
    if (m_writes != Writes::Images) {
        m_ditherCombo->setEnabled(m_writes == Writes::Video);
        return;
    }
    const std::optional<SampleDepth> depth = DepthOfEntry(m_depthCombo->currentIndex());
    bool eightBitFiles = false;
    if (!m_codec) {
        eightBitFiles = !depth || *depth == kDepth8;
    } else if (m_codec->writes.Has(kDepth8)) {
        // "As input" gives deep pictures 8 bits only where the format holds nothing deeper.
        eightBitFiles = depth ? *depth == kDepth8 : m_codec->writes.depths == kDepth8;
    }
    m_ditherCombo->setEnabled(eightBitFiles);
}

}  // namespace skelvane
