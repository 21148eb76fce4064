#include "copy/LinuxFileOperations.h"
#include "copy/ParallelRun.h"
#include "CopyChecks.h"
#include "ScriptedCalls.h"

#include <QTest>

using Kind = ScriptedCalls::Kind;
// The call that fails, in which slots, with which errno; whether those slots still get
// their copy; the run's failure number.
using Row = std::tuple<Kind, QList<int>, int, bool, int>;

// Four keys, slots 1 to 4, each holding an old copy and two old files to delete; the run's
// results, collected from the workers.
struct FourKeys
{
    ~FourKeys() { calls.releaseCalls(); } ///< a key still held lets its worker end
    QString key(int slot) const { return tree.path(QStringLiteral("key%1").arg(slot)); }
    void start()
    {
        QList<SlotJob> jobs;
        for (int slot = 1; slot <= 4; ++slot) {
            for (const char *name : {"/cours.bin", "/vieux.tmp", "/vieux2.tmp"})
                tree.createFile(QStringLiteral("key%1").arg(slot) + name, "ancienne version");
            jobs.append({slot, {source, tree.root()}, {key(slot), key(slot)}, {key(slot), key(slot)}, "cours.bin", "*.tmp"});
        }
        run.start(jobs);
    }
    QMap<int, SlotResult> results() // by slot, a copy of its own: the workers' map is never shared
    {
        const std::lock_guard locked(lock);
        return QMap<int, SlotResult>(m_results.toStdMap());
    }

    const TempTree tree;
    const QByteArray content = TempTree::random(3 << 20);
    const QString source = tree.createFile(QStringLiteral("cours.bin"), content);
    ScriptedCalls calls;
    LinuxFileOperations files{calls};
    std::mutex lock;
    QMap<int, SlotResult> m_results;
    std::atomic<bool> ended = false;
    ParallelRun run{files, {{}, [this](const SlotResult &r) {
                                const std::lock_guard locked(lock);
                                m_results.insert(r.slot, r);
                            }, [this] { ended = true; }}};
};

class TestParallelRun : public QObject
{
    Q_OBJECT

private slots:
    // The run reports the highest failing slot's failure, whatever order the slots ended in.
    void reportIsTheHighestSlotsFailure()
    {
        const QList<SlotResult> ended{{3, false, failureFor(61), {}}, {1, false, failureFor(70), {}}, {2, true, {}, {}}};
        QCOMPARE(lastFailureInSlotOrder(ended)->number(), 61);
    }

    // A slot whose step fails ends alone in failure; the others get their copy and their
    // deletion; the run reports the highest failing slot's failure; no temporary file stays.
    // Meanwhile a key that stops answering, one that does not fail, holds back its own slot only.
    void failuresStayInTheirSlot_data()
    {
        QTest::addColumn<Row>("row");
        QTest::newRow("create, slot 2") << Row{Kind::CreateTemporary, {2}, ENOSPC, false, 61};
        QTest::newRow("write, slots 1 and 3") << Row{Kind::Write, {3, 1}, EIO, false, 57};
        QTest::newRow("read-back, slot 4") << Row{Kind::ReadBack, {4}, EIO, false, 57};
        QTest::newRow("rename, slots 2 and 4") << Row{Kind::Rename, {2, 4}, EACCES, false, 70};
        QTest::newRow("deletion, slot 1") << Row{Kind::Unlink, {1}, EACCES, true, 70};
        // Every reading fails: the copy's own, looking for leftovers of killed copies, goes on without.
        QTest::newRow("deletion's reading, slot 3") << Row{Kind::ReadDir, {3}, EIO, true, 57};
    }
    void failuresStayInTheirSlot()
    {
        QFETCH(const Row, row);
        const auto &[kind, failing, err, copied, number] = row;
        FourKeys keys;
        for (int slot : failing)
            keys.calls.failCall(kind, kind == Kind::ReadDir ? -1 : 1, err, keys.key(slot).toStdString());
        const int held = failing.first() % 4 + 1;
        keys.calls.holdCalls(Kind::Write, keys.key(held).toStdString());
        keys.start();
        QTRY_COMPARE_WITH_TIMEOUT(keys.results().size(), 3, 20000);
        QVERIFY(!keys.results().contains(held) && !keys.ended);
        keys.calls.releaseCalls();
        QTRY_VERIFY_WITH_TIMEOUT(keys.ended, 20000);
        QCOMPARE(lastFailureInSlotOrder(keys.results().values()).value_or(Failure(0, {})).number(), number);
        for (int slot = 1; slot <= 4; ++slot) {
            const bool fails = failing.contains(slot), done = !fails || copied;
            const SlotResult result = keys.results().value(slot);
            const QString key = keys.key(slot);
            // A deletion that fails on one file goes on with the others; the folder is listed again whatever failed.
            QCOMPARE(std::tuple(bool(result.failure), result.copied, TempTree::read(key + "/cours.bin") == keys.content, leftovers(key),
                                QDir(key).entryList({"vieux*"}).size(), result.files.value_or(QStringList()).contains("cours.bin")),
                     std::tuple(fails, done, done, QStringList(), qsizetype(fails && copied ? (kind == Kind::Unlink ? 1 : 2) : 0), true));
        }
    }
};

QTEST_GUILESS_MAIN(TestParallelRun)
#include "test_parallel_run.moc"
