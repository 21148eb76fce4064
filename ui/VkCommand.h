#pragma once

#include "ui/ControlSettings.h"

#include <QAbstractButton>

// A command button painted as a rounded gradient, with pressed, hovered,
// focused and greyed looks. Enter, Return and Space press it like a click.
//
// Keys: caption (also the button's text, so "&" marks a shortcut), font,
// forecolor, backcolor1 (top), backcolor2 (bottom) as 0xBBGGRR, customstyle
// (0, the standard look, is the only one drawn), _extentx and _extenty (kept
// only: the window sets the geometry).
class VkCommand : public SetWidget<QAbstractButton>
{
    Q_OBJECT

public:
    explicit VkCommand(QWidget *parent = nullptr);

    QSize sizeHint() const override;

protected:
    void settingChanged(const QString &key) override;
    void paintEvent(QPaintEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
};
