#pragma once

#include "ui/ControlSettings.h"

#include <QWidget>

// A titled panel: a gradient title band holding a caption over a plain body,
// inside a border. The window places the panel's children at absolute
// positions from the panel's top-left corner, title band included.
//
// Keys: caption, font, forecolor, backcolor1, backcolor2, titlecolor1,
// titlecolor2, bordercolor (0xBBGGRR), titleheight (twips), borderwidth
// (pixels), customstyle (0, the standard look, is the only one drawn),
// _extentx and _extenty (kept only: the window sets the geometry).
class VkFrame : public SetWidget<QWidget>
{
    Q_OBJECT

public:
    explicit VkFrame(QWidget *parent = nullptr);

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QRect titleRect() const;
};
