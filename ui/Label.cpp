#include "ui/Label.h"

#include "ui/Colours.h"
#include "ui/EventGuard.h"

#include <QMouseEvent>
#include <QPainter>

Label::Label(QWidget *parent)
    : QLabel(parent)
{
    setAutoFillBackground(true); // labels are opaque, in the platform's colours unless told otherwise
    m_backColor = toBgr(palette().color(QPalette::Window));
}

void Label::setCaption(const QString &caption)
{
    setText(caption);
    // The accessible name is the control's own; the caption is what a screen reader should add.
    setAccessibleDescription(caption);
}

void Label::setBackColor(quint32 bgr)
{
    m_backColor = bgr;
    QPalette colours = palette();
    colours.setColor(QPalette::Window, fromBgr(bgr));
    setPalette(colours);
    setAutoFillBackground(true);
}

void Label::setProgress(double fraction)
{
    const double clamped = fraction < 0 ? -1.0 : std::min(fraction, 1.0);
    if (clamped == m_progress)
        return;
    m_progress = clamped;
    update();
}

void Label::mouseReleaseEvent(QMouseEvent *event)
{
    QLabel::mouseReleaseEvent(event);
    if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint()) && m_click)
        runUserEvent(this, m_click);
}

void Label::paintEvent(QPaintEvent *event)
{
    QLabel::paintEvent(event);
    if (m_progress < 0)
        return;
    QPainter painter(this);
    const QRect inner = contentsRect();
    const int barHeight = std::max(3, inner.height() / 8);
    const QRect track(inner.left(), inner.bottom() - barHeight + 1, inner.width(), barHeight);
    painter.fillRect(track, QColor(0, 0, 0, 60));
    painter.fillRect(QRect(track.topLeft(), QSize(int(track.width() * m_progress), barHeight)), QColor(0, 90, 200));
}
