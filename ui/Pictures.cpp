#include "ui/Pictures.h"

#include <QDebug>
#include <QGuiApplication>
#include <QPainter>
#include <QSvgRenderer>

#include <cmath>

using namespace Qt::StringLiterals;

namespace {

constexpr int tickSide = 32;

QPixmap render(const QString &resource, int side, qreal ratio)
{
    const int physical = int(std::ceil(side * ratio));
    QPixmap pixmap(physical, physical);
    pixmap.fill(Qt::transparent);
    QSvgRenderer renderer(resource);
    if (!renderer.isValid()) {
        qWarning() << "Cannot draw the picture" << resource;
    } else {
        QPainter painter(&pixmap);
        painter.setRenderHint(QPainter::Antialiasing);
        renderer.render(&painter, QRectF(0, 0, physical, physical));
    }
    pixmap.setDevicePixelRatio(ratio);
    return pixmap;
}

Picture tickPicture(const QString &resource)
{
    const qreal ratio = qGuiApp ? qGuiApp->devicePixelRatio() : 1.0;
    return std::make_shared<const QPixmap>(render(resource, tickSide, ratio));
}

} // namespace

QIcon programIcon()
{
    QIcon icon;
    for (const int side : {16, 22, 24, 32, 48, 64, 128, 256})
        icon.addPixmap(render(u":/pictures/program-icon.svg"_s, side, 1.0));
    return icon;
}

Picture tickedPicture()
{
    return tickPicture(u":/pictures/ticked.svg"_s);
}

Picture notTickedPicture()
{
    return tickPicture(u":/pictures/not-ticked.svg"_s);
}
