#include "shell/LogoArt.h"

#include <QFont>
#include <QFontMetricsF>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>

#include <algorithm>

namespace {
constexpr qreal LogoWidth = 351;
constexpr qreal LogoHeight = 101;
const QColor Ink(12, 60, 110);
const QColor Signal(255, 200, 60);
const QColor Paper(250, 250, 245);

// A bold font whose text fills at most the width given, in logo units.
QFont FittingFont(const QString &text, qreal pixelSize, qreal width, bool bold)
{
    QFont font(QStringLiteral("Sans Serif"));
    font.setBold(bold);
    font.setPixelSize(static_cast<int>(pixelSize));
    const qreal needed = QFontMetricsF(font).horizontalAdvance(text);
    if (needed > width)
        font.setPixelSize(std::max(6, static_cast<int>(pixelSize * width / needed)));
    return font;
}
} // namespace

void PaintIconTile(QPainter &p, qreal s)
{
    p.save();
    p.setRenderHint(QPainter::Antialiasing);
    QLinearGradient fill(0, 0, 0, s);
    fill.setColorAt(0, QColor(30, 110, 170));
    fill.setColorAt(1, Ink);
    p.setPen(QPen(QColor(8, 40, 80), s >= 32 ? 1.0 : 0.8));
    p.setBrush(fill);
    p.drawRoundedRect(QRectF(0.5, 0.5, s - 1, s - 1), s * 0.2, s * 0.2);

    QPainterPath quill;
    quill.moveTo(s * 0.18, s * 0.84);
    quill.cubicTo(s * 0.30, s * 0.50, s * 0.48, s * 0.26, s * 0.66, s * 0.14);
    quill.cubicTo(s * 0.62, s * 0.38, s * 0.46, s * 0.62, s * 0.18, s * 0.84);
    p.setPen(Qt::NoPen);
    p.setBrush(Paper);
    p.drawPath(quill);
    p.setPen(QPen(Paper, s >= 32 ? s / 20 : 1.1, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(s * 0.14, s * 0.88), QPointF(s * 0.26, s * 0.72));

    const QPointF centre(s * 0.62, s * 0.74);
    p.setPen(QPen(Signal, s >= 32 ? s / 16 : 1.3, Qt::SolidLine, Qt::RoundCap));
    p.setBrush(Qt::NoBrush);
    const int arcs = s >= 32 ? 3 : 2;
    for (int i = 1; i <= arcs; ++i) {
        const qreal r = s * (0.09 + 0.1 * i) * (s >= 32 ? 1.0 : 1.1);
        p.drawArc(QRectF(centre.x() - r, centre.y() - r, 2 * r, 2 * r), 0, 80 * 16);
    }
    p.restore();
}

QPixmap LogoPixmap(QSize size, qreal devicePixelRatio)
{
    QPixmap pixmap(size * devicePixelRatio);
    pixmap.setDevicePixelRatio(devicePixelRatio);
    pixmap.fill(Qt::transparent);
    if (size.isEmpty())
        return pixmap;

    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::TextAntialiasing);
    const qreal scale = std::min(size.width() / LogoWidth, size.height() / LogoHeight);
    p.translate((size.width() - LogoWidth * scale) / 2, (size.height() - LogoHeight * scale) / 2);
    p.scale(scale, scale);

    p.save();
    p.translate(10, 10);
    PaintIconTile(p, 81);
    p.restore();

    const QString name = QStringLiteral("Corvane");
    p.setFont(FittingFont(name, 40, 236, true));
    p.setPen(Ink);
    p.drawText(QRectF(104, 8, 240, 50), Qt::AlignLeft | Qt::AlignVCenter, name);
    p.setPen(QPen(Signal, 3));
    p.drawLine(QPointF(106, 60), QPointF(338, 60));
    const QString line = QStringLiteral("Wren Quillon  \u00b7  syslog test tools");
    p.setFont(FittingFont(line, 13, 232, false));
    p.setPen(QColor(60, 60, 60));
    p.drawText(QRectF(106, 64, 240, 28), Qt::AlignLeft | Qt::AlignVCenter, line);
    return pixmap;
}
