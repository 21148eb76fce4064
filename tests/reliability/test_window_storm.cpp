#include "Reliability.h"
#include "devices/DeviceReport.h"
#include "devices/LinuxDriveFacts.h"
#include "devices/MountWatcher.h"
#include "drives/DrivePath.h"
#include "support/Mounts.h"

using namespace Qt::StringLiterals;

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
            const QString letter = text.section(u"DeviceID :\t"_s, 1).left(1), sign = text.startsWith(DeviceReport::arrivalHeader(letter)) ? u"+"_s : u"-"_s;
            if (!letter.isEmpty() && (sign == u"+" || text == DeviceReport::removalFirstLine() + DeviceReport::removalSecondLine(letter)))
                handled << (window.isCopying() ? u"!"_s : sign) + drives.drive(letter.at(0)).value_or(Drive()).root;
        });
        QVERIFY(watcher.start());
        const auto change = [&](const QString &dir, bool mount, bool inPieces) { // in pieces, the watcher reads the table after each
            performed << (mount ? u"+"_s : u"-"_s) + dir;
            mount ? mounted.append(dir) : void(mounted.removeOne(dir));
            return (mount ? Mounts::mountTmpfs(dir, u"1m"_s) : Mounts::unmount(dir)) && (!inPieces || (QCoreApplication::processEvents(), true));
        };
        const Reliability::MountedDirs dirs{{media.createDir(u"a"_s), media.createDir(u"b"_s), media.createDir(u"c"_s)}};
        window.bas().FichSource = DrivePath::fromNative(source.createFile(u"cours.txt"_s, "le cours"), drives);
        for (int cycle = 0; cycle < 100 && !QTest::currentTestFailed(); ++cycle) {
            // Removals in the table's order, the order of one reading's changes; seen before the arrivals, as a
            // volume mounted where another has just gone may, within one reading, look like the same mount.
            for (const QString &dir : cycle % 4 == 3 ? mounted.mid(0, 1) : QStringList(mounted))
                QVERIFY(change(dir, false, cycle % 2 == 0));
            QTRY_COMPARE_WITH_TIMEOUT(handled, performed, 10000);
            if (cycle % 8 == 3) // a copy run onto the two keys left; the third comes while it runs
                window.LanceCopie_Click();
            for (int k = 0; k < 3; ++k)
                QVERIFY(mounted.contains(dirs[(cycle + k) % 3]) || change(dirs[(cycle + k) % 3], true, cycle % 2 == 0));
            if (cycle % 8 == 3) // read while the run is on, the arrival waits for its end
                QVERIFY((watcher.rescan(), window.isCopying()) && QTest::qWaitFor([&] { return !window.isCopying(); }, 20000));
            QTRY_COMPARE_WITH_TIMEOUT(handled, performed, 10000);
        }
        QStringList held; // the roots of the keys in the occupied slots
        for (int i = 1; i <= 8; ++i)
            if (window.bas().Occupee[i] != FlagFalse)
                held << drives.drive(window.bas().Lecteur[i].at(0)).value_or(Drive()).root;
        held.sort(), mounted.sort();
        QCOMPARE(held, mounted);
        for (const QString &dir : QStringList(mounted))
            QVERIFY(change(dir, false, true));
        QTRY_COMPARE_WITH_TIMEOUT(handled, performed, 10000); // and so every letter was freed: D..Z would else run out
        QCOMPARE(messages.shown.size(), 0);
    }
};

QTEST_MAIN(TestWindowStorm)
#include "test_window_storm.moc"
