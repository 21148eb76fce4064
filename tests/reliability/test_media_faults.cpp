#include "Reliability.h"
#include "support/Mounts.h"

#include <QTemporaryDir>

#include <future>

using namespace Reliability;

namespace {

const QByteArray OldContent = "la version de la semaine dernière", Kept = "à garder";

// The real operations; with a fault set, copies to the other keys wait until it has
// struck the second key, a quarter into its copy.
struct FaultOnSecondKey : LinuxFileOperations
{
    QString secondKey;
    std::function<bool()> fault; ///< false when it could not be done
    std::promise<bool> strike;
    std::shared_future<bool> struck = strike.get_future().share();

    void copyFile(const QString &source, const QString &target, const Progress &progress, const KeyBounds &bounds) override
    {
        const bool second = target.startsWith(secondKey + u'/');
        if (fault && !second)
            struck.wait_for(std::chrono::seconds(20));
        LinuxFileOperations::copyFile(source, target, [&, fired = false](qint64 done, qint64 total) mutable {
            progress(done, total);
            if (second && fault && !fired && done * 4 >= total)
                fired = true, strike.set_value(fault());
        }, bounds);
    }
};

} // namespace

// Real volumes in the test's private mount namespace, failing while a run copies onto
// three tmpfs keys E, F and G in slots 1 to 3.
class TestMediaFaults : public QObject
{
    Q_OBJECT

    QTemporaryDir m_working; ///< where a slot that lost its key may write, rather than the build tree

private slots:
    void initTestCase() { QVERIFY(QDir::setCurrent(m_working.path())); }
    void init() { REQUIRE_PRIVATE_MOUNTS(); }

    // The faulty slot fails and keeps its previous file, the others are copied, and the run
    // reports the last failure.
    void faultOnOneSlot_data()
    {
        QTest::addColumn<QString>("fault");
        QTest::addColumn<QString>("copied"); // per key: '+' new file, '-' failed keeping the old one, '0' failed on a bare folder
        QTest::addColumn<int>("message");
        QTest::newRow("key 2 fills up") << "full" << "+-+" << 61;
        // The open source is read to its end: slot 2 still gets the whole file.
        QTest::newRow("source deleted while slot 2 copies") << "delete" << "-+-" << 53;
        // Its mount point left behind is a bare folder of the system disk, which gets nothing.
        QTest::newRow("key 3 pulled out while slot 2 copies") << "unmount" << "++0" << 71;
    }
    void faultOnOneSlot()
    {
        QFETCH(QString, fault);
        QFETCH(QString, copied);
        QFETCH(int, message);
        FaultOnSecondKey files;
        WindowFixture run(&files);
        TempTree tree;
        MountedDirs keys;
        const QByteArray large = TempTree::random(64 << 20);
        const QByteArray source = QFile::encodeName(tree.createFile(QStringLiteral("source/cours.bin"), large));
        assignDrive(run, tree.path(QStringLiteral("source")));
        for (int i = 1; i <= 3; ++i) {
            keys << tree.createDir(QStringLiteral("cle%1").arg(i));
            QVERIFY(Mounts::mountTmpfs(keys.last(), i == 2 && fault == u"full" ? QStringLiteral("8m") : QStringLiteral("96m")));
            tree.createFile(QStringLiteral("cle%1/cours.bin").arg(i), OldContent);
            tree.createFile(QStringLiteral("cle%1/garder.txt").arg(i), Kept);
            run.arrive(assignDrive(run, keys.last()));
        }
        run.controls().Drive1[0]->setDrive(QStringLiteral("D"));
        QVERIFY(pickSource(run, QStringLiteral("cours.bin")));
        const QByteArray third = QFile::encodeName(keys[2]);
        files.secondKey = keys[1];
        if (fault == u"delete")
            files.fault = [&] { return ::unlink(source.constData()) == 0; };
        if (fault == u"unmount")
            files.fault = [&] { return ::umount2(third.constData(), 0) == 0; };

        run.runCopies();
        QVERIFY(!files.fault || files.struck.get());
        for (int i = 0; i < 3; ++i) {
            QCOMPARE(run.status(i + 1), copied[i] == u'+' ? QStringLiteral("Terminé") : QStringLiteral("Échec"));
            const Entries kept{{"cours.bin", fileEntry(copied[i] == u'+' ? large : OldContent)}, {"garder.txt", fileEntry(Kept)}};
            QCOMPARE(snapshot(keys[i]), copied[i] == u'0' ? Entries() : kept);
        }
        QVERIFY(run.messages.showedOnly(message ? describeFailure(message) : QString()));
    }

    // A key lazily unmounted during the read-back lives on until the copy lets it go, and,
    // plugged in again, holds the copy: it reached the device, not only the cache.
    void copyReachesTheDevice()
    {
        const TempTree tree;
        MountedDirs mounted;
        const QString key = tree.createDir(QStringLiteral("cle")), image = tree.path(QStringLiteral("cle.img"));
        QVERIFY(Mounts::makeExt4Image(image, 128, QStringLiteral("CLE")) && Mounts::mountImage(image, key));
        mounted << key;
        const QByteArray large = TempTree::random(64 << 20);
        const QString source = tree.createFile(QStringLiteral("cours.bin"), large);
        bool detached = false;
        LinuxFileOperations().copyFile(source, key + QStringLiteral("/cours.bin"), [&](qint64 done, qint64 total) {
            detached = detached || (done * 4 >= total * 3 && ::umount2(QFile::encodeName(key).constData(), MNT_DETACH) == 0);
        });
        QVERIFY(detached);

        QTRY_VERIFY_WITH_TIMEOUT(Mounts::output("losetup", {"-j", image}) == QString(), 20000); // the loop device is free
        QVERIFY(Mounts::mountImage(image, key));
        QCOMPARE(snapshot(key).value("cours.bin"), fileEntry(large));
    }
};

QTEST_MAIN(TestMediaFaults)
#include "test_media_faults.moc"
