#include "Reliability.h"
#include "devices/DeviceReport.h"
#include "devices/LinuxDriveFacts.h"
#include "devices/MountWatcher.h"
#include "drives/DrivePath.h"
#include "support/Mounts.h"

#include <QLineEdit>
#include <QSet>
#include <QTest>

#include <sys/mount.h>

using namespace Reliability;

namespace {

bool mountTmpfs(const QString &dir)
{
    return ::mount("tmpfs", QFile::encodeName(dir).constData(), "tmpfs", 0, "size=1m") == 0;
}

bool unmount(const QString &dir)
{
    return ::umount2(QFile::encodeName(dir).constData(), 0) == 0;
}

// Detaches what a test left mounted when it stops early, so that its tree can go.
struct DetachAtEnd
{
    const QStringList &dirs;
    ~DetachAtEnd()
    {
        for (const QString &dir : dirs)
            ::umount2(QFile::encodeName(dir).constData(), MNT_DETACH);
    }
};

// The window on the real watcher, facts and file operations, with keys mounted
// below a temporary media root of the test's private mount namespace.
struct LiveWindow
{
    LiveWindow()
    {
        window = std::make_unique<Copieur>(Copieur::Services{
            drives, messages, [this] { return std::make_unique<LinuxFileSystemObject>(drives); }, files, &watcher});
        // Every handled notification writes Text1; the completed reports say which.
        QObject::connect(window->controls().Text1, &QLineEdit::textChanged, [this](const QString &text) { record(text); });
        watcher.start();
        baseline = lettersInTable();
    }

    void record(const QString &text)
    {
        for (char16_t c = u'D'; c <= u'Z'; ++c) {
            const QString letter(QChar{c});
            const bool arrival = text.startsWith(DeviceReport::arrivalHeader(letter));
            const bool removal = text == DeviceReport::removalFirstLine() + DeviceReport::removalSecondLine(letter);
            if (!arrival && !removal)
                continue;
            const std::optional<Drive> drive = drives.drive(QChar{c});
            handled << (arrival ? QLatin1Char('+') : QLatin1Char('-')) + (drive ? drive->root : QStringLiteral("?"));
            if (window->isCopying())
                handledWhileCopying << handled.last();
        }
    }

    QSet<QChar> lettersInTable() const
    {
        QSet<QChar> letters;
        for (const Drive &drive : drives.drives())
            letters << drive.letter;
        return letters;
    }

    TempTree media;
    DriveTable drives;
    MountWatcher watcher{drives, {media.root()}};
    ScriptedMessages messages;
    FaultingFiles files;
    std::unique_ptr<Copieur> window;
    QSet<QChar> baseline; ///< what the table held before any key: C, and whatever the machine has
    QStringList handled;  ///< "+root" per arrival handled, "-root" per removal
    QStringList handledWhileCopying;
};

} // namespace

class TestWindowStorm : public QObject
{
    Q_OBJECT

    // The slots and the drive table say what is mounted, no more, no less.
    static void verifyAgreement(LiveWindow &live, const QStringList &mounted)
    {
        QSet<QChar> expected = live.baseline;
        for (const QString &dir : mounted) {
            const QChar letter = live.drives.letterOfRoot(dir);
            QVERIFY2(!letter.isNull(), qPrintable(dir));
            expected << letter;
            int holding = 0;
            for (int i = 1; i <= 8; ++i)
                holding += live.window->bas().Occupee[i] != FlagFalse && live.window->bas().Lecteur[i] == QString(letter);
            QVERIFY2(holding == 1, qPrintable(QStringLiteral("%1 in %2 slots").arg(dir).arg(holding)));
        }
        int occupied = 0;
        for (int i = 1; i <= 8; ++i)
            occupied += live.window->bas().Occupee[i] != FlagFalse;
        QCOMPARE(occupied, mounted.size());
        QCOMPARE(live.lettersInTable(), expected);
    }

private slots:
    // A hundred cycles of three keys mounted and unmounted in bursts, seen whole or
    // in pieces, some while a copy run holds the notifications back.
    void windowFollowsAStorm()
    {
        REQUIRE_PRIVATE_MOUNTS();
        LiveWindow live;
        const QStringList dirs{live.media.createDir(QStringLiteral("a")), live.media.createDir(QStringLiteral("b")),
                               live.media.createDir(QStringLiteral("c"))};
        const DetachAtEnd detach{dirs};
        const TempTree sourceTree;
        const QString source = sourceTree.createFile(QStringLiteral("cours.txt"), "le cours");
        live.window->bas().FichSource = DrivePath::fromNative(source, live.drives);
        QVERIFY(!live.window->bas().FichSource.isEmpty());

        QStringList mounted;   // in the order of the mount table
        QStringList performed; // "+dir" and "-dir", in the order done
        const auto mountOne = [&](const QString &dir) {
            if (!mountTmpfs(dir))
                return false;
            mounted << dir;
            performed << QLatin1Char('+') + dir;
            return true;
        };
        const auto unmountOne = [&](const QString &dir) {
            if (!unmount(dir))
                return false;
            mounted.removeOne(dir);
            performed << QLatin1Char('-') + dir;
            return true;
        };
        int runs = 0;
        for (int cycle = 0; cycle < 100; ++cycle) {
            const bool inPieces = cycle % 2 == 1;
            // Removals go in the table's order: the watcher reports one reading's changes in that order.
            const QStringList leaving = cycle % 4 == 3 ? mounted.mid(0, 1) : mounted;
            for (const QString &dir : leaving) {
                QVERIFY(unmountOne(dir));
                if (inPieces)
                    QCoreApplication::processEvents();
            }
            QStringList arriving;
            for (int k = 0; k < 3; ++k) {
                const QString &dir = dirs[(cycle + k) % 3];
                if (!mounted.contains(dir))
                    arriving << dir;
            }
            if (cycle % 8 == 3 && !mounted.isEmpty() && !arriving.isEmpty()) {
                // A copy run onto the keys there are; the others come while it runs and wait for its end.
                bool mountedDuringRun = true;
                live.files.beforeCopy = [&](int) {
                    for (const QString &dir : std::as_const(arriving))
                        mountedDuringRun = mountOne(dir) && mountedDuringRun;
                    arriving.clear();
                };
                const QStringList keys = mounted;
                const int before = live.files.copies();
                live.window->LanceCopie_Click();
                live.files.beforeCopy = {};
                QVERIFY(mountedDuringRun);
                QCOMPARE(live.files.copies() - before, keys.size());
                for (const QString &dir : keys) {
                    QCOMPARE(TempTree::read(dir + QStringLiteral("/cours.txt")), QByteArray("le cours"));
                    QVERIFY(QFile::remove(dir + QStringLiteral("/cours.txt")));
                }
                ++runs;
            }
            for (const QString &dir : std::as_const(arriving)) {
                QVERIFY(mountOne(dir));
                if (inPieces)
                    QCoreApplication::processEvents();
            }
            QTRY_VERIFY2_WITH_TIMEOUT(live.handled.size() >= performed.size(), qPrintable(QString::number(cycle)), 10000);
            QCOMPARE(live.handled, performed);
            verifyAgreement(live, mounted);
            if (QTest::currentTestFailed())
                return;
        }
        for (const QString &dir : QStringList(mounted))
            QVERIFY(unmountOne(dir));
        QTRY_VERIFY_WITH_TIMEOUT(live.handled.size() >= performed.size(), 10000);
        QCOMPARE(live.handled, performed);
        verifyAgreement(live, {});
        QCOMPARE(live.handledWhileCopying, QStringList());
        QVERIFY(runs >= 5);
        QCOMPARE(live.messages.shown.size(), 0);
        qInfo("%lld key changes handled, %d copy runs", qlonglong(performed.size()), runs);
    }
};

QTEST_MAIN(TestWindowStorm)
#include "test_window_storm.moc"
