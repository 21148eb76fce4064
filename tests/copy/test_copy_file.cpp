#include "copy/KeyFormat.h"
#include "copy/LinuxFileOperations.h"
#include "CopyChecks.h"
#include "ScriptedCalls.h"
#include "support/TempTree.h"

#include <QTest>

#include <unistd.h>

using Kind = ScriptedCalls::Kind;

constexpr qsizetype MiB = 1 << 20;
const QByteArray OldContent = QByteArrayLiteral("the previous file, which must survive");

// A source file and an older keys/data.bin to replace, copied through scripted calls.
struct Copy
{
    explicit Copy(qsizetype size) : content(randomBytes(size)) {}
    int run(const FileOperations::Progress &progress = {}) { return failureOf([&] { files.copyFile(source, target, progress); }); }
    const TempTree tree;
    const QByteArray content;
    const QString source = tree.createFile(QStringLiteral("data.bin"), content);
    const QString target = tree.createFile(QStringLiteral("keys/data.bin"), OldContent);
    ScriptedCalls calls;
    LinuxFileOperations files{calls};
};

class TestCopyFile : public QObject
{
    Q_OBJECT

private slots:
    // Whichever call fails, the copy leaves no temporary file and the old file as it was;
    // the faults that can be worked around (number 0) end in a complete copy.
    void faultsLeaveNoTrace_data()
    {
        QTest::addColumn<int>("kind");
        QTest::addColumn<int>("nth");
        QTest::addColumn<int>("err");
        QTest::addColumn<int>("number");
        QTest::newRow("open source") << int(Kind::OpenSource) << 1 << EACCES << 70;
        QTest::newRow("open folder") << int(Kind::OpenFolder) << 1 << EIO << 57;
        QTest::newRow("look at target") << int(Kind::Fstatat) << 1 << EACCES << 70;
        QTest::newRow("create temporary") << int(Kind::CreateTemporary) << 1 << ENOSPC << 61;
        QTest::newRow("read") << int(Kind::Read) << 2 << EIO << 57;
        QTest::newRow("write") << int(Kind::Write) << 2 << ENOSPC << 61;
        QTest::newRow("wait for writeback") << int(Kind::SyncFileRange) << 3 << EIO << 57;
        QTest::newRow("futimens") << int(Kind::Futimens) << 1 << EACCES << 70;
        QTest::newRow("fsync") << int(Kind::FsyncFile) << 1 << ENOSPC << 61;
        QTest::newRow("syncfs") << int(Kind::SyncFs) << 1 << EIO << 57;
        QTest::newRow("drop cache") << int(Kind::Fadvise) << 1 << EIO << 57;
        QTest::newRow("read back source") << int(Kind::ReadBackSource) << 2 << EIO << 57;
        QTest::newRow("read back") << int(Kind::ReadBack) << 2 << EIO << 57;
        QTest::newRow("close") << int(Kind::CloseTemporary) << 1 << ENOSPC << 61;
        QTest::newRow("rename") << int(Kind::Rename) << 1 << EACCES << 70;
        QTest::newRow("folder fsync") << int(Kind::FsyncFolder) << 1 << EIO << 57;
        QTest::newRow("temporary name taken") << int(Kind::CreateTemporary) << 1 << EEXIST << 0;
        QTest::newRow("no writeback control") << int(Kind::SyncFileRange) << 1 << EINVAL << 0;
        QTest::newRow("folder cannot sync") << int(Kind::FsyncFolder) << 1 << EINVAL << 0;
        QTest::newRow("short writes, no fault") << int(Kind::Write) << 0 << 0 << 0; // nth 0: no call fails
    }
    void faultsLeaveNoTrace()
    {
        QFETCH(int, kind);
        QFETCH(int, nth);
        QFETCH(int, err);
        QFETCH(int, number);
        Copy copy(kind == Kind::SyncFileRange ? 40 * MiB : 3 * MiB + 123); // writeback runs by 16 MiB
        copy.calls.failCall(Kind(kind), nth, err);
        if (nth == 0)
            copy.calls.cutWritesShort();
        QCOMPARE(copy.run(), number);
        QVERIFY(copy.calls.count(Kind(kind)) >= qMax(nth, 1)); // the call was made, and failed when told to
        QCOMPARE(leftovers(copy.tree.path(QStringLiteral("keys"))), QStringList());
        // The folder is synced after the rename: by then the checked copy has replaced the target.
        QCOMPARE(TempTree::read(copy.target), number == 0 || kind == Kind::FsyncFolder ? copy.content : OldContent);
    }

    // A copy that reads back wrong blames the key, unless the source changed meanwhile.
    void readBackBlamesTheRightOne_data()
    {
        QTest::addColumn<bool>("sourceChanges");
        QTest::addColumn<QString>("message");
        QTest::newRow("the key") << false << "Erreur d'entrée/sortie de périphérique";
        QTest::newRow("the source") << true << "Le fichier source a changé pendant la copie";
    }
    void readBackBlamesTheRightOne()
    {
        QFETCH(bool, sourceChanges);
        QFETCH(QString, message);
        Copy copy(3 * MiB);
        copy.calls.corruptReadBack(sourceChanges ? -1 : MiB + MiB / 2);
        QString shown;
        bool changed = false;
        try {
            copy.files.copyFile(copy.source, copy.target, [&](qint64, qint64) {
                QFile source(copy.source);
                if (sourceChanges && !changed)
                    changed = source.open(QIODevice::Append) && source.write("!") == 1;
            });
        } catch (const Failure &failure) {
            shown = failure.description();
        }
        QCOMPARE(shown, message);
        QCOMPARE(changed, sourceChanges);
        QCOMPARE(TempTree::read(copy.target), OldContent);
    }

    // Names and sizes a key's format refuses fail before anything is written.
    void formatLimits_data()
    {
        QTest::addColumn<int>("family");
        QTest::addColumn<QString>("name");
        QTest::addColumn<qint64>("size");
        QTest::addColumn<QString>("message");
        using KeyFormat::Family;
        QTest::newRow("FAT, '?'") << int(Family::Fat) << "a?b.txt" << qint64(1) << "Nom ou numéro de fichier incorrect";
        QTest::newRow("exFAT, ':'") << int(Family::ExFat) << "a:b.txt" << qint64(1) << "Nom ou numéro de fichier incorrect";
        QTest::newRow("FAT, 4 GiB less a byte") << int(Family::Fat) << "a.bin" << KeyFormat::FatLargestFile << "";
        QTest::newRow("FAT, 4 GiB") << int(Family::Fat) << "a.bin" << KeyFormat::FatLargestFile + 1
                                    << "Fichier trop volumineux pour le format de la clé (FAT : 4 Go au plus)";
        QTest::newRow("exFAT, 5 GiB") << int(Family::ExFat) << "a.bin" << (qint64(5) << 30) << "";
        QTest::newRow("ext4 takes any name") << int(Family::Unix) << "a?b:c.txt" << qint64(1) << "";
    }
    void formatLimits()
    {
        QFETCH(int, family);
        QFETCH(QString, name);
        QFETCH(qint64, size);
        QFETCH(QString, message);
        QString shown;
        try {
            KeyFormat::requireStorable(KeyFormat::Family(family), name, size);
        } catch (const Failure &failure) {
            shown = failure.description();
        }
        QCOMPARE(shown, message);
    }

    // A link at the target's name is replaced by the copy; what it pointed to is left alone.
    void replacesALinkNotItsTarget()
    {
        Copy copy(MiB + 5);
        const QString outside = copy.tree.createFile(QStringLiteral("outside/secret"), OldContent);
        QVERIFY(QFile::remove(copy.target) && QFile::link(outside, copy.target));
        std::pair<qint64, qint64> last;
        QCOMPARE(copy.run([&](qint64 done, qint64 total) { last = {done, total}; }), 0);
        QCOMPARE(TempTree::read(copy.target), copy.content);
        QCOMPARE(TempTree::read(outside), OldContent);
        QCOMPARE(last, (std::pair<qint64, qint64>(2 * (MiB + 5), 2 * (MiB + 5)))); // progress ends complete
    }

    // The same file by its own path or by a hard link: nothing is written.
    void copyOntoItselfChangesNothing()
    {
        Copy copy(1);
        const QString other = copy.tree.path(QStringLiteral("keys/other.bin"));
        QCOMPARE(link(QFile::encodeName(copy.target).constData(), QFile::encodeName(other).constData()), 0);
        for (const QString &source : {copy.target, other})
            QCOMPARE(failureOf([&] { copy.files.copyFile(source, copy.target); }), 0);
        QCOMPARE(copy.calls.count(Kind::CreateTemporary), 0);
        QCOMPARE(TempTree::read(copy.target), OldContent);
    }
};

QTEST_GUILESS_MAIN(TestCopyFile)
#include "test_copy_file.moc"
