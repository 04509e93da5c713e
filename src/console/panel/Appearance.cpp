#include "console/panel/Appearance.h"

#include <QFontDatabase>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>

namespace qx200 {

void registerFontSubstitutions()
{
    const QString gothic = QString::fromUtf8(layout::GothicFamily);
    const QString pgothic = QString::fromUtf8(layout::PGothicFamily);
    QFont::insertSubstitutions(gothic, {"MS Gothic", "IPAGothic", "Noto Sans Mono CJK JP",
                                        "DejaVu Sans Mono", "Monospace"});
    QFont::insertSubstitutions(
        pgothic, {"MS PGothic", "IPAPGothic", "Noto Sans CJK JP", "DejaVu Sans", "Sans Serif"});
}

QFont fontFor(const layout::Font& row)
{
    const bool fixed = row.face == layout::Face::G;
    QFont font(QString::fromUtf8(fixed ? layout::GothicFamily : layout::PGothicFamily));
    font.setStyleHint(fixed ? QFont::Monospace : QFont::SansSerif);
    font.setFixedPitch(fixed);
    font.setPointSizeF(row.points);
    font.setBold(row.bold);
    return font;
}

QPixmap logoPixmap()
{
    QPixmap pixmap(80, 26);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    QLinearGradient sky(0, 0, 0, 26);
    sky.setColorAt(0, QColor(0x20, 0x30, 0x80));
    sky.setColorAt(1, QColor(0x08, 0x10, 0x40));
    p.fillRect(pixmap.rect(), sky);
    // A beam of light leaving a lens, then the product name.
    QPainterPath beam;
    beam.moveTo(10, 13);
    beam.lineTo(30, 3);
    beam.lineTo(30, 23);
    beam.closeSubpath();
    p.fillPath(beam, QColor(0xFF, 0xF0, 0xA0, 120));
    p.setBrush(QColor(0xE0, 0xE8, 0xFF));
    p.setPen(QPen(QColor(0x80, 0x90, 0xC0), 1));
    p.drawEllipse(QPointF(10, 13), 5, 5);
    QFont font("DejaVu Sans");
    font.setPixelSize(13);
    font.setBold(true);
    p.setFont(font);
    p.setPen(Qt::white);
    p.drawText(QRect(28, 0, 52, 26), Qt::AlignCenter, QStringLiteral("QX200"));
    return pixmap;
}

namespace {

QPixmap iconPixmap(int size)
{
    QPixmap pixmap(size, size);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(size / 32.0, size / 32.0);
    // A projector body with its lens and a ray.
    p.setPen(QPen(QColor(0x30, 0x30, 0x40), 1.5));
    p.setBrush(QColor(0xC0, 0xC8, 0xD8));
    p.drawRoundedRect(QRectF(2, 12, 22, 14), 3, 3);
    p.setBrush(QColor(0x20, 0x30, 0x80));
    p.drawEllipse(QPointF(17, 19), 4.5, 4.5);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0xFF, 0xD0, 0x40, 200));
    p.drawPolygon(QPolygonF({QPointF(20, 17), QPointF(31, 6), QPointF(31, 20)}));
    return pixmap;
}

} // namespace

QIcon windowIcon()
{
    QIcon icon;
    icon.addPixmap(iconPixmap(16));
    icon.addPixmap(iconPixmap(32));
    return icon;
}

} // namespace qx200
