#include "copy/KeyFormat.h"
#include "copy/LinuxFileOperations.h"
#include "CopyChecks.h"
#include "ScriptedCalls.h"

#include <QTest>

#include <unistd.h>

using Kind = ScriptedCalls::Kind;

constexpr qsizetype MiB = 1 << 20;
const QByteArray OldContent = "the previous file, which must survive";
enum Special { CorruptReadBack = -1, SourceChanges = -2 };

// A source file and an older keys/data.bin to replace, copied through scripted calls.
struct Copy
{
    explicit Copy(qsizetype size) : content(TempTree::random(size)) {}
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
    // faults that can be worked around (number 0) end in a complete copy. A copy that reads
    // back wrong blames the key (57), unless the source changed meanwhile (75).
    void faultsLeaveNoTrace_data()
    {
        QTest::addColumn<int>("kind");
        QTest::addColumn<int>("nth");
        QTest::addColumn<int>("err");
        QTest::addColumn<int>("number");
        const auto row = [](const char *name, int kind, int nth, int err, int number) { QTest::newRow(name) << kind << nth << err << number; };
        row("open source", Kind::OpenSource, 1, EACCES, 70);
        row("open folder", Kind::OpenFolder, 1, EIO, 57);
        row("look at target", Kind::Fstatat, 1, EACCES, 70);
        row("create temporary", Kind::CreateTemporary, 1, ENOSPC, 61);
        row("read", Kind::Read, 2, EIO, 57);
        row("write", Kind::Write, 2, ENOSPC, 61);
        row("wait for writeback", Kind::SyncFileRange, 3, EIO, 57);
        row("futimens", Kind::Futimens, 1, EACCES, 70);
        row("fsync", Kind::FsyncFile, 1, ENOSPC, 61);
        row("syncfs", Kind::SyncFs, 1, EIO, 57);
        row("drop cache", Kind::Fadvise, 1, EIO, 57);
        row("read back source", Kind::ReadBackSource, 2, EIO, 57);
        row("read back", Kind::ReadBack, 2, EIO, 57);
        row("close", Kind::CloseTemporary, 1, ENOSPC, 61);
        row("rename", Kind::Rename, 1, EACCES, 70);
        row("folder fsync", Kind::FsyncFolder, 1, EIO, 57);
        row("temporary name taken", Kind::CreateTemporary, 1, EEXIST, 0);
        row("no writeback control", Kind::SyncFileRange, 1, EINVAL, 0);
        row("folder cannot sync", Kind::FsyncFolder, 1, EINVAL, 0);
        row("short writes, no fault", Kind::Write, 0, 0, 0); // nth 0: no call fails
        row("copy reads back wrong", CorruptReadBack, 0, 0, 57);
        row("source changed meanwhile", SourceChanges, 0, 0, 75);
    }
    void faultsLeaveNoTrace()
    {
        QFETCH(int, kind);
        QFETCH(int, nth);
        QFETCH(int, err);
        QFETCH(int, number);
        Copy copy(kind == Kind::SyncFileRange ? 40 * MiB : 3 * MiB + 123); // writeback runs by 16 MiB
        if (kind >= 0)
            nth == 0 ? copy.calls.cutWritesShort() : copy.calls.failCall(Kind(kind), nth, err);
        copy.calls.corruptReadBack(kind == CorruptReadBack ? MiB + MiB / 2 : -1);
        QCOMPARE(copy.run([&, changed = false](qint64, qint64) mutable {
            QFile source(copy.source);
            changed = changed || (kind == SourceChanges && source.open(QIODevice::Append) && source.write("!") == 1);
        }), number);
        QVERIFY(kind < 0 || copy.calls.count(Kind(kind)) >= qMax(nth, 1)); // the call was made, and failed when told to
        QCOMPARE(leftovers(copy.tree.path(QStringLiteral("keys"))), QStringList());
        // The folder is synced after the rename: by then the checked copy has replaced the target.
        QCOMPARE(TempTree::read(copy.target), number == 0 || kind == Kind::FsyncFolder ? copy.content : OldContent);
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
        QTest::newRow("FAT, 4 GiB less a byte") << int(Family::Fat) << "a.bin" << KeyFormat::FatLargestFile << "";
        QTest::newRow("FAT, 4 GiB") << int(Family::Fat) << "a.bin" << KeyFormat::FatLargestFile + 1
                                    << "Fichier trop volumineux pour le format de la clé (FAT : 4 Go au plus)";
        QTest::newRow("exFAT, 5 GiB") << int(Family::ExFat) << "a.bin" << (qint64(5) << 30) << "";
    }
    void formatLimits()
    {
        QFETCH(int, family);
        QFETCH(QString, name);
        QFETCH(qint64, size);
        QFETCH(QString, message);
        try {
            KeyFormat::requireStorable(KeyFormat::Family(family), name, size);
            QCOMPARE(QString(), message);
        } catch (const Failure &failure) {
            QCOMPARE(failure.description(), message);
        }
    }

    // A link at the target's name is replaced, not followed; the same file by its own path or
    // by a hard link is left alone.
    void linksAndTheSameFile()
    {
        Copy copy(MiB + 5);
        const QString outside = copy.tree.createFile(QStringLiteral("outside/secret"), OldContent);
        const QString other = copy.tree.path(QStringLiteral("keys/other.bin"));
        QVERIFY(QFile::remove(copy.target) && QFile::link(outside, copy.target));
        std::pair<qint64, qint64> last;
        QCOMPARE(copy.run([&](qint64 done, qint64 total) { last = {done, total}; }), 0);
        QCOMPARE(TempTree::read(outside), OldContent);
        QCOMPARE(last, (std::pair<qint64, qint64>(2 * (MiB + 5), 2 * (MiB + 5)))); // progress ends complete
        QCOMPARE(link(QFile::encodeName(copy.target).constData(), QFile::encodeName(other).constData()), 0);
        for (const QString &source : {copy.target, other})
            QCOMPARE(failureOf([&] { copy.files.copyFile(source, copy.target); }), 0);
        QCOMPARE(copy.calls.count(Kind::CreateTemporary), 1);
        QCOMPARE(TempTree::read(copy.target), copy.content);
    }
};

QTEST_GUILESS_MAIN(TestCopyFile)
#include "test_copy_file.moc"
