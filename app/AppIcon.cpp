#include "app/AppIcon.h"

#include <QPainter>
#include <QRadialGradient>

namespace skelvane {

QImage SkelvaneIconImage(int side)
{
    QImage image(side, side, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    const qreal s = side;
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(18, 22, 40));
    painter.drawRoundedRect(QRectF(0, 0, s, s), s * 0.12, s * 0.12);

    // The dome circle: zenith bright in the centre, horizon darker at the rim.
    const QPointF centre(s / 2, s / 2);
    const qreal radius = s * 0.42;
    QRadialGradient sky(centre, radius);
    sky.setColorAt(0.0, QColor(250, 236, 170));
    sky.setColorAt(0.55, QColor(90, 150, 220));
    sky.setColorAt(1.0, QColor(40, 60, 130));
    painter.setBrush(sky);
    painter.drawEllipse(centre, radius, radius);

    // Meridian and parallel lines of the fisheye grid.
    painter.setBrush(Qt::NoBrush);
    painter.setPen(QPen(QColor(255, 255, 255, 110), qMax<qreal>(1.0, s / 64)));
    painter.drawEllipse(centre, radius * 0.5, radius * 0.5);
    painter.drawLine(QPointF(centre.x() - radius, centre.y()), QPointF(centre.x() + radius, centre.y()));
    painter.drawLine(QPointF(centre.x(), centre.y() - radius), QPointF(centre.x(), centre.y() + radius));
    return image;
}

QIcon SkelvaneIcon()
{
    QIcon icon;
    for (int side : {16, 32, 48, 64, 256}) icon.addPixmap(QPixmap::fromImage(SkelvaneIconImage(side)));
    return icon;
}

}  // namespace skelvane
