#include "ui/VkFrame.h"

#include "ui/WindowDescription.h"

#include <QPainter>
#include <QPainterPath>

#include <algorithm>

using namespace Qt::StringLiterals;

namespace {

constexpr qreal cornerRadius = 6;
constexpr int captionMargin = 6;

using Kind = ControlSettings::Kind;

} // namespace

VkFrame::VkFrame(QWidget *parent)
    : SetWidget(parent,
                {
                    {u"backcolor1"_s, Kind::Colour, {}, u"backcolor2"_s},
                    {u"backcolor2"_s, Kind::Colour, 0xE0E0E0u},
                    {u"titlecolor1"_s, Kind::Colour, 0x808080u},
                    {u"titlecolor2"_s, Kind::Colour, 0xE0E0E0u},
                    {u"bordercolor"_s, Kind::Colour, 0x808080u},
                    {u"titleheight"_s, Kind::Count, 375},
                    {u"borderwidth"_s, Kind::Count, 1},
                })
{ }

QRect VkFrame::titleRect() const
{
    const qint64 pixels = twipsToPixels(m_settings.count(u"titleheight"_s));
    return QRect(0, 0, width(), int(std::min<qint64>(pixels, height())));
}

void VkFrame::paintEvent(QPaintEvent *)
{
    const QRectF outer = rect();
    const qreal border =
        std::min<qreal>(m_settings.count(u"borderwidth"_s), std::min(outer.width(), outer.height()) / 2);
    const QRectF inner = outer.adjusted(border, border, -border, -border);
    const qreal titleBottom = std::clamp<qreal>(titleRect().bottom() + 1, inner.top(), inner.bottom());

    QPainterPath outerPath;
    outerPath.addRoundedRect(outer, cornerRadius, cornerRadius);
    QPainterPath innerPath;
    const qreal innerRadius = std::max<qreal>(cornerRadius - border, 0);
    innerPath.addRoundedRect(inner, innerRadius, innerRadius);

    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);

    if (border > 0)
        painter.fillPath(outerPath.subtracted(innerPath), m_settings.colour(u"bordercolor"_s));

    // Top to bottom gradient over one band of the panel, inside the border's rounded edge.
    const auto fillBand = [&](const QRectF &band, const QString &topKey, const QString &bottomKey) {
        if (band.isEmpty())
            return;
        QPainterPath area;
        area.addRect(band);
        QLinearGradient gradient(band.topLeft(), band.bottomLeft());
        gradient.setColorAt(0, m_settings.colour(topKey));
        gradient.setColorAt(1, m_settings.colour(bottomKey));
        painter.fillPath(innerPath.intersected(area), gradient);
    };
    const QRectF title(inner.topLeft(), QPointF(inner.right(), titleBottom));
    fillBand(title, u"titlecolor1"_s, u"titlecolor2"_s);
    fillBand(QRectF(QPointF(inner.left(), titleBottom), inner.bottomRight()), u"backcolor1"_s, u"backcolor2"_s);

    const QString caption = m_settings.text(u"caption"_s);
    if (!caption.isEmpty() && !title.isEmpty()) {
        const QRectF textRect = title.adjusted(captionMargin, 0, -captionMargin, 0);
        const QFont font = m_settings.font(u"font"_s);
        painter.setFont(font);
        painter.setPen(m_settings.colour(u"forecolor"_s));
        const QString shown = QFontMetricsF(font, this).elidedText(caption, Qt::ElideRight, textRect.width());
        painter.drawText(textRect, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, shown);
    }
}
