#pragma once

#include "app/Copieur.h"
#include "devices/LinuxDriveFacts.h"
#include "devices/NotificationSource.h"
#include "drives/DrivePath.h"
#include "drives/DriveTable.h"
#include "support/ScriptedFileOperations.h"
#include "support/ScriptedMessages.h"
#include "support/TempTree.h"
#include "ui/DriveList.h"
#include "ui/FileList.h"
#include "ui/FolderList.h"
#include "ui/Label.h"
#include "ui/TickImage.h"
#include "ui/VkCommand.h"

#include <QLineEdit>
#include <QMap>
#include <QTest>

// A window on scripted services, with drives that tests give letters to.
struct WindowFixture
{
    explicit WindowFixture(FileOperations *files = nullptr, NotificationSource *notifications = nullptr,
                           UDisksClient *disks = nullptr)
        : window(std::make_unique<Copieur>(
            Copieur::Services{drives, messages, [this] { return std::make_unique<LinuxFileSystemObject>(drives); },
                              files ? *files : scriptedFiles, notifications, disks}))
    { }

    // Gives a folder the next letter, as a key's mount would.
    QChar addDrive(const QString &root, const QString &label = {}) { return drives.assign(root, "/dev/test", label); }
    void arrive(QChar letter) { window->SysInfo1_DeviceArrival(2, unitMaskOf(letter), {}, 0); }
    // Presses the launch button's handler and waits for the run to end.
    bool runCopies()
    {
        window->LanceCopie_Click();
        return QTest::qWaitFor([this] { return !window->isCopying(); }, 20000);
    }

    CopieurBas &bas() { return window->bas(); }
    Controls &controls() { return window->controls(); }
    QString status(int slot) { return controls().Controle[slot]->caption(); }

    // The slots, 1 to 8, that match.
    QList<int> slotsWhere(const std::function<bool(int)> &test)
    {
        QList<int> found;
        for (int i = FirstSlot; i <= LastSlot; ++i)
            if (test(i))
                found << i;
        return found;
    }
    QList<int> selected()
    {
        return slotsWhere([&](int i) { return bas().Cochee[i] != FlagFalse; });
    }
    QList<int> ticked()
    {
        return slotsWhere([&](int i) { return controls().Coche[i]->picture() == controls().Coui->picture(); });
    }
    QList<int> showing(const QString &caption)
    {
        return slotsWhere([&](int i) { return status(i) == caption; });
    }
    QStringList letters() // up to the last slot that ever held a key
    {
        QStringList found;
        for (int i = FirstSlot; i <= LastSlot; ++i)
            found << bas().Lecteur[i];
        while (!found.isEmpty() && found.last().isEmpty())
            found.removeLast();
        return found;
    }
    // Native paths the scripted operations saw, as the drive paths they stand for.
    QStringList drivePaths(QStringList natives)
    {
        for (QString &path : natives)
            path = DrivePath::fromNative(path, drives);
        natives.sort();
        return natives;
    }

    DriveTable drives;
    ScriptedMessages messages;
    ScriptedFileOperations scriptedFiles;
    std::unique_ptr<Copieur> window;
};
