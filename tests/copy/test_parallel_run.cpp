#include "copy/LinuxFileOperations.h"
#include "copy/ParallelRun.h"
#include "CopyChecks.h"
#include "ScriptedCalls.h"

#include <QTest>

using Kind = ScriptedCalls::Kind;

// Four keys, slots 1 to 4, each holding an old copy and an old file to delete; the run's
// results, collected from the workers.
struct FourKeys
{
    QString key(int slot) const { return tree.path(QStringLiteral("key%1").arg(slot)); }
    void start(bool deleting = true)
    {
        QList<SlotJob> jobs;
        for (int slot = 1; slot <= 4; ++slot) {
            tree.createFile(QStringLiteral("key%1/cours.bin").arg(slot), "ancienne version");
            tree.createFile(QStringLiteral("key%1/vieux.tmp").arg(slot));
            tree.createFile(QStringLiteral("key%1/vieux2.tmp").arg(slot));
            const VolumePlace folder{key(slot), key(slot)};
            jobs.append({slot, {source, tree.root()}, folder, folder, QStringLiteral("cours.bin"), deleting ? QStringLiteral("*.tmp") : QString()});
        }
        run.start(jobs);
    }
    // The results so far; `ended` once the run has said so.
    QList<SlotResult> results()
    {
        const std::lock_guard locked(lock);
        return m_results;
    }
    std::optional<SlotResult> result(int slot)
    {
        for (const SlotResult &r : results())
            if (r.slot == slot)
                return r;
        return std::nullopt;
    }

    const TempTree tree;
    const QByteArray content = TempTree::random(3 << 20);
    const QString source = tree.createFile(QStringLiteral("cours.bin"), content);
    ScriptedCalls calls;
    LinuxFileOperations files{calls};
    std::mutex lock;
    QList<SlotResult> m_results;
    std::atomic<bool> ended = false;
    ParallelRun run{files, {{}, [this](const SlotResult &r) { const std::lock_guard locked(lock); m_results.append(r); }, [this] { ended = true; }}};
};

class TestParallelRun : public QObject
{
    Q_OBJECT

private slots:
    // A slot whose step fails ends alone in failure; the others get their copy and their
    // deletion; the run reports the highest failing slot's failure; no temporary file stays.
    void failuresStayInTheirSlot_data()
    {
        QTest::addColumn<int>("kind");
        QTest::addColumn<QList<int>>("failing");
        QTest::addColumn<int>("err");
        QTest::addColumn<bool>("copied");
        QTest::addColumn<int>("number");
        QTest::newRow("create, slot 2") << int(Kind::CreateTemporary) << QList<int>{2} << ENOSPC << false << 61;
        QTest::newRow("write, slots 1 and 3") << int(Kind::Write) << QList<int>{3, 1} << EIO << false << 57;
        QTest::newRow("read-back, slot 4") << int(Kind::ReadBack) << QList<int>{4} << EIO << false << 57;
        QTest::newRow("rename, slots 2 and 4") << int(Kind::Rename) << QList<int>{2, 4} << EACCES << false << 70;
        QTest::newRow("deletion, slot 1") << int(Kind::Unlink) << QList<int>{1} << EACCES << true << 70;
        // Every reading fails: the copy's own, looking for leftovers of killed copies, goes on without.
        QTest::newRow("deletion's reading, slot 3") << int(Kind::ReadDir) << QList<int>{3} << EIO << true << 57;
    }
    void failuresStayInTheirSlot()
    {
        QFETCH(int, kind);
        QFETCH(QList<int>, failing);
        QFETCH(int, err);
        QFETCH(bool, copied);
        QFETCH(int, number);
        FourKeys keys;
        for (int slot : failing)
            keys.calls.failCall(Kind(kind), kind == Kind::ReadDir ? -1 : 1, err, QFile::encodeName(keys.key(slot)));
        keys.start();
        QTRY_VERIFY_WITH_TIMEOUT(keys.ended, 20000);
        QCOMPARE(lastFailureInSlotOrder(keys.results()).value_or(Failure(0, {})).number(), number);
        for (int slot = 1; slot <= 4; ++slot) {
            const bool fails = failing.contains(slot);
            const SlotResult result = *keys.result(slot);
            QCOMPARE(result.failure.has_value(), fails);
            QCOMPARE(result.copied, !fails || copied);
            QCOMPARE(TempTree::read(keys.key(slot) + QStringLiteral("/cours.bin")) == keys.content, !fails || copied);
            // A deletion that fails on one file goes on with the others.
            const int left = QDir(keys.key(slot)).entryList({QStringLiteral("vieux*")}).size();
            QCOMPARE(left, !fails || !copied ? 0 : kind == Kind::Unlink ? 1 : 2);
            QVERIFY(result.files && result.files->contains(QStringLiteral("cours.bin")));
            QCOMPARE(leftovers(keys.key(slot)), QStringList());
        }
    }

    // A key that stops answering holds back its own slot only.
    void blockedKeyHoldsBackOnlyItsSlot()
    {
        FourKeys keys;
        keys.calls.holdCalls(Kind::Write, QFile::encodeName(keys.key(2)));
        keys.start(false);
        QTRY_COMPARE_WITH_TIMEOUT(keys.results().size(), 3, 20000);
        QVERIFY(!keys.result(2) && !keys.ended);
        keys.calls.releaseCalls();
        QTRY_VERIFY_WITH_TIMEOUT(keys.ended, 20000);
        QVERIFY(keys.result(2)->copied && !lastFailureInSlotOrder(keys.results()));
    }
};

QTEST_GUILESS_MAIN(TestParallelRun)
#include "test_parallel_run.moc"
