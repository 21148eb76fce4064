#include "app/Copieur.h"

#include "copy/BackgroundWork.h"
#include "copy/FileOperations.h"
#include "devices/NotificationSource.h"
#include "drives/DrivePath.h"
#include "drives/DriveTable.h"
#include "drives/Failure.h"
#include "state/SlotPresentation.h"
#include "ui/FileList.h"
#include "ui/Label.h"
#include "ui/MessageBox.h"

#include <QLineEdit>
#include <QPointer>

#include <atomic>
#include <optional>

namespace {

// Keeps volume notifications waiting, in order, and the window from closing, until the run is over.
class RunScope
{
public:
    RunScope(NotificationSource *notifications, bool &copying)
        : m_notifications(notifications)
        , m_copying(copying)
    {
        m_copying = true;
        if (m_notifications)
            m_notifications->hold();
    }
    ~RunScope()
    {
        m_copying = false;
        if (m_notifications)
            m_notifications->release();
    }
    RunScope(const RunScope &) = delete;
    RunScope &operator=(const RunScope &) = delete;

private:
    NotificationSource *m_notifications;
    bool &m_copying;
};

// Progress arrives on the copying thread; the status box is told on its own thread,
// once per visible step.
FileOperations::Progress progressOn(Label *status)
{
    auto shown = std::make_shared<std::atomic<int>>(-1);
    QPointer<Label> box(status);
    return [box, shown](qint64 done, qint64 total) {
        const int permille = total > 0 ? int(done * 1000 / total) : 1000;
        if (shown->exchange(permille) == permille)
            return;
        QMetaObject::invokeMethod(box, [box, permille] { if (box) box->setProgress(permille / 1000.0); },
                                  Qt::QueuedConnection);
    };
}

// A key pulled out during the run keeps its letter until the run ends; its mount
// point is then a bare folder of the system disk, which must receive nothing.
void requireVolume(const QString &drivePath, const DriveTable &drives)
{
    if (!drives.holdsItsVolume(DrivePath::parse(drivePath).letter))
        throw failureFor(FailureNumber::DiskNotReady);
}

} // namespace

void Copieur::LanceCopie_Click()
{
    // Each failure replaces the one before; the last one is reported once the run is over.
    std::optional<Failure> failureRecord;
    const auto orRecord = [&failureRecord](const std::function<void()> &action) {
        try {
            action();
        } catch (const Failure &failure) {
            failureRecord = failure;
        }
    };

    RunScope run(m_services.notifications, m_copying);
    m_bas.ModeKill = m_controls.FichKill->text().contains(QLatin1Char('.')) ? FlagTrue : FlagFalse;

    // The name on the key is the source file's own, whatever the source list shows now.
    const QString name = DrivePath::fileName(m_bas.FichSource);
    for (int i = FirstSlot; i <= LastSlot; ++i) {
        if (m_bas.Cochee[i] == FlagFalse)
            continue;
        Label &status = *m_controls.Controle[i];
        orRecord([&] {
            presentSlot(m_controls, i, SlotState::Copying);
            status.setProgress(0);
            status.refresh();
        });
        bool copied = false;
        orRecord([&] {
            copyToSlot(i, name);
            copied = true;
        });
        orRecord([&] { m_controls.Destin->setCaption(m_bas.CheminDest[i] + name); });
        if (m_bas.ModeKill)
            orRecord([&] { deleteInSlot(i); });
        orRecord([&] {
            status.setProgress(-1);
            presentSlot(m_controls, i, copied ? SlotState::Done : SlotState::Failed);
        });
        orRecord([&] { m_controls.File1[i]->refresh(); });
    }

    if (failureRecord && failureRecord->number() != 0)
        m_services.messages.show(failureRecord->description(), 16);
}

void Copieur::copyToSlot(int slot, const QString &name)
{
    if (m_bas.FichSource.isEmpty() || name.isEmpty())
        throw failureFor(FailureNumber::FileNotFound);
    if (m_bas.CheminDest[slot].isEmpty())
        throw failureFor(FailureNumber::PathNotFound);
    requireVolume(m_bas.FichSource, m_services.drives);
    requireVolume(m_bas.CheminDest[slot], m_services.drives);
    const QString source = DrivePath::toNative(m_bas.FichSource, m_services.drives);
    const QString target = DrivePath::toNative(m_bas.CheminDest[slot] + name, m_services.drives);
    const FileOperations::Progress progress = progressOn(m_controls.Controle[slot]);
    runWhileRepainting([&] { m_services.files.copyFile(source, target, progress); });
}

void Copieur::deleteInSlot(int slot)
{
    if (m_bas.CheminDest[slot].isEmpty())
        throw failureFor(FailureNumber::PathNotFound);
    requireVolume(m_bas.CheminDest[slot], m_services.drives);
    const QString folder = DrivePath::toNative(m_bas.CheminDest[slot], m_services.drives);
    const QString name = m_controls.FichKill->text();
    runWhileRepainting([&] { m_services.files.deleteMatching(folder, name); });
}
