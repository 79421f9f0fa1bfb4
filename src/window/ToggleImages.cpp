#include "window/ToggleImages.h"

#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <QRadialGradient>

namespace {
QPixmap DrawFace(bool up)
{
    QPixmap face(16, 16);
    face.fill(Qt::transparent);
    QPainter painter(&face);
    painter.setRenderHint(QPainter::Antialiasing);

    QRadialGradient shade(QPointF(6, 5), 10);
    shade.setColorAt(0, QColor(250, 250, 250));
    shade.setColorAt(1, QColor(170, 170, 176));
    painter.setPen(QPen(QColor(96, 96, 104), 1));
    painter.setBrush(shade);
    painter.drawEllipse(QRectF(1, 1, 14, 14));

    QPainterPath arrow;
    if (up) {
        arrow.moveTo(8, 4);
        arrow.lineTo(12.5, 10);
        arrow.lineTo(3.5, 10);
    } else {
        arrow.moveTo(8, 12);
        arrow.lineTo(12.5, 6);
        arrow.lineTo(3.5, 6);
    }
    arrow.closeSubpath();
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(30, 30, 40));
    painter.drawPath(arrow);
    return face;
}
} // namespace

std::array<QIcon, 2> DrawToggleImages()
{
    return {QIcon(DrawFace(false)), QIcon(DrawFace(true))};
}
