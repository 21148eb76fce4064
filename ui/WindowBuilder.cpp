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
#include <QHash>
#include <QLineEdit>

#include <functional>
#include <map>

namespace {

const QString windowName = QStringLiteral("Copieur");

// Stores a built control in its member of Controls; the row's index picks an array's element.
using Binder = std::function<void(Controls &, QWidget *, const ControlDesc &)>;

template<typename Widget>
Widget *as(QWidget *widget, const ControlDesc &desc)
{
    auto *typed = dynamic_cast<Widget *>(widget);
    if (!typed)
        qFatal("Window description: %s is not of the kind its member holds", qPrintable(desc.fullName()));
    return typed;
}

template<typename Widget>
Binder bind(Widget *Controls::*member)
{
    return [member](Controls &controls, QWidget *widget, const ControlDesc &desc) {
        if (desc.index >= 0)
            qFatal("Window description: %s is not an array", qPrintable(desc.fullName()));
        controls.*member = as<Widget>(widget, desc);
    };
}

template<typename Widget, int First, int Last>
Binder bind(IndexedArray<Widget *, First, Last> Controls::*member)
{
    return [member](Controls &controls, QWidget *widget, const ControlDesc &desc) {
        if (desc.index < First || desc.index > Last)
            qFatal("Window description: %s is outside its array", qPrintable(desc.fullName()));
        (controls.*member)[desc.index] = as<Widget>(widget, desc);
    };
}

// Each control of the window by the name its rows give it.
const std::map<QString, Binder> &binders()
{
    static const std::map<QString, Binder> table{
        {QStringLiteral("vkFrame1"), bind(&Controls::vkFrame1)},
        {QStringLiteral("vkFrame2"), bind(&Controls::vkFrame2)},
        {QStringLiteral("Drive1"), bind(&Controls::Drive1)},
        {QStringLiteral("Dir1"), bind(&Controls::Dir1)},
        {QStringLiteral("File1"), bind(&Controls::File1)},
        {QStringLiteral("Coche"), bind(&Controls::Coche)},
        {QStringLiteral("Controle"), bind(&Controls::Controle)},
        {QStringLiteral("Chemin"), bind(&Controls::Chemin)},
        {QStringLiteral("Destin"), bind(&Controls::Destin)},
        {QStringLiteral("Label1"), bind(&Controls::Label1)},
        {QStringLiteral("FichKill"), bind(&Controls::FichKill)},
        {QStringLiteral("Text1"), bind(&Controls::Text1)},
        {QStringLiteral("Cnon"), bind(&Controls::Cnon)},
        {QStringLiteral("Coui"), bind(&Controls::Coui)},
        {QStringLiteral("LanceCopie"), bind(&Controls::LanceCopie)},
        {QStringLiteral("Quitter"), bind(&Controls::Quitter)},
    };
    return table;
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
    { }

    Controls build()
    {
        const WindowSettings &settings = windowSettings();
        m_window.setWindowTitle(settings.title);
        m_window.setWindowIcon(programIcon());
        setBackground(m_window, QPalette::Window, settings.background);
        m_window.resize(twipsToPixels(settings.clientWidth), twipsToPixels(settings.clientHeight));

        for (const ControlDesc &desc : windowDescription()) {
            QWidget *widget = create(desc);
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
        QWidget *parent = desc.container == windowName ? &m_window : m_created.value(desc.container);
        if (!parent)
            qFatal("Window description: %s stands in %s, which is not built before it", qPrintable(desc.fullName()),
                   qPrintable(desc.container));
        QWidget *widget = nullptr;
        switch (desc.kind) {
        case ControlKind::Panel: widget = withSettings(new VkFrame(parent), desc); break;
        case ControlKind::Button: widget = withSettings(new VkCommand(parent), desc); break;
        case ControlKind::DriveList: widget = new DriveList(m_drives, parent); break;
        case ControlKind::FolderList: widget = new FolderList(m_drives, parent); break;
        case ControlKind::FileList: widget = new FileList(m_drives, parent); break;
        case ControlKind::Label: widget = createLabel(desc, parent); break;
        case ControlKind::TextBox: {
            auto *box = new QLineEdit(desc.caption, parent);
            box->setCursorPosition(0);
            widget = box;
            break;
        }
        case ControlKind::Image: {
            auto *image = new TickImage(parent);
            image->setPicture(desc.picture == PictureId::Ticked ? m_ticked : m_notTicked);
            widget = image;
            break;
        }
        }
        const auto binder = binders().find(desc.name);
        if (!widget || binder == binders().end())
            qFatal("Window description: no control of the window is named %s", qPrintable(desc.fullName()));
        binder->second(m_controls, widget, desc);
        m_created.insert(desc.fullName(), widget);
        return widget;
    }

    template<typename Settable>
    static Settable *withSettings(Settable *control, const ControlDesc &desc)
    {
        for (const auto &[key, value] : desc.settings)
            control->setSetting(key, value);
        return control;
    }

    static Label *createLabel(const ControlDesc &desc, QWidget *parent)
    {
        auto *label = new Label(parent);
        label->setCaption(desc.caption);
        label->setFocusPolicy(Qt::NoFocus);
        label->setAlignment(desc.centred ? Qt::AlignCenter : Qt::AlignLeft | Qt::AlignTop);
        if (desc.border)
            label->setFrameStyle(QFrame::Box | QFrame::Plain);
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
            widget.setFont(desc.font->toFont());
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
    QHash<QString, QWidget *> m_created; ///< by full name
    std::multimap<int, QWidget *> m_tabOrder;
};

} // namespace

Controls buildWindow(QWidget &window, DriveTable &drives)
{
    return Builder(window, drives).build();
}
