#include "support/FailureOf.h"
#include "support/WindowChecks.h"

class TestLists : public QObject
{
    Q_OBJECT

private slots:
    // Sorted without case; hidden names, names with '\' and broken links left out; links count as their targets.
    // The operator's click reaches the handler, and a failure it lets through goes to the window. A refresh keeps
    // the current file by name; a folder gone empties the list and fails. Of a drive list, only the first
    // character counts, and a current drive that leaves the table keeps its entry.
    void listsShowFollowAndReport()
    {
        struct Window : QWidget, FailureReporter
        {
            QList<int> seen;
            void reportUnhandled(const Failure &failure) override { seen << failure.number(); }
        } window;
        TempTree key; // drive D [CLE]; names ending with '/' are made as folders
        DriveTable drives;
        drives.assign(key.root(), {}, "CLE");
        for (const QString name : {"S/Gamma/", "S/Beta/", "S/alpha/", "S/.git/", "S/x\\y/", "S/b", "S/A", "S/B", "S/été", "S/Été",
                                   "S/étude", "S/Eta", "S/.hidden", "S/back\\slash"})
            name.endsWith('/') ? key.createDir(name) : key.createFile(name);
        for (const auto &[target, link] :
             {std::pair("S/A", "S/link"), std::pair("nowhere", "S/dangling"), std::pair("S/Beta", "S/dirlink")})
            QVERIFY(QFile::link(key.path(target), key.path(link)));
        FileList files(drives, &window);
        FolderList folder(drives);
        files.setPath("D:\\S");
        folder.setPath("d:\\S\\");
        QCOMPARE(entries(files, -1, 8).join('|'), "|A|B|b|Eta|link|étude|Été|été|");
        QCOMPARE(entries(folder, -3, folder.listCount()).join('|'), "|D:\\|D:\\S|D:\\S\\alpha|D:\\S\\Beta|D:\\S\\dirlink|D:\\S\\Gamma|");

        files.setClickHandler([&] { window.seen << files.listIndex(); throw failureFor(FailureNumber::FileNotFound); });
        files.setGeometry(0, 0, 200, 200);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        const QPoint secondRow = files.viewport()->mapTo(&window, files.visualRect(files.model()->index(1, 0)).center());
        QTest::mouseClick(window.windowHandle(), Qt::LeftButton, {}, secondRow);
        QCOMPARE(window.seen, QList<int>({1, 53}));

        files.setListIndex(2);
        key.createFile("S/a");
        files.refresh();
        QCOMPARE(files.list(files.listIndex()), "b");
        QVERIFY(QDir(key.path("S")).removeRecursively());
        QCOMPARE(failureOf([&] { files.refresh(); }) + files.listCount(), FailureNumber::PathNotFound);

        drives.assign(key.createDir("E"), {}, "PARTIE");
        DriveList list(drives);
        list.setDrive("e: [OLD]");
        drives.release('E');
        QCOMPARE(QString::number(list.count()) + ' ' + list.currentText(), "3 e: [PARTIE]");
        QCOMPARE(QString::number(failureOf([&] { list.setDrive(""); })) + QString::number(failureOf([&] { list.setDrive("e"); })), "6868");
    }
};

QTEST_MAIN(TestLists)
#include "test_lists.moc"
