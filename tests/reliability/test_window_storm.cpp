#include "Reliability.h"
#include "devices/DeviceReport.h"
#include "devices/LinuxDriveFacts.h"
#include "devices/MountWatcher.h"
#include "drives/DrivePath.h"
#include "support/Mounts.h"


namespace {

// The window on the real watcher, facts and file operations, with keys mounted
// below a temporary media root of the test's private mount namespace.
struct LiveWindow
{
    LiveWindow()
    {
        // Every handled notification writes Text1; the completed reports say which.
        QObject::connect(window->controls().Text1, &QLineEdit::textChanged, [this](const QString &text) {
            for (char16_t c = u'D'; c <= u'Z'; ++c) {
                const bool arrival = text.startsWith(DeviceReport::arrivalHeader(QChar(c)));
                if (!arrival && text != DeviceReport::removalFirstLine() + DeviceReport::removalSecondLine(QChar(c)))
                    continue;
                handled << (arrival ? QLatin1Char('+') : QLatin1Char('-')) + drives.drive(QChar(c)).value_or(Drive{}).root;
                if (window->isCopying())
                    handledWhileCopying << handled.last();
            }
        });
        watcher.start();
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
    Reliability::FaultingFiles files;
    std::unique_ptr<Copieur> window = std::make_unique<Copieur>(Copieur::Services{
        drives, messages, [this] { return std::make_unique<LinuxFileSystemObject>(drives); }, files, &watcher});
    const QSet<QChar> baseline = lettersInTable(); ///< C, and whatever the machine has
    QStringList handled; ///< "+root" per arrival handled, "-root" per removal
    QStringList handledWhileCopying;
};

} // namespace

class TestWindowStorm : public QObject
{
    Q_OBJECT

    // The handled notifications match those performed, and the slots and the drive
    // table say what is mounted, no more, no less.
    static void verifyAgreement(LiveWindow &live, const QStringList &performed, const QStringList &mounted)
    {
        QTRY_VERIFY_WITH_TIMEOUT(live.handled.size() >= performed.size(), 10000);
        QCOMPARE(live.handled, performed);
        const CopieurBas &bas = live.window->bas();
        QStringList held; // the letters of the occupied slots
        for (int i = 1; i <= 8; ++i)
            if (bas.Occupee[i] != FlagFalse)
                held << bas.Lecteur[i];
        QCOMPARE(held.size(), mounted.size());
        QSet<QChar> expected = live.baseline;
        for (const QString &dir : mounted) {
            const QChar letter = live.drives.letterOfRoot(dir);
            QVERIFY2(!letter.isNull() && held.count(QString(letter)) == 1, qPrintable(dir));
            expected << letter;
        }
        QCOMPARE(live.lettersInTable(), expected);
    }

private slots:
    // A hundred cycles of three keys mounted and unmounted in bursts, seen whole or
    // in pieces, some while a copy run holds the notifications back.
    void windowFollowsAStorm()
    {
        REQUIRE_PRIVATE_MOUNTS();
        LiveWindow live;
        Reliability::MountedDirs dirs;
        for (const char *name : {"a", "b", "c"})
            dirs << live.media.createDir(QString::fromUtf8(name));
        const TempTree sourceTree;
        live.window->bas().FichSource = DrivePath::fromNative(sourceTree.createFile(QStringLiteral("cours.txt"), "le cours"), live.drives);
        QVERIFY(!live.window->bas().FichSource.isEmpty());

        // What is mounted, in the order of the mount table; "+dir" and "-dir", in the order done.
        QStringList mounted, performed;
        // Seen in pieces, the watcher reads the table after each change; else after a burst of them.
        const auto change = [&](const QString &dir, bool mount, bool inPieces = false) {
            const QByteArray path = QFile::encodeName(dir);
            if ((mount ? ::mount("tmpfs", path.constData(), "tmpfs", 0, "size=1m") : ::umount2(path.constData(), 0)) != 0)
                return false;
            mount ? mounted.append(dir) : void(mounted.removeOne(dir));
            performed << (mount ? QLatin1Char('+') : QLatin1Char('-')) + dir;
            if (inPieces)
                QCoreApplication::processEvents();
            return true;
        };
        int runs = 0;
        for (int cycle = 0; cycle < 100 && !QTest::currentTestFailed(); ++cycle) {
            // Removals go in the table's order: the watcher reports one reading's changes in that order.
            for (const QString &dir : cycle % 4 == 3 ? mounted.mid(0, 1) : QStringList(mounted))
                QVERIFY(change(dir, false, cycle % 2));
            // A volume mounted where another has just gone, within one reading, may get the same
            // mount id and device number and look like the same mount: let the removals be seen first.
            verifyAgreement(live, performed, mounted);
            QStringList arriving;
            for (int k = 0; k < 3; ++k)
                if (!mounted.contains(dirs[(cycle + k) % 3]))
                    arriving << dirs[(cycle + k) % 3];
            if (cycle % 8 == 3 && !mounted.isEmpty() && !arriving.isEmpty()) {
                // A copy run onto the keys there are; the others come while it runs and wait for its end.
                bool mountedDuringRun = true;
                live.files.beforeCopy = [&](int) {
                    for (const QString &dir : std::as_const(arriving))
                        mountedDuringRun = change(dir, true) && mountedDuringRun;
                    arriving.clear();
                };
                const QStringList keys = mounted;
                live.files.copies = 0;
                live.window->LanceCopie_Click();
                QVERIFY(QTest::qWaitFor([&] { return !live.window->isCopying(); }, 20000));
                live.files.beforeCopy = [](int) {};
                QVERIFY(mountedDuringRun);
                QCOMPARE(live.files.copies.load(), keys.size());
                for (const QString &copy : keys)
                    QVERIFY(TempTree::read(copy + QStringLiteral("/cours.txt")) == "le cours" && QFile::remove(copy + QStringLiteral("/cours.txt")));
                ++runs;
            }
            for (const QString &dir : std::as_const(arriving))
                QVERIFY(change(dir, true, cycle % 2));
            verifyAgreement(live, performed, mounted);
        }
        for (const QString &dir : QStringList(mounted))
            QVERIFY(change(dir, false));
        verifyAgreement(live, performed, {});
        QCOMPARE(live.handledWhileCopying, QStringList());
        QVERIFY(runs >= 5);
        QCOMPARE(live.messages.shown.size(), 0);
    }
};

QTEST_MAIN(TestWindowStorm)
#include "test_window_storm.moc"
