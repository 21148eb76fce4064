#pragma once

#include "ui/Pictures.h"

#include <QLabel>

#include <functional>

// An image that shows a picture object without stretching it; several images
// may show the same object.
class TickImage : public QLabel
{
    Q_OBJECT
public:
    explicit TickImage(QWidget *parent = nullptr);

    const Picture &picture() const { return m_picture; }
    void setPicture(const Picture &picture);

    void setClickHandler(std::function<void()> handler) { m_click = std::move(handler); }

protected:
    void mouseReleaseEvent(QMouseEvent *event) override;

private:
    Picture m_picture;
    std::function<void()> m_click;
};
