#include "support/FailureOf.h"
#include "support/WindowChecks.h"

#include <QTest>

// A temp tree that is drive D [CLE]; names ending with '/' are made as folders.
struct KeyD
{
    explicit KeyD(const QStringList &names = {})
    {
        drives.assign(tree.root(), {}, "CLE");
        for (const QString &name : names)
            name.endsWith('/') ? tree.createDir(name) : tree.createFile(name);
    }
    TempTree tree;
    DriveTable drives;
};

class TestLists : public QObject
{
    Q_OBJECT

private slots:
    // Sorted without case; hidden names, names with '\' and broken links left out; links count as their targets.
    // A refresh keeps the current file by name; a folder gone empties the list and fails.
    void listsShowTheirKindAndRefresh()
    {
        KeyD key({"S/Gamma/", "S/Beta/", "S/alpha/", "S/.git/", "S/x\\y/", "S/b", "S/A", "S/B", "S/été", "S/Été", "S/étude", "S/Eta", "S/.hidden", "S/back\\slash"});
        for (const auto &[target, link] : {std::pair("S/A", "S/link"), std::pair("nowhere", "S/dangling"), std::pair("S/Beta", "S/dirlink")})
            QVERIFY(QFile::link(key.tree.path(target), key.tree.path(link)));
        FileList files(key.drives);
        FolderList folder(key.drives);
        files.setPath("D:\\S");
        folder.setPath("d:\\S\\");
        QCOMPARE(entries(files, -1, 8).join('|'), "|A|B|b|Eta|link|étude|Été|été|");
        QCOMPARE(entries(folder, -3, folder.listCount()).join('|'), "|D:\\|D:\\S|D:\\S\\alpha|D:\\S\\Beta|D:\\S\\dirlink|D:\\S\\Gamma|");
        files.setListIndex(2);
        key.tree.createFile("S/a");
        files.refresh();
        QCOMPARE(files.list(files.listIndex()), "b");
        QVERIFY(QDir(key.tree.path("S")).removeRecursively());
        QCOMPARE(failureOf([&] { files.refresh(); }), FailureNumber::PathNotFound);
        QCOMPARE(files.listCount(), 0);
    }

    // The operator's click reaches the handler; a failure it lets through goes to the window.
    void clickFailureGoesToTheWindow()
    {
        struct Window : QWidget, FailureReporter
        {
            QList<int> seen;
            void reportUnhandled(const Failure &failure) override { seen << failure.number(); }
        } window;
        KeyD key({"a", "b"});
        FileList files(key.drives, &window);
        files.setClickHandler([&] { window.seen << files.listIndex(); throw failureFor(FailureNumber::FileNotFound); });
        files.setPath("D:\\");
        files.setGeometry(0, 0, 200, 200);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QTest::mouseClick(window.windowHandle(), Qt::LeftButton, {}, files.viewport()->mapTo(&window, files.visualRect(files.model()->index(1, 0)).center()));
        QCOMPARE(window.seen, QList<int>({1, 53}));
    }

    // Only the first character counts; a current drive that leaves the table keeps its entry.
    void driveListFollowsItsDrives()
    {
        KeyD key;
        key.drives.assign(key.tree.createDir("E"), {}, "PARTIE");
        DriveList list(key.drives);
        list.setDrive("e: [OLD]");
        key.drives.release('E');
        QCOMPARE(QString::number(list.count()) + ' ' + list.currentText(), "3 e: [PARTIE]");
        QCOMPARE(QString::number(failureOf([&] { list.setDrive(""); })) + QString::number(failureOf([&] { list.setDrive("e"); })), "6868");
    }
};

QTEST_MAIN(TestLists)
#include "test_lists.moc"
