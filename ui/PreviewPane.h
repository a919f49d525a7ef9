// A framed pane that shows an image of the page: the image whole with its
// top-left corner one pixel inside the frame, or, while the image is empty,
// the pane's inside filled with the blank colour RGB(244, 244, 244).
//
// The pane draws straight from the image buffer's pixel block through a QImage
// view of its rows, so it never copies the image; the buffer stays owned by
// the page and the page calls Refresh() after changing it. When its image is
// missing or stands in for a file that could not be read, the pane can say
// why over it (SetProblem).
#pragma once

#include <QColor>
#include <QFrame>
#include <QImage>
#include <QString>

namespace skelvane {

class CImageBuffer;

// A view of a 32-bit image's pixel block without copying: rows in memory
// order, which is bottom-up, so the view shows the image upside down. Alpha
// is ignored (outside a dome circle the pixels are 0 and show black). A null
// image for an empty or non-32-bit buffer. Valid while the buffer is unchanged.
QImage UpsideDownView(const CImageBuffer& image);

// Draws a 32-bit image with its top-left corner at `topLeft`.
void DrawImageBuffer(QPainter& painter, QPoint topLeft, const CImageBuffer& image);

inline const QColor kBlankPaneColour{244, 244, 244};

class CPreviewPane : public QFrame {
    Q_OBJECT
public:
    explicit CPreviewPane(QWidget* parent = nullptr);

    // The image to show (not owned; null shows the blank pane).
    void SetImage(const CImageBuffer* image);
    const CImageBuffer* Image() const { return m_image; }
    // Text written over the pane, the file's full path as its tip; an empty
    // text shows the image alone.
    void SetProblem(const QString& text, const QString& path = QString());
    QString Problem() const { return m_problem; }
    // Paints the pane now, as the page's preview operations expect.
    void Refresh();

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    const CImageBuffer* m_image = nullptr;
    QString m_problem;
};

}  // namespace skelvane
