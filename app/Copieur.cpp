#include "app/Copieur.h"

#include "copy/ParallelRun.h"
#include "devices/NotificationSource.h"
#include "drives/Failure.h"
#include "ui/DriveList.h"
#include "ui/EventGuard.h"
#include "ui/FileList.h"
#include "ui/FolderList.h"
#include "ui/Label.h"
#include "ui/MessageBox.h"
#include "ui/TickImage.h"
#include "ui/VkCommand.h"
#include "ui/WindowBuilder.h"

#include <QApplication>
#include <QCloseEvent>

Copieur::Copieur(Services services, QWidget *parent)
    : QWidget(parent)
    , m_services(std::move(services))
{
    m_controls = buildWindow(*this, m_services.drives);
    wireEvents();
    Form_Load();
    qApp->installEventFilter(this);
}

Copieur::~Copieur()
{
    m_run.reset();
    if (m_services.notifications)
        m_services.notifications->setHandlers({}, {});
}

void Copieur::wireEvents()
{
    for (int i = 0; i <= LastSlot; ++i) {
        m_controls.Drive1[i]->setChangeHandler([this, i] { Drive1_Change(i); });
        m_controls.Dir1[i]->setChangeHandler([this, i] { Dir1_Change(i); });
        m_controls.File1[i]->setClickHandler([this, i] { File1_Click(i); });
    }
    for (int i = FirstSlot; i <= LastSlot; ++i) {
        m_controls.Coche[i]->setClickHandler([this, i] { Coche_Click(i); });
        m_controls.Controle[i]->setClickHandler([this, i] { Controle_Click(i); });
    }
    connect(m_controls.LanceCopie, &VkCommand::clicked, this,
            [this] { runUserEvent(this, [this] { LanceCopie_Click(); }); });
    connect(m_controls.Quitter, &VkCommand::clicked, this, [this] { Quitter_Click(); });

    if (m_services.notifications) {
        m_services.notifications->setHandlers(
            [this](const VolumeNotification &n) {
                runUserEvent(this,
                             [&] { SysInfo1_DeviceArrival(n.deviceType, n.unitMask, n.deviceName, n.deviceData); });
            },
            [this](const VolumeNotification &n) {
                runUserEvent(
                    this, [&] { SysInfo1_DeviceRemoveComplete(n.deviceType, n.unitMask, n.deviceName, n.deviceData); });
            });
    }
}

void Copieur::reportUnhandled(const Failure &failure)
{
    m_services.messages.show(failure.description(), 16);
}

void Copieur::Form_Load()
{
    for (int k = FirstSlot; k <= LastSlot; ++k) {
        m_bas.Cochee[k] = FlagFalse;
        m_bas.Occupee[k] = FlagFalse;
    }
    m_bas.ModeKill = FlagFalse;
    m_controls.LanceCopie->setEnabled(false);
}

void Copieur::Quitter_Click()
{
    QCoreApplication::quit();
}

// Input made during a run is dropped: delivered later, a click would act on the
// finished run's window, and a held Return would start run after run.
bool Copieur::eventFilter(QObject *watched, QEvent *event)
{
    if (!isCopying() || !watched->isWidgetType() || static_cast<QWidget *>(watched)->window() != this)
        return false;
    switch (event->type()) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
    case QEvent::MouseButtonDblClick:
    case QEvent::Wheel:
    case QEvent::KeyPress:
    case QEvent::KeyRelease:
    case QEvent::Shortcut:
    case QEvent::ShortcutOverride:
    case QEvent::ContextMenu:
    case QEvent::TouchBegin:
    case QEvent::TouchUpdate:
    case QEvent::TouchEnd:
    case QEvent::Drop: return true;
    default: return false;
    }
}

void Copieur::closeEvent(QCloseEvent *event)
{
    // The workers write to the keys until the run ends: closing now would tear them down mid-file.
    if (isCopying())
        event->ignore();
    else
        QWidget::closeEvent(event);
}
