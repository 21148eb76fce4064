#pragma once

#include "app/Copieur.h"
#include "copy/FileOperations.h"
#include "devices/DriveFacts.h"
#include "devices/NotificationSource.h"
#include "drives/DriveTable.h"
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

#include <mutex>
#include <semaphore>

// Exactly the one message expected, or none for "".
inline bool showedOnly(const ScriptedMessages &m, const QString &expected) { return m.shown.size() == !expected.isEmpty() && (expected.isEmpty() || m.shown[0].prompt == expected); }

// Drive facts by letter; a letter it does not know fails as an absent drive would.
struct ScriptedFacts
{
    QString label;
    double totalSize = 1 << 30, availableSpace = 1 << 29;
    std::optional<Failure> failOnSize; ///< thrown when the total size is read
};

struct ScriptedFileSystem : FileSystemObject
{
    struct Drive : DriveObject
    {
        explicit Drive(const ScriptedFacts &facts) : f(facts) {}
        QString volumeName() const override { return f.label; }
        double totalSize() const override { return f.failOnSize ? throw *f.failOnSize : f.totalSize; }
        double availableSpace() const override { return f.availableSpace; }
        ScriptedFacts f;
    };
    explicit ScriptedFileSystem(const QMap<QChar, ScriptedFacts> &facts) : facts(facts) {}
    QString getAbsolutePathName(const QString &path) const override { return path.left(2).toUpper() + u'\\'; }
    QString getDriveName(const QString &path) const override { return path.left(2); }
    std::unique_ptr<DriveObject> getDrive(const QString &name) const override
    {
        return facts.contains(name.at(0)) ? std::make_unique<Drive>(facts[name.at(0)]) : throw failureFor(FailureNumber::DiskNotReady);
    }
    QMap<QChar, ScriptedFacts> facts;
};

// Records what the copy run asks, from any worker, and fails where it is told to; a copy to
// the held target waits until the test lets it go.
struct ScriptedFileOperations : FileOperations
{
    QStringList copies;    ///< "source -> target", sorted
    QStringList deletions; ///< "folder | name | spared"
    QMap<QString, Failure> failCopyTo, failDeleteIn; ///< by native target, by native folder
    QString held;
    std::binary_semaphore letGo{0};
    std::mutex lock;

    void copyFile(const QString &source, const QString &target, const Progress &progress, const KeyBounds &, std::stop_token) override
    {
        if (target == held && !letGo.try_acquire_for(std::chrono::seconds(20)))
            throw failureFor(FailureNumber::DeviceIO);
        record(copies, source + " -> " + target, failCopyTo.value(target, Failure(0, {})));
        if (progress)
            progress(1, 1);
    }
    void deleteMatching(const QString &folder, const QString &name, const KeyBounds &bounds, std::stop_token) override
    {
        record(deletions, folder + " | " + name + " | " + bounds.sparedName, failDeleteIn.value(folder, Failure(0, {})));
    }
    void record(QStringList &list, const QString &entry, const Failure &failure)
    {
        const std::lock_guard locked(lock);
        list.append(entry);
        list.sort();
        if (failure.number() != 0)
            throw failure;
    }
};

// A window on scripted services, with drives that tests give letters to.
struct WindowFixture
{
    explicit WindowFixture(FileOperations *files = nullptr, NotificationSource *notifications = nullptr)
        : window(std::make_unique<Copieur>(Copieur::Services{drives, messages, [this] { return std::make_unique<ScriptedFileSystem>(facts); },
                                                             files ? *files : scriptedFiles, notifications}))
    {
    }

    // Gives a folder the next letter, as a key's mount would.
    QChar addDrive(const QString &root, const QString &label = {})
    {
        const QChar letter = drives.assign(root, QStringLiteral("/dev/test"), label);
        facts[letter].label = label;
        return letter;
    }
    void arrive(QChar letter) { window->SysInfo1_DeviceArrival(2, unitMaskOf(letter), QStringLiteral("/dev/test"), 0); }
    void remove(QChar letter) { window->SysInfo1_DeviceRemoveComplete(2, unitMaskOf(letter), QStringLiteral("/dev/test"), 0); }
    // Presses the launch button's handler and waits for the run to end.
    void runCopies()
    {
        window->LanceCopie_Click();
        QVERIFY2(QTest::qWaitFor([this] { return !window->isCopying(); }, 20000), "the copy run did not end");
    }

    CopieurBas &bas() { return window->bas(); }
    Controls &controls() { return window->controls(); }
    QString status(int slot) { return controls().Controle[slot]->caption(); }
    quint32 colour(int slot) { return controls().Controle[slot]->backColor(); }
    bool ticked(int slot) { return controls().Coche[slot]->picture() == controls().Coui->picture(); }

    DriveTable drives;
    ScriptedMessages messages;
    QMap<QChar, ScriptedFacts> facts;
    ScriptedFileOperations scriptedFiles;
    std::unique_ptr<Copieur> window;
};
