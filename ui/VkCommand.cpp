#include "ui/VkCommand.h"

#include <QKeyEvent>
#include <QPainter>
#include <QPainterPath>

#include <algorithm>

using namespace Qt::StringLiterals;

namespace {

using Kind = ControlSettings::Kind;

// Greyed but still ordered light to dark, so a disabled button keeps its shape.
QColor greyed(const QColor &colour)
{
    const int grey = qGray(colour.rgb());
    return QColor::fromRgb(150 + grey * 35 / 100, 150 + grey * 35 / 100, 150 + grey * 35 / 100);
}

const QColor disabledCaption(0x60, 0x60, 0x60);
const QColor disabledEtch(0xE6, 0xE6, 0xE6);

} // namespace

VkCommand::VkCommand(QWidget *parent)
    : SetWidget(parent, {{u"backcolor1"_s, Kind::Colour, 0xF0F0F0u}, {u"backcolor2"_s, Kind::Colour, 0xB0B0B0u}})
{
    setFocusPolicy(Qt::StrongFocus);
    setAttribute(Qt::WA_Hover);
}

void VkCommand::settingChanged(const QString &key)
{
    if (key == u"caption")
        setText(m_settings.text(key));
    else if (key == u"font")
        setFont(m_settings.font(key));
}

QSize VkCommand::sizeHint() const
{
    const QSize text = QFontMetrics(m_settings.font(u"font"_s), this).size(Qt::TextShowMnemonic, this->text());
    return text + QSize(24, 14);
}

void VkCommand::paintEvent(QPaintEvent *)
{
    const bool enabled = isEnabled();
    const bool pressed = enabled && isDown();
    QColor top = m_settings.colour(u"backcolor1"_s);
    QColor bottom = m_settings.colour(u"backcolor2"_s);
    QColor caption = m_settings.colour(u"forecolor"_s);
    if (!enabled) {
        top = greyed(top);
        bottom = greyed(bottom);
        caption = disabledCaption;
    } else if (pressed) {
        std::swap(top, bottom);
    } else if (underMouse()) {
        top = top.lighter(112);
        bottom = bottom.lighter(112);
    }

    const QRectF outline = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
    const qreal radius = std::min<qreal>(7, outline.height() / 4);
    QPainterPath shape;
    shape.addRoundedRect(outline, radius, radius);

    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    QLinearGradient gradient(outline.topLeft(), outline.bottomLeft());
    gradient.setColorAt(0, top);
    gradient.setColorAt(1, bottom);
    painter.setPen(QPen(enabled ? bottom.darker(170) : QColor(0x80, 0x80, 0x80), 1));
    painter.setBrush(gradient);
    painter.drawPath(shape);

    const QRectF textRect = pressed ? outline.translated(1, 1) : outline;
    const int flags = Qt::AlignCenter | Qt::TextShowMnemonic | Qt::TextSingleLine;
    painter.setFont(m_settings.font(u"font"_s));
    if (!enabled) {
        painter.setPen(disabledEtch);
        painter.drawText(textRect.translated(1, 1), flags, text());
    }
    painter.setPen(caption);
    painter.drawText(textRect, flags, text());

    if (hasFocus()) {
        painter.setRenderHint(QPainter::Antialiasing, false);
        painter.setPen(QPen(caption, 1, Qt::DotLine));
        painter.setBrush(Qt::NoBrush);
        painter.drawRoundedRect(QRectF(rect()).adjusted(4, 4, -5, -5), radius / 2, radius / 2);
    }
}

void VkCommand::keyPressEvent(QKeyEvent *event)
{
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        // A held key must not start the same action again and again.
        if (!event->isAutoRepeat())
            click();
        event->accept();
        return;
    }
    QAbstractButton::keyPressEvent(event);
}
