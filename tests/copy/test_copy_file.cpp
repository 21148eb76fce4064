#include "copy/KeyFormat.h"
#include "copy/LinuxFileOperations.h"
#include "CopyChecks.h"
#include "ScriptedCalls.h"

#include <QTest>

#include <unistd.h>

using Kind = ScriptedCalls::Kind;
// The call that fails, the how-manieth, with which errno; the failure number the copy ends
// with, 0 for none. nth 0: no call fails, but a ReadBack reads the copy back wrong and a
// ReadBackSource sees the source change meanwhile.
using Row = std::tuple<Kind, int, int, int>;

constexpr qsizetype MiB = 1 << 20;
const QByteArray OldContent = "the previous file, which must survive";

// A source file and an older keys/data.bin to replace, copied through scripted calls
// that cut every write short.
struct Copy
{
    explicit Copy(qsizetype size) : content(TempTree::random(size)) { calls.cutWritesShort(); }
    int run(const FileOperations::Progress &progress = {}) { return failureOf([&] { files.copyFile(source, target, progress); }); }
    const TempTree tree;
    const QByteArray content;
    const QString source = tree.createFile("data.bin", content), target = tree.createFile("keys/data.bin", OldContent);
    ScriptedCalls calls;
    LinuxFileOperations files{calls};
};

class TestCopyFile : public QObject
{
    Q_OBJECT

private slots:
    // Whichever call fails, the copy leaves no temporary file and the
    // old file as it was; faults that can be worked around (number 0) end in a complete copy.
    // A copy that reads back wrong blames the key (57), unless the source changed meanwhile (75).
    void faultsLeaveNoTrace_data()
    {
        QTest::addColumn<Row>("row");
        QTest::newRow("open source") << Row{Kind::OpenSource, 1, EACCES, 70};
        QTest::newRow("open folder") << Row{Kind::OpenFolder, 1, EIO, 57};
        QTest::newRow("look at target") << Row{Kind::Fstatat, 1, EACCES, 70};
        QTest::newRow("create temporary") << Row{Kind::CreateTemporary, 1, ENOSPC, 61};
        QTest::newRow("read") << Row{Kind::Read, 2, EIO, 57};
        QTest::newRow("write") << Row{Kind::Write, 2, ENOSPC, 61};
        QTest::newRow("wait for writeback") << Row{Kind::SyncFileRange, 3, EIO, 57};
        QTest::newRow("futimens") << Row{Kind::Futimens, 1, EACCES, 70};
        QTest::newRow("fsync") << Row{Kind::FsyncFile, 1, ENOSPC, 61};
        QTest::newRow("syncfs") << Row{Kind::SyncFs, 1, EIO, 57};
        QTest::newRow("drop cache") << Row{Kind::Fadvise, -1, EIO, 57};
        QTest::newRow("read back source") << Row{Kind::ReadBackSource, 2, EIO, 57};
        QTest::newRow("read back") << Row{Kind::ReadBack, 2, EIO, 57};
        QTest::newRow("rename") << Row{Kind::Rename, 1, EACCES, 70};
        QTest::newRow("folder fsync") << Row{Kind::FsyncFolder, 1, EIO, 57};
        QTest::newRow("temporary name taken") << Row{Kind::CreateTemporary, 1, EEXIST, 0};
        QTest::newRow("no writeback control") << Row{Kind::SyncFileRange, 1, EINVAL, 0};
        QTest::newRow("folder cannot sync") << Row{Kind::FsyncFolder, 1, EINVAL, 0};
        QTest::newRow("copy reads back wrong") << Row{Kind::ReadBack, 0, 0, 57};
        QTest::newRow("source changed meanwhile") << Row{Kind::ReadBackSource, 0, 0, 75};
    }
    void faultsLeaveNoTrace()
    {
        QFETCH(const Row, row);
        const auto [kind, nth, err, number] = row;
        Copy copy(kind == Kind::SyncFileRange ? 40 * MiB : 3 * MiB + 123); // writeback runs by 16 MiB
        copy.calls.failCall(kind, nth, err);
        copy.calls.corruptReadBack(kind == Kind::ReadBack && nth == 0 ? MiB + MiB / 2 : -1);
        QCOMPARE(copy.run([&, changed = false](qint64, qint64) mutable {
            changed = changed || (kind == Kind::ReadBackSource && nth == 0 && QFile::resize(copy.source, copy.content.size() + 1));
        }), number);
        QCOMPARE(leftovers(copy.tree.path(QStringLiteral("keys"))), QStringList());
        // The folder is synced after the rename: by then the checked copy has replaced the target.
        QCOMPARE(TempTree::read(copy.target), number == 0 || kind == Kind::FsyncFolder ? copy.content : OldContent);
    }

    // Names and sizes a key's format refuses fail before anything is written.
    void formatLimits()
    {
        const auto refusal = [](KeyFormat::Family family, const char *name, qint64 size) {
            return thrownBy([&] { KeyFormat::requireStorable(family, name, size); }).description();
        };
        QCOMPARE(refusal(KeyFormat::Family::Fat, "a?b.txt", 1), "Nom ou numéro de fichier incorrect");
        QCOMPARE(refusal(KeyFormat::Family::Fat, "a.bin", 4294967295), QString()); // 4 GiB less a byte
        QCOMPARE(refusal(KeyFormat::Family::Fat, "a.bin", 4294967296),
                 "Fichier trop volumineux pour le format de la clé (FAT : 4 Go au plus)");
        QCOMPARE(refusal(KeyFormat::Family::ExFat, "a.bin", qint64(5) << 30), QString());
    }

    // A link at the target's name is replaced, not followed; the same file by its own path or
    // by a hard link is left alone, without a temporary file.
    void linksAndTheSameFile()
    {
        Copy copy(MiB + 5);
        const QString outside = copy.tree.createFile("outside/secret", OldContent), other = copy.tree.path("keys/other.bin");
        QVERIFY(QFile::remove(copy.target) && QFile::link(outside, copy.target));
        std::pair<qint64, qint64> last;
        QCOMPARE(copy.run([&](qint64 done, qint64 total) { last = {done, total}; }), 0);
        QCOMPARE(link(QFile::encodeName(copy.target).constData(), QFile::encodeName(other).constData()), 0);
        copy.calls.failCall(Kind::CreateTemporary, -1, EIO); // no more temporary files
        for (const QString &source : {copy.target, other})
            QCOMPARE(failureOf([&] { copy.files.copyFile(source, copy.target); }), 0);
        // The progress of the first copy ended complete.
        QCOMPARE(std::tuple(TempTree::read(outside), TempTree::read(copy.target), last),
                 std::tuple(OldContent, copy.content, std::make_pair(2 * (MiB + 5), 2 * (MiB + 5))));
    }
};

QTEST_GUILESS_MAIN(TestCopyFile)
#include "test_copy_file.moc"
