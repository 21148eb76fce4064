#include "Reliability.h"
#include "drives/Failure.h"
#include "support/Mounts.h"

#include <QRandomGenerator>
#include <QScopeGuard>
#include <QTemporaryDir>

#include <fcntl.h>
#include <future>

using namespace Reliability;

namespace {

constexpr qsizetype MiB = 1 << 20;
const QByteArray OldContent = QByteArrayLiteral("la version de la semaine dernière");
const QByteArray Kept = QByteArrayLiteral("à garder");

int openFolder(const QByteArray &dir) { return ::open(dir.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC); }

// A folder still open on a volume that is no longer mounted anywhere.
QString throughDescriptor(int fd) { return QStringLiteral("/proc/self/fd/%1").arg(fd); }

// Whether a loop device is still attached to the image.
bool looped(const QString &image)
{
    QProcess process;
    process.start(QStringLiteral("losetup"), {QStringLiteral("-j"), image});
    return process.waitForFinished() && !process.readAllStandardOutput().trimmed().isEmpty();
}

// The source drive D (a plain folder) and three tmpfs keys E, F and G in slots 1 to 3,
// each holding a previous cours.bin and a file that nothing should touch.
struct ThreeKeys : WindowFixture
{
    ThreeKeys(FileOperations &files, const QByteArray &content, const QString &secondSize = QStringLiteral("96m"))
        : WindowFixture(&files)
    {
        tree.createFile(QStringLiteral("source/cours.bin"), content);
        assignDrive(*this, tree.path(QStringLiteral("source")), QStringLiteral("SOURCE"));
        for (int i = 1; i <= 3; ++i) {
            const QString dir = tree.createDir(QStringLiteral("cle%1").arg(i));
            if (!Mounts::mountTmpfs(dir, i == 2 ? secondSize : QStringLiteral("96m")))
                return;
            keys << dir;
            tree.createFile(QStringLiteral("cle%1/cours.bin").arg(i), OldContent);
            tree.createFile(QStringLiteral("cle%1/garder.txt").arg(i), Kept);
            arrive(assignDrive(*this, dir, QStringLiteral("CLE%1").arg(i)));
        }
        controls().Drive1[0]->setDrive(QStringLiteral("D"));
        controls().FichKill->setText(QString());
    }

    TempTree tree;
    MountedDirs keys;
};

// The real operations; with a fault set, copies to the other keys wait until it has
// struck the second key, a quarter into its copy.
struct FaultOnSecondKey : LinuxFileOperations
{
    QString secondKey;
    std::function<void()> fault;
    std::promise<void> strike;
    std::shared_future<void> struck = strike.get_future().share();

    void copyFile(const QString &source, const QString &target, const Progress &progress, const KeyBounds &bounds) override
    {
        const bool second = target.startsWith(secondKey + u'/');
        if (fault && !second)
            struck.wait_for(std::chrono::seconds(20));
        bool fired = false;
        LinuxFileOperations::copyFile(source, target, [&](qint64 done, qint64 total) {
            if (progress)
                progress(done, total);
            if (second && fault && !fired && total > 0 && done * 4 >= total) {
                fired = true;
                fault();
                strike.set_value();
            }
        }, bounds);
    }
};

} // namespace

// Real volumes in the test's private mount namespace, failing while a copy runs.
class TestMediaFaults : public QObject
{
    Q_OBJECT

    QByteArray m_large;
    QTemporaryDir m_working; ///< where a slot that lost its key may write, rather than the build tree

private slots:
    void initTestCase()
    {
        QVERIFY(QDir::setCurrent(m_working.path()));
        m_large = QByteArray(64 * MiB + 5, 'x');
        QRandomGenerator(7).fillRange(reinterpret_cast<quint32 *>(m_large.data()), m_large.size() / 4);
    }
    void init() { REQUIRE_PRIVATE_MOUNTS(); }

    // umount -l while the file is open: the volume lives on, detached, until its
    // last file is closed, so the copy completes on it and must really be there.
    void lazyUnmountDuringACopy_data()
    {
        QTest::addColumn<bool>("ext4");
        QTest::addColumn<int>("permille"); // of the progress: writing up to 500, reading back after
        QTest::newRow("tmpfs, while writing") << false << 250;
        QTest::newRow("ext4, while reading back") << true << 750;
    }
    void lazyUnmountDuringACopy()
    {
        QFETCH(bool, ext4);
        QFETCH(int, permille);
        const TempTree tree;
        MountedDirs mounted;
        const QString key = tree.createDir(QStringLiteral("cle")), image = tree.path(QStringLiteral("cle.img"));
        QVERIFY(ext4 ? Mounts::makeExt4Image(image, 128, QStringLiteral("CLE")) && Mounts::mountImage(image, key)
                     : Mounts::mountTmpfs(key, QStringLiteral("160m")));
        mounted << key;
        const QString source = tree.createFile(QStringLiteral("cours.bin"), m_large);
        tree.createFile(QStringLiteral("cle/cours.bin"), OldContent);
        const int held = openFolder(QFile::encodeName(key));
        QVERIFY(held >= 0);

        bool detached = false; // a Failure thrown fails the test
        LinuxFileOperations().copyFile(source, key + QStringLiteral("/cours.bin"), [&](qint64 done, qint64 total) {
            if (!detached && total > 0 && done * 1000 >= total * permille)
                detached = ::umount2(QFile::encodeName(key).constData(), MNT_DETACH) == 0;
        });
        const Entries volume = snapshot(throughDescriptor(held));
        ::close(held);

        QVERIFY(detached);
        const Entries expected = ext4 ? Entries{{"cours.bin", fileEntry(m_large)}, {"lost+found", "d"}} : Entries{{"cours.bin", fileEntry(m_large)}};
        QCOMPARE(volume, expected);
        QCOMPARE(snapshot(key), Entries()); // nothing went to the bare mount point
        if (ext4) {
            // Plugged in again, the key holds the copy: it reached the device, not only the cache.
            QTRY_VERIFY_WITH_TIMEOUT(!looped(image), 20000);
            QVERIFY(Mounts::mountImage(image, key));
            QCOMPARE(snapshot(key), expected);
        }
    }

    // One fault during a run over three keys: the faulty slot fails and keeps its
    // previous file, the others are copied, and the run reports the last failure.
    void faultOnOneSlot_data()
    {
        QTest::addColumn<QString>("fault");
        QTest::addColumn<QString>("copied"); // per key: '+' done with the new file, '-' failed keeping the old one, '0' failed on a bare folder
        QTest::addColumn<QString>("message");
        QTest::newRow("key 2 fills up") << "full" << "+-+" << describeFailure(FailureNumber::DiskFull);
        // The open source is read to its end: slot 2 still gets the whole file.
        QTest::newRow("source deleted while slot 2 copies") << "delete" << "-+-" << describeFailure(FailureNumber::FileNotFound);
        QTest::newRow("key 2 lazily unmounted while it copies") << "detach" << "+++" << "";
        // Its mount point left behind, what the slot's drive path names is a bare folder of the system disk.
        QTest::newRow("key 3 pulled out while slot 2 copies") << "unmount" << "++0" << describeFailure(FailureNumber::DiskNotReady);
    }
    void faultOnOneSlot()
    {
        QFETCH(QString, fault);
        QFETCH(QString, copied);
        QFETCH(QString, message);
        FaultOnSecondKey files;
        ThreeKeys run(files, m_large, fault == QLatin1String("full") ? QStringLiteral("8m") : QStringLiteral("96m"));
        QVERIFY(run.keys.size() == 3 && pickSource(run, QStringLiteral("cours.bin")));
        const QByteArray source = QFile::encodeName(run.tree.path(QStringLiteral("source/cours.bin")));
        const QByteArray secondKey = QFile::encodeName(run.keys[1]), thirdKey = QFile::encodeName(run.keys[2]);
        files.secondKey = run.keys[1];
        int held = -1;
        std::atomic<bool> hookFailed = false; // the hook runs on a worker, where no check may stop the test
        if (fault == QLatin1String("delete"))
            files.fault = [&] { hookFailed = ::unlink(source.constData()) != 0; };
        if (fault == QLatin1String("unmount"))
            files.fault = [&] { hookFailed = ::umount2(thirdKey.constData(), 0) != 0; };
        if (fault == QLatin1String("detach"))
            files.fault = [&] { hookFailed = (held = openFolder(secondKey)) < 0 || ::umount2(secondKey.constData(), MNT_DETACH) != 0; };

        run.runCopies();
        const auto close = qScopeGuard([held] { if (held >= 0) ::close(held); });

        QVERIFY(!hookFailed);
        for (int i = 0; i < 3; ++i) {
            QCOMPARE(run.status(i + 1), copied[i] == u'+' ? QStringLiteral("Terminé") : QStringLiteral("Échec"));
            const Entries kept{{"cours.bin", fileEntry(copied[i] == u'+' ? m_large : OldContent)}, {"garder.txt", fileEntry(Kept)}};
            QCOMPARE(snapshot(i == 1 && held >= 0 ? throughDescriptor(held) : run.keys[i]), copied[i] == u'0' ? Entries() : kept);
        }
        QVERIFY(held < 0 || snapshot(run.keys[1]).isEmpty()); // the bare mount point
        QCOMPARE(snapshot(run.tree.path(QStringLiteral("source"))), (fault == QLatin1String("delete") ? Entries() : Entries{{"cours.bin", fileEntry(m_large)}}));
        QVERIFY(showedOnly(run.messages, message));
    }
};

QTEST_MAIN(TestMediaFaults)
#include "test_media_faults.moc"
