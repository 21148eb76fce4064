#include "ui/TickImage.h"

#include "ui/EventGuard.h"

#include <QMouseEvent>

TickImage::TickImage(QWidget *parent)
    : QLabel(parent)
{
    setAlignment(Qt::AlignLeft | Qt::AlignTop);
    setScaledContents(false);
}

void TickImage::setPicture(const Picture &picture)
{
    m_picture = picture;
    setPixmap(picture ? *picture : QPixmap());
}

void TickImage::mouseReleaseEvent(QMouseEvent *event)
{
    QLabel::mouseReleaseEvent(event);
    if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint()) && m_click)
        runUserEvent(this, m_click);
}
