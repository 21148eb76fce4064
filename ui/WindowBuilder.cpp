#include "ui/WindowBuilder.h"

#include "ui/Colours.h"
#include "ui/DriveList.h"
#include "ui/FileList.h"
#include "ui/FolderList.h"
#include "ui/Label.h"
#include "ui/Pictures.h"
#include "ui/TickImage.h"
#include "ui/VkCommand.h"
#include "ui/VkFrame.h"
#include "ui/WindowDescription.h"

#include <QApplication>
#include <QLineEdit>

#include <algorithm>
#include <map>

namespace {

QFont fontOf(const FontDesc &desc)
{
    QFont font(desc.face);
    font.setPointSizeF(desc.points);
    font.setBold(desc.bold);
    return font;
}

// Colours the widget's own background; for lists and boxes that is their base.
void setBackground(QWidget &widget, QPalette::ColorRole role, quint32 bgr)
{
    QPalette colours = widget.palette();
    colours.setColor(role, fromBgr(bgr));
    widget.setPalette(colours);
    widget.setAutoFillBackground(true);
}

// The platform's colours, marked as set so that they are not inherited from the window.
QPalette platformPalette()
{
    QPalette colours = QApplication::palette();
    colours.setResolveMask(~QPalette::ResolveMask(0));
    return colours;
}

class Builder
{
public:
    Builder(QWidget &window, DriveTable &drives)
        : m_window(window)
        , m_drives(drives)
        , m_notTicked(notTickedPicture())
        , m_ticked(tickedPicture())
    {
    }

    Controls build()
    {
        const WindowSettings &settings = windowSettings();
        m_window.setWindowTitle(settings.title);
        m_window.setWindowIcon(programIcon());
        setBackground(m_window, QPalette::Window, settings.background);
        m_window.resize(twipsToPixels(settings.clientWidth), twipsToPixels(settings.clientHeight));

        for (const ControlDesc &desc : windowDescription()) {
            QWidget *widget = create(desc);
            if (!widget)
                continue;
            place(*widget, desc);
            if (desc.tabIndex >= 0 && widget->focusPolicy() != Qt::NoFocus)
                m_tabOrder.emplace(desc.tabIndex, widget);
        }
        QWidget *previous = nullptr;
        for (const auto &[tabIndex, widget] : m_tabOrder) {
            if (previous)
                QWidget::setTabOrder(previous, widget);
            previous = widget;
        }
        return m_controls;
    }

private:
    QWidget *create(const ControlDesc &desc)
    {
        QWidget *parent = desc.container == QLatin1String("vkFrame1") ? static_cast<QWidget *>(m_controls.vkFrame1)
            : desc.container == QLatin1String("vkFrame2")             ? static_cast<QWidget *>(m_controls.vkFrame2)
                                                                      : &m_window;
        switch (desc.kind) {
        case ControlKind::Panel: {
            auto *panel = new VkFrame(parent);
            for (const auto &[key, value] : desc.settings)
                panel->setSetting(key, value);
            (desc.name == QLatin1String("vkFrame1") ? m_controls.vkFrame1 : m_controls.vkFrame2) = panel;
            return panel;
        }
        case ControlKind::Button: {
            auto *button = new VkCommand(parent);
            for (const auto &[key, value] : desc.settings)
                button->setSetting(key, value);
            (desc.name == QLatin1String("LanceCopie") ? m_controls.LanceCopie : m_controls.Quitter) = button;
            return button;
        }
        case ControlKind::DriveList:
            return m_controls.Drive1[desc.index] = new DriveList(m_drives, parent);
        case ControlKind::FolderList:
            return m_controls.Dir1[desc.index] = new FolderList(m_drives, parent);
        case ControlKind::FileList:
            return m_controls.File1[desc.index] = new FileList(m_drives, parent);
        case ControlKind::Label:
            return createLabel(desc, parent);
        case ControlKind::TextBox: {
            auto *box = new QLineEdit(desc.caption, parent);
            box->setCursorPosition(0);
            (desc.name == QLatin1String("FichKill") ? m_controls.FichKill : m_controls.Text1) = box;
            return box;
        }
        case ControlKind::Image: {
            auto *image = new TickImage(parent);
            image->setPicture(desc.picture == PictureId::Ticked ? m_ticked : m_notTicked);
            if (desc.name == QLatin1String("Coche"))
                m_controls.Coche[desc.index] = image;
            else
                (desc.name == QLatin1String("Coui") ? m_controls.Coui : m_controls.Cnon) = image;
            return image;
        }
        case ControlKind::NotificationSource:
            return nullptr; // volume notifications come from the watcher, not from a widget
        }
        return nullptr;
    }

    QWidget *createLabel(const ControlDesc &desc, QWidget *parent)
    {
        auto *label = new Label(parent);
        label->setCaption(desc.caption);
        label->setFocusPolicy(Qt::NoFocus);
        label->setAlignment(desc.centred ? Qt::AlignCenter : Qt::AlignLeft | Qt::AlignTop);
        if (desc.border)
            label->setFrameStyle(QFrame::Box | QFrame::Plain);
        if (desc.name == QLatin1String("Controle"))
            m_controls.Controle[desc.index] = label;
        else if (desc.name == QLatin1String("Chemin"))
            m_controls.Chemin = label;
        else if (desc.name == QLatin1String("Destin"))
            m_controls.Destin = label;
        else
            m_controls.Label1 = label;
        return label;
    }

    void place(QWidget &widget, const ControlDesc &desc)
    {
        if (widget.parentWidget() == &m_window)
            widget.setPalette(platformPalette()); // the window's navy is its own, not its controls'
        widget.setObjectName(desc.fullName());
        widget.setAccessibleName(desc.fullName());
        widget.setGeometry(twipsToPixels(desc.left), twipsToPixels(desc.top), twipsToPixels(desc.width),
                           twipsToPixels(desc.height));
        if (desc.font)
            widget.setFont(fontOf(*desc.font));
        if (desc.backColour) {
            if (auto *label = qobject_cast<Label *>(&widget))
                label->setBackColor(*desc.backColour);
            else
                setBackground(widget, QPalette::Base, *desc.backColour);
        }
        widget.setVisible(desc.visible);
    }

    QWidget &m_window;
    DriveTable &m_drives;
    Picture m_notTicked;
    Picture m_ticked;
    Controls m_controls;
    std::multimap<int, QWidget *> m_tabOrder;
};

} // namespace

Controls buildWindow(QWidget &window, DriveTable &drives)
{
    return Builder(window, drives).build();
}
