#pragma once

#include <QPixmap>
#include <QSize>

class QPainter;

// The program's icon tile, filling a square of the given side.
void PaintIconTile(QPainter &painter, qreal side);

// The maker's logo, 351 x 101 by design, drawn to fit the size given so that
// it stays sharp at any scale of the About box.
QPixmap LogoPixmap(QSize size, qreal devicePixelRatio);
