#include "Reliability.h"
#include "drives/Failure.h"
#include "support/Mounts.h"

#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <fcntl.h>
#include <sys/mount.h>
#include <unistd.h>

using namespace Reliability;
using Entries = QMap<QByteArray, QByteArray>;

namespace {

constexpr qsizetype MiB = 1 << 20;
const QByteArray OldContent = QByteArrayLiteral("la version de la semaine dernière");
const QByteArray Kept = QByteArrayLiteral("à garder");

bool detach(const QString &dir)
{
    return ::umount2(QFile::encodeName(dir).constData(), MNT_DETACH) == 0;
}

int openFolder(const QString &dir)
{
    return ::open(QFile::encodeName(dir).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
}

// A folder still open on a volume that is no longer mounted anywhere.
QString throughDescriptor(int fd)
{
    return QStringLiteral("/proc/self/fd/%1").arg(fd);
}

// Detaches at the end of a test whatever it left mounted, so that its tree can go.
struct MountedDirs
{
    QStringList dirs;
    ~MountedDirs()
    {
        for (auto dir = dirs.crbegin(); dir != dirs.crend(); ++dir)
            detach(*dir);
    }
};

// The loop devices still attached to an image.
QString loopsOf(const QString &image)
{
    QProcess process;
    process.start(QStringLiteral("losetup"), {QStringLiteral("-j"), image});
    process.waitForFinished();
    return QString::fromUtf8(process.readAllStandardOutput()).trimmed();
}

// The source drive D (a plain folder) and three tmpfs keys E, F and G in slots 1 to 3,
// each holding a previous cours.bin and a file that nothing should touch.
class ThreeKeys : public WindowFixture
{
public:
    ThreeKeys(FileOperations &files, const QByteArray &content, const QStringList &sizes)
        : WindowFixture(&files)
    {
        source = tree.createFile(QStringLiteral("source/cours.bin"), content);
        addFacts(drives.assign(tree.path(QStringLiteral("source")), QStringLiteral("/dev/test"), QStringLiteral("SOURCE")));
        for (int i = 0; i < 3; ++i) {
            const QString dir = tree.createDir(QStringLiteral("cle%1").arg(i + 1));
            if (!Mounts::mountTmpfs(dir, sizes[i]))
                return;
            mounted.dirs << dir;
            tree.createFile(QStringLiteral("cle%1/cours.bin").arg(i + 1), OldContent);
            tree.createFile(QStringLiteral("cle%1/garder.txt").arg(i + 1), Kept);
            const QChar letter = drives.assign(dir, QStringLiteral("tmpfs"), QStringLiteral("CLE%1").arg(i + 1));
            addFacts(letter);
            arrive(letter);
            keys << dir;
        }
        controls().Drive1[0]->setDrive(QStringLiteral("D"));
        ready = pickSource(*this, QStringLiteral("cours.bin"));
    }

    void addFacts(QChar letter) { facts[letter] = ScriptedFacts{{}, 128.0 * MiB, 96.0 * MiB, std::nullopt}; }

    TempTree tree;
    MountedDirs mounted;
    QString source;
    QStringList keys;
    bool ready = false;
};

} // namespace

// Real volumes in the test's private mount namespace, failing while a copy runs.
class TestMediaFaults : public QObject
{
    Q_OBJECT

    QByteArray m_large;
    QTemporaryDir m_working; ///< where a slot that lost its key may write, rather than the build tree

private slots:
    void initTestCase() { QVERIFY(QDir::setCurrent(m_working.path())); }

    void init()
    {
        REQUIRE_PRIVATE_MOUNTS();
        if (m_large.isEmpty())
            m_large = randomContent(64 * MiB + 5, 7);
    }

    // umount -l while the file is open: the volume lives on, detached, until its
    // last file is closed, so the copy completes on it and must really be there.
    void lazyUnmountDuringACopy_data()
    {
        QTest::addColumn<bool>("ext4");
        QTest::addColumn<int>("permille"); // of the progress: writing up to 500, reading back after
        QTest::newRow("tmpfs, while writing") << false << 250;
        QTest::newRow("tmpfs, while reading back") << false << 750;
        QTest::newRow("ext4, while writing") << true << 250;
        QTest::newRow("ext4, while reading back") << true << 750;
    }
    void lazyUnmountDuringACopy()
    {
        QFETCH(bool, ext4);
        QFETCH(int, permille);
        const TempTree tree;
        MountedDirs mounted;
        const QString key = tree.createDir(QStringLiteral("cle"));
        const QString image = tree.path(QStringLiteral("cle.img"));
        if (ext4) {
            QVERIFY(Mounts::makeExt4Image(image, 128, QStringLiteral("CLE")));
            QVERIFY(Mounts::mountImage(image, key));
        } else {
            QVERIFY(Mounts::mountTmpfs(key, QStringLiteral("160m")));
        }
        mounted.dirs << key;
        const QString source = tree.createFile(QStringLiteral("cours.bin"), m_large);
        tree.createFile(QStringLiteral("cle/cours.bin"), OldContent);
        const int held = openFolder(key);
        QVERIFY(held >= 0);

        LinuxFileOperations files;
        bool detached = false;
        int number = 0;
        try {
            files.copyFile(source, key + QStringLiteral("/cours.bin"), [&](qint64 done, qint64 total) {
                if (!detached && total > 0 && done * 1000 >= total * permille)
                    detached = detach(key);
            });
        } catch (const Failure &failure) {
            number = failure.number();
        }
        const Entries volume = snapshot(throughDescriptor(held));
        ::close(held);

        QVERIFY(detached);
        QCOMPARE(number, 0);
        Entries expected{{"cours.bin", fileEntry(m_large)}};
        if (ext4)
            expected.insert("lost+found", "d");
        QCOMPARE(volume, expected);
        QCOMPARE(snapshot(key), Entries()); // nothing went to the bare mount point
        if (ext4) {
            // Plugged in again, the key holds the copy: it reached the device, not only the cache.
            QTRY_VERIFY_WITH_TIMEOUT(loopsOf(image).isEmpty(), 20000);
            QVERIFY(Mounts::mountImage(image, key));
            const Entries again = snapshot(key);
            QVERIFY(Mounts::unmount(key));
            QCOMPARE(again, expected);
        }
    }

    // One fault during a run over three keys: the faulty slot fails and keeps its
    // previous file, the others are copied, the run goes on and reports the last failure.
    void faultOnOneSlot_data()
    {
        QTest::addColumn<QString>("fault");
        QTest::addColumn<QStringList>("statuses");
        QTest::addColumn<QStringList>("contents"); // of each key's cours.bin: new, old, start (the first MiB)
        QTest::addColumn<QString>("source");       // what is left of the source: whole, none, start
        QTest::addColumn<QString>("message");
        const QString done = QStringLiteral("Terminé"), failed = QStringLiteral("Échec");
        QTest::newRow("key 2 fills up") << "full" << QStringList{done, failed, done}
                                        << QStringList{"new", "old", "new"} << "whole" << describeFailure(61);
        QTest::newRow("source deleted before slot 2") << "delete before" << QStringList{done, failed, failed}
                                                      << QStringList{"new", "old", "old"} << "none" << describeFailure(53);
        // The open source is read to its end: slot 2 still gets the whole file.
        QTest::newRow("source deleted while slot 2 copies") << "delete during" << QStringList{done, done, failed}
                                                            << QStringList{"new", "new", "old"} << "none" << describeFailure(53);
        QTest::newRow("source truncated while slot 2 copies") << "truncate during" << QStringList{done, failed, done}
                                                              << QStringList{"new", "old", "start"} << "start" << describeFailure(57);
        QTest::newRow("key 2 lazily unmounted while it copies") << "detach during" << QStringList{done, done, done}
                                                                << QStringList{"new", "new", "new"} << "whole" << "";
    }
    void faultOnOneSlot()
    {
        QFETCH(QString, fault);
        QFETCH(QStringList, statuses);
        QFETCH(QStringList, contents);
        QFETCH(QString, source);
        QFETCH(QString, message);
        FaultingFiles files;
        const QString big = QStringLiteral("96m");
        ThreeKeys run(files, m_large, {big, fault == QLatin1String("full") ? QStringLiteral("8m") : big, big});
        QVERIFY(run.ready);
        const QByteArray sourcePath = QFile::encodeName(run.source);
        const QByteArray secondKey = QFile::encodeName(run.keys[1]);
        int held = -1;
        bool hookFailed = false; // the hooks run on the copying thread, where no check may stop the test
        files.beforeCopy = [&](int copy) {
            if (copy == 2 && fault == QLatin1String("delete before"))
                ::unlink(sourcePath.constData());
        };
        files.duringCopy = [&](int copy) {
            if (copy != 2)
                return;
            if (fault == QLatin1String("delete during"))
                ::unlink(sourcePath.constData());
            if (fault == QLatin1String("truncate during"))
                hookFailed = ::truncate(sourcePath.constData(), MiB) != 0;
            if (fault == QLatin1String("detach during")) {
                held = ::open(secondKey.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
                hookFailed = held < 0 || ::umount2(secondKey.constData(), MNT_DETACH) != 0;
            }
        };

        run.controls().FichKill->setText(QString());
        run.window->LanceCopie_Click();

        QVERIFY(!hookFailed);
        QCOMPARE(files.copies(), 3);
        const QMap<QString, QByteArray> kinds{{"new", m_large}, {"old", OldContent}, {"start", m_large.left(MiB)}};
        for (int i = 0; i < 3; ++i) {
            QCOMPARE(run.status(i + 1), statuses[i]);
            const bool detached = i == 1 && held >= 0;
            const Entries key = snapshot(detached ? throughDescriptor(held) : run.keys[i]);
            QCOMPARE(key, (Entries{{"cours.bin", fileEntry(kinds[contents[i]])}, {"garder.txt", fileEntry(Kept)}}));
            QCOMPARE(temporaries(key), QList<QByteArray>());
            if (detached)
                QCOMPARE(snapshot(run.keys[i]), Entries());
        }
        if (held >= 0)
            ::close(held);
        QCOMPARE(temporaries(snapshot(run.tree.root())), QList<QByteArray>());
        const Entries sourceLeft = snapshot(run.tree.path(QStringLiteral("source")));
        if (source == QLatin1String("none"))
            QCOMPARE(sourceLeft, Entries());
        else
            QCOMPARE(sourceLeft, (Entries{{"cours.bin", fileEntry(source == QLatin1String("start") ? m_large.left(MiB) : m_large)}}));
        if (message.isEmpty()) {
            QCOMPARE(run.messages.shown.size(), 0);
        } else {
            QCOMPARE(run.messages.shown.size(), 1);
            QCOMPARE(run.messages.shown[0].prompt, message);
        }
    }

    // The key is gone before its slot's turn, its mount point left behind: what
    // the slot's drive path names now is a bare folder of the system disk.
    void keyUnmountedBeforeItsTurn()
    {
        FaultingFiles files;
        const QString big = QStringLiteral("96m");
        ThreeKeys run(files, m_large, {big, big, big});
        QVERIFY(run.ready);
        const QByteArray thirdKey = QFile::encodeName(run.keys[2]);
        bool unmounted = false;
        files.beforeCopy = [&](int copy) {
            if (copy == 2) // pulled out while slot 2 copies
                unmounted = ::umount2(thirdKey.constData(), 0) == 0;
        };

        run.controls().FichKill->setText(QString());
        run.window->LanceCopie_Click();

        QVERIFY(unmounted);

        QCOMPARE(run.status(1), QStringLiteral("Terminé"));
        QCOMPARE(run.status(2), QStringLiteral("Terminé"));
        const Entries bare = snapshot(run.keys[2]);
        QCOMPARE(run.status(3), QStringLiteral("Échec"));
        QCOMPARE(bare, Entries());
        QCOMPARE(run.messages.shown.size(), 1);
    }
};

QTEST_MAIN(TestMediaFaults)
#include "test_media_faults.moc"
