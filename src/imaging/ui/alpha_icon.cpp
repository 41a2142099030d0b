// SPDX-License-Identifier: GPL-2.0-or-later
#include "imaging/ui/alpha_icon.h"

#include <QLinearGradient>
#include <QPainter>
#include <QPixmap>

QIcon AlphaIcon()
{
    QPixmap pm(16, 16);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    // A grey checkerboard with a colour fading out over it.
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 4; ++x)
            p.fillRect(1 + 3 * x + (x > 1 ? 1 : 0), 1 + 3 * y + (y > 1 ? 1 : 0), 3, 3,
                       (x + y) % 2 ? QColor(153, 153, 153) : QColor(230, 230, 230));
    QLinearGradient fade(0, 0, 16, 0);
    fade.setColorAt(0.0, QColor(200, 40, 40, 255));
    fade.setColorAt(1.0, QColor(200, 40, 40, 0));
    p.fillRect(1, 5, 14, 6, fade);
    p.setPen(QColor(60, 60, 60));
    p.setBrush(Qt::NoBrush);
    p.drawRect(0, 0, 15, 15);
    p.end();
    return QIcon(pm);
}
