#pragma once

#include "app/CopieurBas.h"
#include "copy/SlotJob.h"
#include "ui/Controls.h"
#include "ui/EventGuard.h"
#include "ui/PopUpMenu.h"
#include "ui/SlotPresentation.h"

#include <QList>
#include <QWidget>

#include <array>
#include <functional>
#include <memory>

class ActiveRun;
class DriveTable;
class FileOperations;
class FileSystemObject;
class MessageBox;
class NotificationSource;
class UDisksClient;
struct VolumeNotification;

// The one window. Every behaviour is one of its handlers, a plain member
// function that takes the slot index; they share only the slot table.
class Copieur : public QWidget, public FailureReporter
{
    Q_OBJECT
public:
    using FileSystemObjectFactory = std::function<std::unique_ptr<FileSystemObject>()>;

    struct Services
    {
        DriveTable &drives;
        MessageBox &messages;
        FileSystemObjectFactory fileSystem; ///< a fresh drive-facts service for each call
        FileOperations &files;
        NotificationSource *notifications = nullptr; ///< none in tests that call the handlers directly
        UDisksClient *disks = nullptr;               ///< none where keys are neither mounted nor ejected
    };

    explicit Copieur(Services services, QWidget *parent = nullptr);
    ~Copieur() override;

    CopieurBas &bas() { return m_bas; }
    Controls &controls() { return m_controls; }
    bool isCopying() const { return m_run != nullptr; }

    // Start-up and shutdown. During a run the operator is asked first; a stop signal
    // is not asked: either way the copies stop and the program ends within two seconds.
    void Form_Load();
    void Quitter_Click();
    void StopSignals_Received();

    // Selection.
    void Cochage(int slot);
    void Coche_Click(int slot) { Cochage(slot); }
    void Controle_Click(int slot) { Cochage(slot); }

    // Browsing.
    void Drive1_Change(int index);
    void Dir1_Change(int index);
    void File1_Click(int index);

    // Keys coming and going.
    static QString LettreDuMasque(qint32 unitMask);
    void SysInfo1_DeviceArrival(qint32 deviceType, qint32 unitMask, const QString &deviceName, qint32 deviceData);
    void SysInfo1_DeviceRemoveComplete(qint32 deviceType, qint32 unitMask, const QString &deviceName,
                                       qint32 deviceData);

    // The copy run.
    void LanceCopie_Click();

    // The keys the disk service mounts and ejects. A right click on a slot's tick or
    // status box opens its menu.
    QList<MenuEntry> MenuCle(int slot);
    void EjecterCle(int slot);
    void EjecterTerminees();
    void UDisks_MountFailed(const QString &device, const QString &cause);
    void UDisks_EjectFailed(const QString &device, const QString &cause);

    void reportUnhandled(const Failure &failure) override;

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    void wireEvents();
    void present(int slot, SlotState state);
    bool isFinishedKey(int slot) const; ///< a key in its slot, showing its copy done
    void showDestination(int slot);
    SlotJob jobFor(int slot, const QString &name) const;
    VolumePlace placeOf(const QString &drivePath, int numberWhenEmpty, quint64 volume = 0) const;
    void slotEnded(const SlotResult &result);
    void runEnded();
    void askToStopAndQuit();
    void stopAndQuit();

    Services m_services;
    CopieurBas m_bas;
    Controls m_controls;
    std::array<bool, LastSlot + 1> m_recoveringDrive{};
    SlotArray<SlotState> m_shown; ///< what each slot shows, for the menu's "finished" keys
    quint64 m_sourceVolume = 0;   ///< the serial of the drive the source file was picked on
    std::unique_ptr<ActiveRun> m_run;
    QList<SlotResult> m_results;
    bool m_quitting = false; ///< the run was asked to stop so that the program ends
};
