#include "Reliability.h"
#include "devices/DeviceReport.h"
#include "devices/LinuxDriveFacts.h"
#include "devices/MountWatcher.h"
#include "support/Mounts.h"

class TestWindowStorm : public QObject
{
    Q_OBJECT

private slots:
    // The window on the real watcher, facts and file operations, through a hundred cycles of three
    // tmpfs keys mounted and unmounted in bursts below a media folder, seen whole or in pieces, some
    // during a copy run onto the keys there are. Each change is handled once, in order, never while
    // a run holds the notifications back; the slots and letters then say what is mounted.
    void windowFollowsAStorm()
    {
        REQUIRE_PRIVATE_MOUNTS();
        const TempTree media, source;
        DriveTable drives;
        MountWatcher watcher(drives, {media.root()});
        ScriptedMessages messages;
        LinuxFileOperations files;
        Copieur window({drives, messages, [&] { return std::make_unique<LinuxFileSystemObject>(drives); }, files, &watcher});
        // "+dir" or "-dir" per notification handled ('!' while copying), per change made; what is mounted, in the table's order.
        QStringList handled, performed, mounted;
        QObject::connect(window.controls().Text1, &QLineEdit::textChanged, [&](const QString &text) {
            const QString letter = text.section("DeviceID :\t", 1).left(1);
            const bool arrival = text.startsWith(DeviceReport::arrivalHeader(letter));
            if (!letter.isEmpty() && (arrival || text == DeviceReport::removalFirstLine() + DeviceReport::removalSecondLine(letter)))
                handled << (window.isCopying() ? "!" : arrival ? "+" : "-") + drives.drive(letter[0]).value_or(Drive()).root;
        });
        QVERIFY(watcher.start());
        const auto change = [&](const QString &dir, bool mount, bool inPieces) { // in pieces, the watcher reads the table after each
            performed << (mount ? "+" : "-") + dir;
            mount ? mounted.append(dir) : void(mounted.removeOne(dir));
            return (mount ? Mounts::mountTmpfs(dir, "1m") : Mounts::unmount(dir)) && (!inPieces || (qApp->processEvents(), true));
        };
        const Reliability::MountedDirs dirs{{media.createDir("a"), media.createDir("b"), media.createDir("c")}};
        window.bas().FichSource = "C:" + source.createFile("cours.txt", "le cours").replace('/', '\\'); // drive C is "/"
        for (int cycle = 0; cycle < 100 && !QTest::currentTestFailed(); ++cycle) {
            cycle % 8 == 1 ? window.LanceCopie_Click() : void(); // a copy run onto the two keys left; the third comes while it runs
            for (int k = 0; k < 3; ++k)
                QVERIFY(mounted.contains(dirs[(cycle + k) % 3]) || change(dirs[(cycle + k) % 3], true, cycle % 2 == 0));
            // Read while the run is on, the arrival waits for its end.
            QVERIFY(cycle % 8 != 1 || ((watcher.rescan(), window.isCopying()) && QTest::qWaitFor([&] { return !window.isCopying(); })));
            QTRY_COMPARE_WITH_TIMEOUT(handled, performed, 10000);
            // Removals in the table's order, the order of one reading's changes, all of them in the end; seen before the
            // arrivals, as a volume mounted where another has just gone may, within one reading, look like the same mount.
            for (const QString &dir : cycle % 4 == 0 ? mounted.mid(0, 1) : QStringList(mounted))
                QVERIFY(change(dir, false, cycle % 2 == 0));
            QTRY_COMPARE_WITH_TIMEOUT(handled, performed, 10000); // and so, in the end, every letter was freed: D..Z would else run out
            // The keys of the occupied slots are those still mounted, and no message was shown.
            for (auto [i, unheld] = std::pair{1, mounted}; i <= 8; ++i)
                QVERIFY((window.bas().Occupee[i] == FlagFalse || unheld.removeOne(drives.drive(window.bas().Lecteur[i][0]).value().root))
                        && (i < 8 || (unheld.isEmpty() && messages.shown.isEmpty())));
        }
    }
};

QTEST_MAIN(TestWindowStorm)
#include "test_window_storm.moc"
