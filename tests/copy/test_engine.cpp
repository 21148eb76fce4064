#include "CopyChecks.h"
#include "ScriptedCalls.h"
#include "copy/KeyFormat.h"
#include "copy/LinuxFileOperations.h"
#include "copy/ParallelRun.h"
#include "copy/SlotJob.h"
#include "support/ScriptedFileOperations.h"

#include <QTest>

#include <system_error>
#include <unistd.h>

using Kind = ScriptedCalls::Kind;
using Fault = ScriptedCalls::Fault;

constexpr qsizetype MiB = 1 << 20;

// A source file and an older keys/data.bin to replace, copied through scripted calls.
struct Copy
{
    explicit Copy(const QByteArray &old = "the previous file, which must survive")
        : old(old)
    { }
    Failure run(const FileOperations::Progress &progress = {})
    {
        return thrownBy([&] { files.copyFile(source, targetPath, progress); });
    }
    // What the target holds: "new" (the source's content), "old", or "none".
    QString target() const
    {
        const QByteArray now = TempTree::read(targetPath);
        return now == content ? "new" : now == old ? "old" : QFile::exists(targetPath) ? "other" : "none";
    }

    const TempTree tree;
    const QByteArray content = TempTree::random(3 * MiB + 123), old;
    const QString source = tree.createFile("data.bin", content), targetPath = tree.createFile("keys/data.bin", old);
    ScriptedCalls calls;
    LinuxFileOperations files{calls};
};

// What the workers use: it outlives them.
struct Scripted
{
    TempTree tree;
    ScriptedFileOperations files;
    QMap<int, int> failures; ///< by slot
    std::atomic<bool> allEnded = false;
};

// Slots 1 to 4 run on scripted file operations; the worker of the `refused`th slot cannot start.
struct FourSlots : Scripted, ParallelRun
{
    FourSlots()
        : ParallelRun(files, {{}, [this](const SlotResult &r) { ended(r); }, [this] { allEnded = true; }})
    {
        for (int slot = 1; slot <= 4; ++slot)
            jobs.append({slot, {"cours.bin"}, {key(slot)}, {tree.root(), tree.root()}, "cours.bin", {}});
    }
    QString key(int slot) const { return tree.path(QString::number(slot)); }
    std::jthread startWorker(std::function<void(std::stop_token)> work) override
    {
        if (--refused == 0)
            throw std::system_error(std::make_error_code(std::errc::resource_unavailable_try_again));
        return ParallelRun::startWorker(std::move(work));
    }
    void ended(const SlotResult &result)
    {
        const std::lock_guard locked(files.lock);
        failures.insert(result.slot, result.failure.value_or(Failure(0, {})).number());
    }
    QList<int> failuresBySlot() // of the slots that have ended
    {
        const std::lock_guard locked(files.lock);
        return failures.values();
    }
    bool run()
    {
        start(jobs);
        return QTest::qWaitFor([&] { return allEnded.load(); }, 20000);
    }

    QList<SlotJob> jobs;
    int refused = 0;
};

class TestEngine : public QObject
{
    Q_OBJECT

private slots:
    // Whichever call fails, the copy leaves no temporary file, and the old file as it was
    // unless the copy had already replaced it; faults that can be worked around end in a
    // whole copy.
    void faultsLeaveNoTrace_data()
    {
        QTest::addColumn<Fault>("fault");
        QTest::addColumn<int>("number");
        QTest::addColumn<QString>("target");
        // clang-format off
        QTest::newRow("the source cannot be opened") << Fault{Kind::OpenSource, 1, EACCES} << 70 << "old";
        QTest::newRow("the key is full") << Fault{Kind::CreateTemporary, 1, ENOSPC} << 61 << "old";
        QTest::newRow("the temporary file cannot be locked") << Fault{Kind::LockTemporary, 1, ENOLCK} << 75 << "old";
        QTest::newRow("the key fills up") << Fault{Kind::Write, 2, ENOSPC} << 61 << "old";
        QTest::newRow("the writeback fails") << Fault{Kind::SyncFileRange, 3, EIO} << 57 << "old";
        QTest::newRow("the file cannot be synced") << Fault{Kind::FsyncFile, 1, ENOSPC} << 61 << "old";
        QTest::newRow("the cache cannot be dropped") << Fault{Kind::Fadvise, -1, EIO} << 57 << "old";
        QTest::newRow("the copy cannot be read back") << Fault{Kind::ReadBack, 2, EIO} << 57 << "old";
        QTest::newRow("the rename is refused") << Fault{Kind::Rename, 1, EACCES} << 70 << "old";
        QTest::newRow("the folder's sync fails after the rename") << Fault{Kind::FsyncFolder, 1, EIO} << 57 << "new";
        QTest::newRow("a temporary name already taken") << Fault{Kind::CreateTemporary, 1, EEXIST} << 0 << "new";
        QTest::newRow("no writeback control") << Fault{Kind::SyncFileRange, 1, EINVAL} << 0 << "new";
        QTest::newRow("a folder that cannot be synced") << Fault{Kind::FsyncFolder, 1, EINVAL} << 0 << "new";
        // clang-format on
    }
    void faultsLeaveNoTrace()
    {
        QFETCH(Fault, fault);
        QFETCH(int, number);
        QFETCH(QString, target);
        Copy copy;
        copy.calls.add(fault);
        QCOMPARE(copy.run().number(), number);
        QCOMPARE(leftovers(copy.tree.path("keys")), QStringList());
        QCOMPARE(copy.target(), target);
    }

    void aCopyThatReadsBackWrongBlamesTheKey()
    {
        Copy copy;
        copy.calls.corruptReadBack(MiB + MiB / 2);
        QCOMPARE(copy.run().number(), 57);
        QCOMPARE(copy.target(), "old");
    }

    // The key has room for the new file only in place of the old one: the old one goes,
    // but only once the whole source has been read unchanged.
    void anOverwriteThatFitsOnlyInPlace_data()
    {
        QTest::addColumn<Kind>("shrinkAt"); // the first call of that kind cuts the source short
        QTest::addColumn<QString>("message");
        QTest::addColumn<QString>("target");
        QTest::newRow("a source that changes while checked keeps the old file")
            << Kind::ReadBackSource << "Le fichier source a changé pendant la copie"
            << "old";
        QTest::newRow("a failure once the old file went says so")
            << Kind::Read
            << "Le fichier source a changé pendant la copie. L'ancien fichier a été supprimé pour faire de la place"
            << "none";
    }
    void anOverwriteThatFitsOnlyInPlace()
    {
        QFETCH(Kind, shrinkAt);
        QFETCH(QString, message);
        QFETCH(QString, target);
        Copy copy(TempTree::random(4 * MiB, 2));
        copy.calls.limitRoom(MiB);
        copy.calls.add({shrinkAt, 1, 0, [&] { QFile::resize(copy.source, 10); }});
        QCOMPARE(copy.run().description(), message);
        QCOMPARE(copy.target(), target);
    }

    // A stop reaches the slot's work in the middle of a step: it ends there, at once, with
    // "Copie interrompue", and no temporary file; a copy already placed stays. The next
    // step's calls fail: a stop heard later would end with their failure.
    void aStopEndsTheWorkWhereItIs_data()
    {
        QTest::addColumn<Kind>("during");
        QTest::addColumn<int>("nth");
        QTest::addColumn<Kind>("next");
        QTest::addColumn<QString>("target");
        QTest::addColumn<QStringList>("oldFiles");
        QTest::newRow("the writing") << Kind::Write << 2 << Kind::FsyncFile << "old"
                                     << QStringList{"vieux.tmp", "vieux2.tmp"};
        QTest::newRow("the rename") << Kind::Rename << 1 << Kind::Unlink << "new"
                                    << QStringList{"vieux.tmp", "vieux2.tmp"};
        QTest::newRow("the deletion") << Kind::Unlink << 1 << Kind::Unlink << "new" << QStringList{"vieux2.tmp"};
    }
    void aStopEndsTheWorkWhereItIs()
    {
        QFETCH(Kind, during);
        QFETCH(int, nth);
        QFETCH(Kind, next);
        QFETCH(QString, target);
        QFETCH(QStringList, oldFiles);
        Copy copy;
        const QString keys = copy.tree.path("keys");
        copy.tree.createFile("keys/vieux.tmp");
        copy.tree.createFile("keys/vieux2.tmp");
        std::stop_source stop;
        copy.calls.add({during, nth, 0, [&] { stop.request_stop(); }});
        copy.calls.add({next, -1, EIO});
        const SlotJob job{1, {copy.source, copy.tree.root()}, {keys, keys}, {keys, keys}, "data.bin", "*.tmp"};
        QCOMPARE(runSlotJob(job, copy.files, {}, stop.get_token()).failure->description(), "Copie interrompue");
        QCOMPARE(copy.target(), target);
        QCOMPARE(QDir(keys).entryList({"vieux*"}), oldFiles);
        QCOMPARE(leftovers(keys), QStringList());
    }

    // Two slots showing one folder copy into it at once: neither takes the other's
    // temporary file for a leftover.
    void twoCopiesIntoOneFolderBothLand()
    {
        Copy copy;
        Failure second(0, {});
        copy.calls.add({Kind::LockTemporary, 1, 0, [&] { second = copy.run(); }});
        QCOMPARE(copy.run().number(), 0);
        QCOMPARE(second.number(), 0);
        QCOMPARE(copy.target(), "new");
    }

    // A leftover of a copy that ended without cleaning up goes at the next copy into its
    // folder, unless a running copy holds it; a deletion never takes a copy being written.
    void aLeftoverGoesUnlessItsCopyStillHoldsIt()
    {
        Copy copy;
        copy.tree.createFile("keys/.essaimeur-mort0000000.tmp");
        const QString alive = copy.tree.createFile("keys/.essaimeur-vivant00000.tmp");
        const int held = ::open(QFile::encodeName(alive).constData(), O_RDONLY | O_CLOEXEC);
        QCOMPARE(::flock(held, LOCK_EX), 0);
        QCOMPARE(copy.run().number(), 0);
        QCOMPARE(failureOf([&] { copy.files.deleteMatching(copy.tree.path("keys"), "*.tmp"); }), 53);
        ::close(held);
        QCOMPARE(leftovers(copy.tree.path("keys")), QStringList{".essaimeur-vivant00000.tmp"});
    }

    // FAT holds files up to 4 GiB less a byte.
    void aFileTooLargeForFatIsRefused()
    {
        QCOMPARE(failureOf([] { KeyFormat::requireStorable(KeyFormat::Family::Fat, "a.bin", 4294967295); }), 0);
        QCOMPARE(
            thrownBy([] { KeyFormat::requireStorable(KeyFormat::Family::Fat, "a.bin", 4294967296); }).description(),
            "Fichier trop volumineux pour le format de la clé (FAT : 4 Go au plus)");
    }
    // The run reports the highest failing slot's failure, whatever order the slots ended in.
    void reportIsTheHighestSlotsFailure()
    {
        const QList<SlotResult> ended{
            {3, false, failureFor(61), {}}, {1, false, failureFor(70), {}}, {2, true, {}, {}}};
        QCOMPARE(lastFailureInSlotOrder(ended)->number(), 61);
    }

    // A worker that throws (slot 2), or one that cannot start (slot 3), fails its slot alone.
    void aWorkerThatFailsFailsItsSlotOnly()
    {
        FourSlots run;
        run.files.exhausted = run.key(2) + "/cours.bin";
        run.refused = 3;
        QVERIFY(run.run());
        QCOMPARE(run.failuresBySlot(), QList({0, 7, 51, 0}));
    }
};

QTEST_GUILESS_MAIN(TestEngine)
#include "test_engine.moc"
