#include "copy/LinuxFileOperations.h"
#include "CopyChecks.h"
#include "ScriptedCalls.h"
#include "support/TempTree.h"

#include <QFile>
#include <QTest>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace CopyChecks;
using Kind = ScriptedCalls::Kind;

namespace {

constexpr qsizetype MiB = 1 << 20;
const QByteArray OldContent = QByteArrayLiteral("the previous file, which must survive");

struct stat statusOf(const QString &path)
{
    struct stat status = {};
    lstat(QFile::encodeName(path).constData(), &status);
    return status;
}

} // namespace

class TestCopyFile : public QObject
{
    Q_OBJECT

private slots:
    void failsCleanly_data()
    {
        QTest::addColumn<int>("kind");
        QTest::addColumn<int>("nth");
        QTest::addColumn<qsizetype>("size");
        QTest::addColumn<int>("err");
        QTest::addColumn<int>("number");
        QTest::addColumn<bool>("targetKept");
        const struct { const char *name; Kind kind; int nth; qsizetype size; } calls[] = {
            {"open source", Kind::OpenSource, 1, 3 * MiB}, {"open folder", Kind::OpenFolder, 1, 3 * MiB},
            {"look at target", Kind::Fstatat, 1, 3 * MiB}, {"create temporary", Kind::CreateTemporary, 1, 3 * MiB},
            {"read", Kind::Read, 2, 3 * MiB}, {"write", Kind::Write, 2, 3 * MiB},
            {"start writeback", Kind::SyncFileRange, 1, 40 * MiB}, {"wait writeback", Kind::SyncFileRange, 3, 40 * MiB},
            {"futimens", Kind::Futimens, 1, 3 * MiB}, {"fsync", Kind::FsyncFile, 1, 3 * MiB},
            {"syncfs", Kind::SyncFs, 1, 3 * MiB}, {"drop cache", Kind::Fadvise, 1, 3 * MiB},
            {"read back source", Kind::ReadBackSource, 2, 3 * MiB}, {"read back", Kind::ReadBack, 2, 3 * MiB},
            {"close", Kind::CloseTemporary, 1, 3 * MiB}, {"rename", Kind::Rename, 1, 3 * MiB},
            {"folder fsync", Kind::FsyncFolder, 1, 3 * MiB},
        };
        const struct { const char *name; int err; int number; } errors[] = {
            {"ENOSPC", ENOSPC, 61}, {"EIO", EIO, 57}, {"EACCES", EACCES, 70},
        };
        for (const auto &call : calls) {
            for (const auto &error : errors) {
                // The folder is synced after the rename: by then the verified copy has replaced the target.
                QTest::addRow("%s %s", call.name, error.name) << int(call.kind) << call.nth << call.size
                    << error.err << error.number << (call.kind != Kind::FsyncFolder);
            }
        }
    }
    void failsCleanly()
    {
        QFETCH(int, kind);
        QFETCH(int, nth);
        QFETCH(qsizetype, size);
        QFETCH(int, err);
        QFETCH(int, number);
        QFETCH(bool, targetKept);
        const TempTree tree;
        const QByteArray content = randomBytes(size + 123);
        const QString source = tree.createFile(QStringLiteral("data.bin"), content);
        const QString target = tree.createFile(QStringLiteral("keys/data.bin"), OldContent);
        ScriptedCalls calls;
        calls.failCall(Kind(kind), nth, err);
        LinuxFileOperations files(calls);

        QCOMPARE(copyOutcome(files, source, target), number);
        QVERIFY(calls.count(Kind(kind)) >= nth);
        QCOMPARE(leftovers(tree.path(QStringLiteral("keys"))), QStringList());
        QCOMPARE(TempTree::read(target), targetKept ? OldContent : content);
        QCOMPARE(TempTree::read(source), content);
    }

    void retriesAndRecovers_data()
    {
        QTest::addColumn<int>("kind");
        QTest::addColumn<int>("err");
        QTest::addColumn<qsizetype>("size");
        QTest::addColumn<bool>("shortWrites");
        QTest::newRow("interrupted read") << int(Kind::Read) << EINTR << 3 * MiB << false;
        QTest::newRow("interrupted write") << int(Kind::Write) << EINTR << 3 * MiB << false;
        QTest::newRow("interrupted read back") << int(Kind::ReadBack) << EINTR << 3 * MiB << false;
        QTest::newRow("interrupted fsync") << int(Kind::FsyncFile) << EINTR << 3 * MiB << false;
        QTest::newRow("interrupted create") << int(Kind::CreateTemporary) << EINTR << 3 * MiB << false;
        QTest::newRow("temporary name taken") << int(Kind::CreateTemporary) << EEXIST << 3 * MiB << false;
        QTest::newRow("no writeback control") << int(Kind::SyncFileRange) << EINVAL << 40 * MiB << false;
        QTest::newRow("folder cannot sync") << int(Kind::FsyncFolder) << EINVAL << 3 * MiB << false;
        QTest::newRow("short writes") << int(Kind::Read) << 0 << 3 * MiB << true;
    }
    void retriesAndRecovers()
    {
        QFETCH(int, kind);
        QFETCH(int, err);
        QFETCH(qsizetype, size);
        QFETCH(bool, shortWrites);
        const TempTree tree;
        const QByteArray content = randomBytes(size + 7);
        const QString source = tree.createFile(QStringLiteral("data.bin"), content);
        const QString target = tree.createFile(QStringLiteral("keys/data.bin"), OldContent);
        ScriptedCalls calls;
        if (err != 0)
            calls.failCall(Kind(kind), 1, err);
        if (shortWrites)
            calls.cutWritesShort();
        LinuxFileOperations files(calls);

        QCOMPARE(copyOutcome(files, source, target), 0);
        QCOMPARE(TempTree::read(target), content);
        QCOMPARE(leftovers(tree.path(QStringLiteral("keys"))), QStringList());
        if (err == EEXIST)
            QCOMPARE(QSet<QByteArray>(calls.temporaryNames().cbegin(), calls.temporaryNames().cend()).size(), 2);
    }

    void refusesBadPaths_data()
    {
        QTest::addColumn<QString>("source");
        QTest::addColumn<QString>("target");
        QTest::addColumn<int>("number");
        QTest::newRow("missing source") << "nothing.bin" << "keys/x.bin" << 53;
        QTest::newRow("source is a folder") << "folder" << "keys/x.bin" << 75;
        QTest::newRow("source is a fifo") << "fifo" << "keys/x.bin" << 75;
        QTest::newRow("source below a file") << "data.bin/x" << "keys/x.bin" << 76;
        QTest::newRow("missing target folder") << "data.bin" << "nokeys/x.bin" << 76;
        QTest::newRow("target folder is a file") << "data.bin" << "data.bin/x.bin" << 76;
        QTest::newRow("target is a folder") << "data.bin" << "keys/sub" << 75;
        QTest::newRow("no target name") << "data.bin" << "keys/" << 52;
        QTest::newRow("target name climbs") << "data.bin" << "keys/.." << 52;
    }
    void refusesBadPaths()
    {
        QFETCH(QString, source);
        QFETCH(QString, target);
        QFETCH(int, number);
        const TempTree tree;
        tree.createFile(QStringLiteral("data.bin"));
        tree.createDir(QStringLiteral("folder"));
        tree.createDir(QStringLiteral("keys/sub"));
        QCOMPARE(mkfifo(QFile::encodeName(tree.path(QStringLiteral("fifo"))).constData(), 0600), 0);
        LinuxFileOperations files;

        QCOMPARE(copyOutcome(files, tree.path(source), tree.path(target)), number);
        QCOMPARE(QDir(tree.path(QStringLiteral("keys"))).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
                 QStringList{QStringLiteral("sub")});
    }

    void replacesTarget_data()
    {
        QTest::addColumn<QString>("existing");
        QTest::newRow("no file") << "none";
        QTest::newRow("longer file") << "file";
        QTest::newRow("read-only file") << "read-only";
        QTest::newRow("link to a file outside") << "link";
        QTest::newRow("dangling link") << "dangling";
    }
    void replacesTarget()
    {
        QFETCH(QString, existing);
        const TempTree tree;
        const QByteArray content = randomBytes(MiB + 5);
        const QString source = tree.createFile(QStringLiteral("data.bin"), content);
        const QString outside = tree.createFile(QStringLiteral("outside/secret"), OldContent);
        const QString target = tree.path(QStringLiteral("keys/data.bin"));
        tree.createDir(QStringLiteral("keys"));
        if (existing == u"file" || existing == u"read-only")
            tree.createFile(QStringLiteral("keys/data.bin"), randomBytes(3 * MiB, 2));
        if (existing == u"read-only")
            QFile::setPermissions(target, QFile::ReadOwner);
        if (existing == u"link" || existing == u"dangling")
            QVERIFY(QFile::link(existing == u"link" ? outside : tree.path(QStringLiteral("gone")), target));
        const struct timespec times[2] = {{1000000000, 0}, {981173045, 123456789}};
        QCOMPARE(utimensat(AT_FDCWD, QFile::encodeName(source).constData(), times, 0), 0);
        LinuxFileOperations files;

        QCOMPARE(copyOutcome(files, source, target), 0);
        const struct stat status = statusOf(target);
        QVERIFY(S_ISREG(status.st_mode));
        QCOMPARE(status.st_mtim.tv_sec, times[1].tv_sec);
        QCOMPARE(status.st_mtim.tv_nsec, times[1].tv_nsec);
        QCOMPARE(TempTree::read(target), content);
        QCOMPARE(TempTree::read(outside), OldContent);
        QVERIFY(!QFile::exists(tree.path(QStringLiteral("gone"))));
    }

    void copyOntoItselfChangesNothing_data()
    {
        QTest::addColumn<bool>("hardLink");
        QTest::newRow("same path") << false;
        QTest::newRow("hard link") << true;
    }
    void copyOntoItselfChangesNothing()
    {
        QFETCH(bool, hardLink);
        const TempTree tree;
        const QString source = tree.createFile(QStringLiteral("keys/data.bin"), OldContent);
        const QString target = hardLink ? tree.path(QStringLiteral("keys/other.bin")) : source;
        if (hardLink)
            QCOMPARE(link(QFile::encodeName(source).constData(), QFile::encodeName(target).constData()), 0);
        const struct stat before = statusOf(source);
        ScriptedCalls calls;
        LinuxFileOperations files(calls);

        QCOMPARE(copyOutcome(files, source, target), 0);
        QCOMPARE(calls.count(Kind::CreateTemporary), 0);
        QCOMPARE(calls.count(Kind::Rename), 0);
        QCOMPARE(statusOf(target).st_ino, before.st_ino);
        QCOMPARE(TempTree::read(target), OldContent);
    }

    void reportsProgress_data()
    {
        QTest::addColumn<qsizetype>("size");
        QTest::addColumn<bool>("verify");
        QTest::newRow("read back") << 3 * MiB + 1 << true;
        QTest::newRow("no read back") << 3 * MiB + 1 << false;
        QTest::newRow("empty file") << qsizetype(0) << true;
    }
    void reportsProgress()
    {
        QFETCH(qsizetype, size);
        QFETCH(bool, verify);
        const TempTree tree;
        const QByteArray content = randomBytes(size);
        const QString source = tree.createFile(QStringLiteral("data.bin"), content);
        const QString target = tree.path(QStringLiteral("keys/data.bin"));
        tree.createDir(QStringLiteral("keys"));
        LinuxFileOperations files;
        files.setVerify(verify);
        QList<QPair<qint64, qint64>> steps;

        QCOMPARE(copyOutcome(files, source, target, [&](qint64 done, qint64 total) { steps.append({done, total}); }), 0);
        QCOMPARE(TempTree::read(target), content);
        QVERIFY(!steps.isEmpty());
        const qint64 total = verify ? 2 * size : size;
        QCOMPARE(steps.constLast(), qMakePair(total, total));
        for (qsizetype i = 1; i < steps.size(); ++i) {
            QVERIFY(steps[i].first >= steps[i - 1].first);
            QCOMPARE(steps[i].second, total);
        }
        QVERIFY(steps.size() >= (verify ? 8 : 4) || size == 0);
    }

    void checksTheCopy_data()
    {
        QTest::addColumn<qint64>("corruptAt");
        QTest::addColumn<bool>("verify");
        QTest::addColumn<int>("number");
        QTest::newRow("first byte") << qint64(0) << true << 57;
        QTest::newRow("second buffer") << qint64(MiB + MiB / 2) << true << 57;
        QTest::newRow("last byte") << qint64(3 * MiB - 1) << true << 57;
        QTest::newRow("not read back") << qint64(0) << false << 0;
    }
    void checksTheCopy()
    {
        QFETCH(qint64, corruptAt);
        QFETCH(bool, verify);
        QFETCH(int, number);
        const TempTree tree;
        const QByteArray content = randomBytes(3 * MiB);
        const QString source = tree.createFile(QStringLiteral("data.bin"), content);
        const QString target = tree.createFile(QStringLiteral("keys/data.bin"), OldContent);
        ScriptedCalls calls;
        calls.corruptReadBack(corruptAt);
        LinuxFileOperations files(calls);
        files.setVerify(verify);

        QCOMPARE(copyOutcome(files, source, target), number);
        QCOMPARE(leftovers(tree.path(QStringLiteral("keys"))), QStringList());
        QCOMPARE(TempTree::read(target), number == 0 ? content : OldContent);
        QCOMPARE(calls.count(Kind::ReadBack) > 0, verify);
    }

    // The copy must be on the device and checked there before it takes the target's name.
    void replacesOnlyWhatWasCheckedOnTheDevice()
    {
        const TempTree tree;
        const QString source = tree.createFile(QStringLiteral("data.bin"), randomBytes(2 * MiB));
        const QString target = tree.createFile(QStringLiteral("keys/data.bin"), OldContent);
        ScriptedCalls calls;
        LinuxFileOperations files(calls);

        QCOMPARE(copyOutcome(files, source, target), 0);
        const QList<Kind> &log = calls.log();
        const QList<Kind> milestones = {Kind::Futimens, Kind::FsyncFile, Kind::SyncFs, Kind::Fadvise,
                                        Kind::ReadBack, Kind::CloseTemporary, Kind::Rename, Kind::FsyncFolder};
        QVERIFY(log.lastIndexOf(Kind::Write) < log.indexOf(milestones.first()));
        for (qsizetype i = 1; i < milestones.size(); ++i)
            QVERIFY2(log.lastIndexOf(milestones[i - 1]) < log.indexOf(milestones[i]), qPrintable(QString::number(i)));
    }
};

QTEST_GUILESS_MAIN(TestCopyFile)
#include "test_copy_file.moc"
