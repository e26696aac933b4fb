#include "app/gui/app_icon.hpp"

#include <QImage>
#include <QPainter>
#include <QPixmap>
#include <QSvgRenderer>

QIcon QuendrelIcon() {
    // Drawn here rather than by an icon plugin, which a machine may lack.
    QSvgRenderer picture(QStringLiteral(":/quendrel.svg"));
    QIcon icon;
    if (!picture.isValid()) return icon;
    for (const int size : kQuendrelIconSizes) {
        QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
        image.fill(Qt::transparent);
        QPainter painter(&image);
        painter.setRenderHint(QPainter::Antialiasing);
        picture.render(&painter);
        painter.end();
        icon.addPixmap(QPixmap::fromImage(image));
    }
    return icon;
}
