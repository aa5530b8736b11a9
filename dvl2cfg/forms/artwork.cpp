#include "dvl2cfg/forms/artwork.h"

#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>

namespace dvl::dvl2cfg {

namespace {

const QColor kCrateLight(222, 170, 96);
const QColor kCrateDark(150, 98, 40);
const QColor kStrap(52, 84, 140);

// The crate in a square of `size` pixels at `origin`: a front face, a lid in
// perspective and a strap around both.
void DrawCrate(QPainter& painter, QPointF origin, qreal size) {
    const qreal s = size / 32.0;
    painter.save();
    painter.translate(origin);
    painter.scale(s, s);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(kCrateDark.darker(140), 1.2));

    QPainterPath lid;
    lid.moveTo(3, 11);
    lid.lineTo(11, 4);
    lid.lineTo(29, 4);
    lid.lineTo(21, 11);
    lid.closeSubpath();
    painter.setBrush(kCrateLight.lighter(115));
    painter.drawPath(lid);

    QPainterPath side;
    side.moveTo(21, 11);
    side.lineTo(29, 4);
    side.lineTo(29, 22);
    side.lineTo(21, 29);
    side.closeSubpath();
    painter.setBrush(kCrateDark);
    painter.drawPath(side);

    painter.setBrush(kCrateLight);
    painter.drawRect(QRectF(3, 11, 18, 18));

    // The strap across the front face and over the lid.
    painter.setPen(Qt::NoPen);
    painter.setBrush(kStrap);
    painter.drawRect(QRectF(10, 11, 4, 18));
    QPainterPath strapOnLid;
    strapOnLid.moveTo(10, 11);
    strapOnLid.lineTo(18, 4);
    strapOnLid.lineTo(22, 4);
    strapOnLid.lineTo(14, 11);
    strapOnLid.closeSubpath();
    painter.drawPath(strapOnLid);
    painter.restore();
}

QPixmap DrawIconPixmap(int size) {
    QPixmap pixmap(size, size);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    DrawCrate(painter, QPointF(0, 0), size);
    return pixmap;
}

} // namespace

QPixmap DrawAboutPicture() {
    QPixmap picture(kAboutPictureWidth, kAboutPictureHeight);
    QPainter painter(&picture);
    painter.setRenderHint(QPainter::Antialiasing);

    QLinearGradient backdrop(0, 0, 0, kAboutPictureHeight);
    backdrop.setColorAt(0.0, QColor(176, 196, 226));
    backdrop.setColorAt(0.38, QColor(236, 240, 248));
    backdrop.setColorAt(1.0, QColor(250, 250, 252));
    painter.fillRect(picture.rect(), backdrop);

    // A thin band under the title part separates it from the labels.
    painter.fillRect(QRect(12, 88, kAboutPictureWidth - 24, 1), QColor(150, 166, 196));

    DrawCrate(painter, QPointF(18, 14), 64);

    // The program font is a bitmap face that does not scale; the title takes
    // a scalable sans face.
    QFont title(QStringLiteral("DejaVu Sans"));
    title.setStyleHint(QFont::SansSerif);
    title.setPointSize(24);
    title.setBold(true);
    painter.setFont(title);
    painter.setPen(QColor(34, 52, 96));
    painter.drawText(QRect(96, 14, 200, 48), Qt::AlignLeft | Qt::AlignVCenter,
                     QStringLiteral("Dovrel"));

    QFont subtitle = title;
    subtitle.setPointSize(8);
    subtitle.setBold(false);
    subtitle.setItalic(true);
    painter.setFont(subtitle);
    painter.setPen(QColor(60, 74, 110));
    painter.drawText(QRect(98, 56, 200, 16), Qt::AlignLeft | Qt::AlignVCenter,
                     QStringLiteral("archives opened from the shell"));
    return picture;
}

QIcon DrawWindowIcon() {
    QIcon icon;
    for (int size : {16, 32, 48})
        icon.addPixmap(DrawIconPixmap(size));
    return icon;
}

} // namespace dvl::dvl2cfg
