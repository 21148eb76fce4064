#include "app/Copieur.h"

#include "app/ActiveRun.h"
#include "drives/DrivePath.h"
#include "drives/DriveTable.h"
#include "drives/Failure.h"
#include "ui/FileList.h"
#include "ui/Label.h"
#include "ui/MessageBox.h"
#include "ui/SlotPresentation.h"
#include "ui/VkCommand.h"

#include <QCoreApplication>
#include <QLineEdit>

#include <array>
#include <atomic>
#include <memory>

namespace {

// Progress arrives on the workers; each status box is told on the window's thread,
// once per visible step.
std::function<void(int, qint64, qint64)> progressOn(Controls &controls, QObject *context)
{
    auto shown = std::make_shared<std::array<std::atomic<int>, LastSlot + 1>>();
    for (std::atomic<int> &permille : *shown)
        permille = -1;
    return [&controls, context, shown](int slot, qint64 done, qint64 total) {
        const int permille = total > 0 ? int(done * 1000 / total) : 1000;
        if ((*shown)[size_t(slot)].exchange(permille) == permille)
            return;
        QMetaObject::invokeMethod(
            context, [&controls, slot, permille] { controls.Controle[slot]->setProgress(permille / 1000.0); },
            Qt::QueuedConnection);
    };
}

} // namespace

// Every selected slot turns yellow at once, then works on its own worker; each
// slot shows its end as soon as it has it, and the last failure in slot order is
// reported once all have ended. Until then the window repaints but takes no input
// other than the way out.
void Copieur::LanceCopie_Click()
{
    if (m_run)
        return;
    m_bas.ModeKill = m_controls.FichKill->text().contains(QLatin1Char('.')) ? FlagTrue : FlagFalse;
    // The name on the key is the source file's own, whatever the source list shows now.
    const QString name = DrivePath::fileName(m_bas.FichSource);

    QList<SlotJob> jobs;
    for (int i = FirstSlot; i <= LastSlot; ++i) {
        if (m_bas.Cochee[i] == FlagFalse)
            continue;
        Label &status = *m_controls.Controle[i];
        present(i, SlotState::Copying);
        status.setProgress(0);
        status.refresh();
        jobs.append(jobFor(i, name));
    }
    if (jobs.isEmpty())
        return;

    m_results.clear();
    const auto slotDone = [this](const SlotResult &result) {
        QMetaObject::invokeMethod(
            this, [this, result] { slotEnded(result); }, Qt::QueuedConnection);
    };
    const auto allDone = [this] {
        QMetaObject::invokeMethod(
            this, [this] { runEnded(); }, Qt::QueuedConnection);
    };
    m_run = std::make_unique<ActiveRun>(*this, m_controls.Quitter, m_services.notifications, m_services.files,
                                        ParallelRun::Callbacks{progressOn(m_controls, this), slotDone, allDone});
    m_run->start(jobs);
}

SlotJob Copieur::jobFor(int slot, const QString &name) const
{
    SlotJob job;
    job.slot = slot;
    job.name = name;
    job.source = placeOf(name.isEmpty() ? QString() : m_bas.FichSource, FailureNumber::FileNotFound, m_sourceVolume);
    job.destination = placeOf(m_bas.CheminDest[slot], FailureNumber::PathNotFound);
    job.listing = placeOf(m_controls.File1[slot]->path(), FailureNumber::PathNotFound);
    if (m_bas.ModeKill)
        job.deleteName = m_controls.FichKill->text();
    return job;
}

// Only names and numbers are looked up here; the worker checks the volume itself.
// With `volume`, the drive must still be that giving of its letter.
VolumePlace Copieur::placeOf(const QString &drivePath, int numberWhenEmpty, quint64 volume) const
{
    VolumePlace place;
    try {
        if (drivePath.isEmpty())
            throw failureFor(numberWhenEmpty);
        const QChar letter = DrivePath::parse(drivePath).letter;
        const std::optional<Drive> drive = m_services.drives.drive(letter);
        const bool system = letter == QLatin1Char('C');
        if (!drive || (!system && drive->device == 0) || (volume != 0 && drive->serial != volume))
            throw failureFor(FailureNumber::DiskNotReady);
        place.root = drive->root;
        place.device = system ? 0 : drive->device;
        place.path = DrivePath::toNative(drivePath, m_services.drives);
    } catch (const Failure &failure) {
        place.unresolved = failure;
    }
    return place;
}

void Copieur::slotEnded(const SlotResult &result)
{
    const int i = result.slot;
    m_results.append(result);
    m_controls.Destin->setCaption(m_bas.CheminDest[i] + DrivePath::fileName(m_bas.FichSource));
    m_controls.Controle[i]->setProgress(-1);
    present(i, result.copied ? SlotState::Done : SlotState::Failed);
    m_controls.File1[i]->showRead(result.files.value_or(QStringList()));
}

void Copieur::runEnded()
{
    m_run.reset(); // every worker has ended: this joins at once
    if (m_quitting)
        return QCoreApplication::quit();
    if (const std::optional<Failure> failure = lastFailureInSlotOrder(m_results))
        m_services.messages.show(failure->description(), 16);
}
