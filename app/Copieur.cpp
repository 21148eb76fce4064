#include "app/Copieur.h"

#include "app/ActiveRun.h"
#include "devices/NotificationSource.h"
#include "devices/UDisksClient.h"
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

Copieur::Copieur(Services services, QWidget *parent)
    : QWidget(parent)
    , m_services(std::move(services))
{
    m_controls = buildWindow(*this, m_services.drives);
    wireEvents();
    Form_Load();
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
        for (QWidget *part :
             {static_cast<QWidget *>(m_controls.Coche[i]), static_cast<QWidget *>(m_controls.Controle[i])}) {
            part->setContextMenuPolicy(Qt::CustomContextMenu);
            connect(part, &QWidget::customContextMenuRequested, this,
                    [this, i, part](const QPoint &at) { popUpMenu(this, part->mapToGlobal(at), MenuCle(i)); });
        }
    }
    connect(m_controls.LanceCopie, &VkCommand::clicked, this,
            [this] { runUserEvent(this, [this] { LanceCopie_Click(); }); });
    connect(m_controls.Quitter, &VkCommand::clicked, this, [this] { Quitter_Click(); });

    if (m_services.disks) {
        connect(m_services.disks, &UDisksClient::mountFailed, this, &Copieur::UDisks_MountFailed);
        connect(m_services.disks, &UDisksClient::ejectFailed, this, &Copieur::UDisks_EjectFailed);
    }
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

void Copieur::present(int slot, SlotState state)
{
    presentSlot(m_controls, slot, state);
    m_shown[slot] = state;
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
