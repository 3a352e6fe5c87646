#include "app/AppIcon.h"

#include <QFont>
#include <QPainter>
#include <QPixmap>

namespace app {

QIcon AppIcon() {
    QIcon icon;
    for (int size : {16, 32, 48, 64}) {
        QPixmap pm(size, size);
        pm.fill(Qt::transparent);
        QPainter p(&pm);
        p.setRenderHint(QPainter::Antialiasing);
        p.setBrush(QColor(0x2b, 0x5d, 0x8c));
        p.setPen(Qt::NoPen);
        p.drawRoundedRect(QRectF(0, 0, size, size), size / 6.0, size / 6.0);
        QPen pen(Qt::white, std::max(1.0, size / 12.0));
        p.setPen(pen);
        // A "Z" over a wave: the protocol over the line.
        const double m = size * 0.22;
        p.drawLine(QPointF(m, m), QPointF(size - m, m));
        p.drawLine(QPointF(size - m, m), QPointF(m, size * 0.62));
        p.drawLine(QPointF(m, size * 0.62), QPointF(size - m, size * 0.62));
        p.drawLine(QPointF(m, size * 0.8), QPointF(size - m, size * 0.8));
        icon.addPixmap(pm);
    }
    return icon;
}

QIcon ToolIcon(const QString& label, const QColor& colour) {
    QPixmap pm(16, 15);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setPen(colour);
    QFont f = p.font();
    f.setPixelSize(label.size() > 2 ? 7 : 10);
    f.setBold(true);
    p.setFont(f);
    p.drawText(QRect(0, 0, 16, 15), Qt::AlignCenter, label);
    return QIcon(pm);
}

}  // namespace app
