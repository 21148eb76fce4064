#pragma once

#include "app/Copieur.h"
#include "copy/FileOperations.h"
#include "devices/NotificationSource.h"
#include "devices/DriveFacts.h"
#include "drives/DriveTable.h"
#include "drives/Failure.h"
#include "support/TempTree.h"
#include "ui/DriveList.h"
#include "ui/FileList.h"
#include "ui/FolderList.h"
#include "ui/Label.h"
#include "ui/MessageBox.h"
#include "ui/TickImage.h"
#include "ui/VkCommand.h"

#include <QLineEdit>
#include <QMap>
#include <QMutex>
#include <QTest>

#include <memory>
#include <optional>

// Answers every message box at once and remembers what it showed.
struct ScriptedMessages : MessageBox
{
    struct Shown
    {
        QString prompt;
        int style = 0;
        QString title;
    };
    QList<Shown> shown;
    void show(const QString &prompt, int style, const QString &title) override { shown.append({prompt, style, title}); }
};

// Drive facts by letter; a letter it does not know fails as an absent drive would.
struct ScriptedFacts
{
    QString label;
    double totalSize = 0;
    double availableSpace = 0;
    std::optional<Failure> failOnSize; ///< thrown when the total size is read
};

class ScriptedFileSystem : public FileSystemObject
{
public:
    explicit ScriptedFileSystem(const QMap<QChar, ScriptedFacts> &facts) : m_facts(facts) {}

    QString getAbsolutePathName(const QString &path) const override
    {
        if (path.size() < 2 || path[1] != QLatin1Char(':'))
            throw failureFor(FailureNumber::DeviceUnavailable);
        return path.left(2).toUpper() + QLatin1Char('\\');
    }
    QString getDriveName(const QString &path) const override { return path.left(2); }
    std::unique_ptr<DriveObject> getDrive(const QString &driveName) const override
    {
        const auto found = m_facts.constFind(driveName.at(0));
        if (found == m_facts.constEnd())
            throw failureFor(FailureNumber::DiskNotReady);
        return std::make_unique<Drive>(*found);
    }

private:
    struct Drive : DriveObject
    {
        explicit Drive(const ScriptedFacts &facts) : m_facts(facts) {}
        QString volumeName() const override { return m_facts.label; }
        double totalSize() const override
        {
            if (m_facts.failOnSize)
                throw *m_facts.failOnSize;
            return m_facts.totalSize;
        }
        double availableSpace() const override { return m_facts.availableSpace; }
        ScriptedFacts m_facts;
    };
    QMap<QChar, ScriptedFacts> m_facts;
};

// Records what the copy run asks, from any worker, and fails where it is told to.
struct ScriptedFileOperations : FileOperations
{
    QStringList copies;    ///< "source -> target", sorted once the run is over
    QStringList deletions; ///< "folder | name | spared"
    QMap<QString, Failure> failCopyTo;   ///< by native target
    QMap<QString, Failure> failDeleteIn; ///< by native folder
    QMutex lock;

    void copyFile(const QString &source, const QString &target, const Progress &progress, const KeyBounds &) override
    {
        record(copies, source + QStringLiteral(" -> ") + target);
        if (progress)
            progress(1, 1);
        if (failCopyTo.contains(target))
            throw *failCopyTo.constFind(target);
    }
    void deleteMatching(const QString &folder, const QString &name, const KeyBounds &bounds) override
    {
        record(deletions, folder + QStringLiteral(" | ") + name + QStringLiteral(" | ") + bounds.sparedName);
        if (failDeleteIn.contains(folder))
            throw *failDeleteIn.constFind(folder);
    }
    void record(QStringList &list, const QString &entry)
    {
        const QMutexLocker locked(&lock);
        list.append(entry);
        list.sort();
    }
};

// A window on scripted services, with drives that tests give letters to.
class WindowFixture
{
public:
    explicit WindowFixture(FileOperations *files = nullptr, NotificationSource *notifications = nullptr)
        : m_files(files ? files : &m_scriptedFiles)
    {
        window = std::make_unique<Copieur>(Copieur::Services{
            drives, messages, [this] { return std::make_unique<ScriptedFileSystem>(facts); }, *m_files,
            notifications});
    }

    // Gives a temporary folder the next letter, as a key's mount would.
    QChar addDrive(const TempTree &tree, const QString &label = {})
    {
        const QChar letter = drives.assign(tree.root(), QStringLiteral("/dev/test"), label);
        facts[letter] = ScriptedFacts{label, 1024.0 * 1024 * 1024, 512.0 * 1024 * 1024, std::nullopt};
        return letter;
    }

    void arrive(QChar letter) { window->SysInfo1_DeviceArrival(2, unitMaskOf(letter), QStringLiteral("/dev/test"), 0); }
    void remove(QChar letter) { window->SysInfo1_DeviceRemoveComplete(2, unitMaskOf(letter), QStringLiteral("/dev/test"), 0); }

    // Presses the launch button's handler and waits for the run to end.
    void runCopies()
    {
        window->LanceCopie_Click();
        if (!QTest::qWaitFor([this] { return !window->isCopying(); }, 20000))
            QFAIL("the copy run did not end");
    }

    CopieurBas &bas() { return window->bas(); }
    Controls &controls() { return window->controls(); }
    QString status(int slot) { return controls().Controle[slot]->caption(); }
    quint32 colour(int slot) { return controls().Controle[slot]->backColor(); }
    bool ticked(int slot) { return controls().Coche[slot]->picture() == controls().Coui->picture(); }

    DriveTable drives;
    ScriptedMessages messages;
    QMap<QChar, ScriptedFacts> facts;
    ScriptedFileOperations m_scriptedFiles;
    FileOperations *m_files;
    std::unique_ptr<Copieur> window;
};
