#include "ui/PreviewPane.h"

#include <QPainter>

#include "engine/image/ImageBuffer.h"

namespace skelvane {

QImage UpsideDownView(const CImageBuffer& image)
{
    if (image.IsEmpty() || image.GetBitCount() != 32) return {};
    return QImage(image.Bits(), image.GetWidth(), image.GetHeight(), image.Stride(), QImage::Format_RGB32);
}

void DrawImageBuffer(QPainter& painter, QPoint topLeft, const CImageBuffer& image)
{
    const QImage view = UpsideDownView(image);
    if (view.isNull()) return;
    // Mirror the y axis so the bottom row of memory lands at the bottom.
    painter.save();
    painter.translate(topLeft.x(), topLeft.y() + view.height());
    painter.scale(1.0, -1.0);
    painter.drawImage(QPoint(0, 0), view);
    painter.restore();
}

CPreviewPane::CPreviewPane(QWidget* parent) : QFrame(parent)
{
    setFrameStyle(QFrame::Box | QFrame::Plain);
    setLineWidth(1);
}

void CPreviewPane::SetImage(const CImageBuffer* image)
{
    m_image = image;
    update();
}

void CPreviewPane::SetProblem(const QString& text, const QString& path)
{
    if (text == m_problem) return;
    m_problem = text;
    setToolTip(text.isEmpty() ? QString() : path);
    update();
}

void CPreviewPane::Refresh()
{
    repaint();
}

void CPreviewPane::paintEvent(QPaintEvent* event)
{
    QFrame::paintEvent(event);
    QPainter painter(this);
    const bool image = m_image && !m_image->IsEmpty();
    if (image) {
        painter.setClipRect(rect().adjusted(1, 1, -1, -1));
        DrawImageBuffer(painter, QPoint(1, 1), *m_image);
    } else {
        painter.fillRect(rect().adjusted(1, 1, -1, -1), kBlankPaneColour);
    }
    if (!m_problem.isEmpty()) {
        // An unreadable file's stand-in is black: light text on it, dark on the blank colour.
        painter.setPen(image ? Qt::white : Qt::black);
        painter.drawText(rect().adjusted(6, 6, -6, -6), Qt::AlignCenter | Qt::TextWordWrap, m_problem);
    }
}

}  // namespace skelvane
