#include "support/FailureOf.h"
#include "support/WindowChecks.h"
#include "ui/EventGuard.h"

#include <QScopeGuard>
#include <QTest>

using namespace Qt::StringLiterals;

// A temp tree that is drive D [CLE]; names ending with '/' are made as folders.
struct KeyD
{
    explicit KeyD(const QStringList &names = {})
    {
        drives.assign(tree.root(), {}, u"CLE"_s);
        for (const QString &name : names)
            name.endsWith(u'/') ? tree.createDir(name) : tree.createFile(name);
    }
    TempTree tree;
    DriveTable drives;
};

class TestLists : public QObject
{
    Q_OBJECT

private slots:
    // A change handler runs inside the set, before it returns, and its failure comes out of the set.
    void nestedChangesRunInsideTheSet()
    {
        KeyD key;
        DriveList drive(key.drives);
        FolderList folder(key.drives);
        QStringList calls;
        folder.setChangeHandler([&] { calls << folder.path(); throw failureFor(FailureNumber::DeviceIO); });
        drive.setChangeHandler([&] { calls << drive.drive(); folder.setPath(drive.drive()); calls << u"not reached"_s; });
        QCOMPARE(failureOf([&] { drive.setDrive(u"D"_s); }), FailureNumber::DeviceIO);
        QCOMPARE(calls, QStringList({u"d: [CLE]"_s, u"D:\\"_s}));
        QCOMPARE(failureOf([&] { drive.setDrive(u"d: [CLE]"_s); folder.setPath(u"d:"_s); }), 0); // no change
        QCOMPARE(calls.size(), 2);
    }

    // Sorted without case; hidden names, names with '\' and broken links left out; links count as their targets.
    void listsShowTheirKindAndRefresh()
    {
        KeyD key({u"S/Gamma/"_s, u"S/Beta/"_s, u"S/alpha/"_s, u"S/.git/"_s, u"S/x\\y/"_s, u"S/b"_s, u"S/A"_s, u"S/B"_s,
                  u"S/été"_s, u"S/Été"_s, u"S/étude"_s, u"S/Eta"_s, u"S/.hidden"_s, u"S/back\\slash"_s});
        QVERIFY(QFile::link(key.tree.path(u"S/A"_s), key.tree.path(u"S/link"_s)));
        QVERIFY(QFile::link(key.tree.path(u"nowhere"_s), key.tree.path(u"S/dangling"_s)));
        QVERIFY(QFile::link(key.tree.path(u"S/Beta"_s), key.tree.path(u"S/dirlink"_s)));
        FileList files(key.drives);
        files.setPath(u"D:\\S"_s);
        QCOMPARE(entries(files, -1, 8), QStringList({u""_s, u"A"_s, u"B"_s, u"b"_s, u"Eta"_s, u"link"_s, u"étude"_s, u"Été"_s,
                                                     u"été"_s, u""_s}));
        FolderList folder(key.drives);
        folder.setPath(u"d:\\S\\"_s);
        QCOMPARE(folder.listCount(), 4);
        QCOMPARE(entries(folder, -3, 4), QStringList({u""_s, u"D:\\"_s, u"D:\\S"_s, u"D:\\S\\alpha"_s, u"D:\\S\\Beta"_s,
                                                      u"D:\\S\\dirlink"_s, u"D:\\S\\Gamma"_s, u""_s}));
        folder.setListIndex(-2);
        QCOMPARE(folder.listIndex(), -2);

        files.setListIndex(2);
        key.tree.createFile(u"S/a"_s);
        files.refresh(); // keeps the current file by name, not by place
        QCOMPARE(files.list(files.listIndex()), u"b"_s);
        QVERIFY(QDir(key.tree.path(u"S"_s)).removeRecursively());
        QCOMPARE(failureOf([&] { files.refresh(); }), FailureNumber::PathNotFound);
        QCOMPARE(files.listCount(), 0);
        QCOMPARE(failureOf([&] { folder.refresh(); }), FailureNumber::PathNotFound);
    }

    void operatorPicksAFile()
    {
        KeyD key({u"a"_s, u"b"_s, u"c"_s});
        // The handler's failure goes to the window's reporter, not through the event loop.
        struct Window : QWidget, FailureReporter
        {
            QList<int> clicks;
            void reportUnhandled(const Failure &failure) override { clicks << failure.number(); }
        } window;
        FileList files(key.drives, &window);
        QList<int> &clicks = window.clicks;
        files.setClickHandler([&] { clicks << files.listIndex(); throw failureFor(FailureNumber::FileNotFound); });
        files.setPath(u"D:\\"_s);
        files.setGeometry(0, 0, 200, 200);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        const QPoint row1 = files.viewport()->mapTo(&window, files.visualRect(files.model()->index(1, 0)).center());
        QTest::mouseClick(window.windowHandle(), Qt::LeftButton, {}, row1);
        QTest::keyClick(&files, Qt::Key_Down);
        QCOMPARE(clicks, QList<int>({1, 53, 2, 53}));
    }

    // Only the first character counts; a current drive that leaves the table keeps its entry.
    void driveListFollowsItsDrives()
    {
        KeyD key;
        TempTree e, f;
        key.drives.assign(e.root(), {}, u"PARTIE"_s);
        key.drives.assign(f.root(), {});
        DriveList list(key.drives);
        int changes = 0;
        list.setChangeHandler([&] { ++changes; });
        QCOMPARE(failureOf([&] { list.setDrive(u""_s); }), FailureNumber::DeviceUnavailable);
        QCOMPARE(failureOf([&] { list.setDrive(u"q:\\x"_s); }), FailureNumber::DeviceUnavailable);
        list.setDrive(u"e: [OLD]"_s);
        QCOMPARE(changes, 1);
        key.drives.release(QLatin1Char('E'));
        QCOMPARE(list.count(), 4);
        QCOMPARE(list.drive(), u"e: [PARTIE]"_s);
        QCOMPARE(list.currentText(), u"e: [PARTIE]"_s);
        QCOMPARE(failureOf([&] { list.setDrive(u"e"_s); }), FailureNumber::DeviceUnavailable);
        list.setDrive(u"D"_s);
        key.drives.release(QLatin1Char('F'));
        QCOMPARE(list.count(), 2);
    }
};

QTEST_MAIN(TestLists)
#include "test_lists.moc"
