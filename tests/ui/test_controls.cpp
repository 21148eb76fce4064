#include "support/FailureOf.h"
#include "support/WindowChecks.h"
#include "ui/VkFrame.h"

// An image and samples of it: x, y and the 0xBBGGRR colour there, -1 for a grey.
using Look = std::pair<QImage, QList<std::array<int, 3>>>;

class TestControls : public QObject
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

    // The panel's title gradient (450 twips: 30 pixels), body gradient and border as wide as set; the button's
    // gradient, grey once disabled.
    void paintedLook_data()
    {
        QTest::addColumn<Look>("look");
        VkFrame panel;
        VkCommand button;
        for (const auto &[key, value] : QVariantMap{{"titlecolor1", 0x00C0C0}, {"titlecolor2", 0xC0FFFF}, {"backcolor1", 0x00FF00},
                 {"backcolor2", 0x004080}, {"titleheight", 450}, {"bordercolor", 0xFFFFFF}, {"borderwidth", 5}}.asKeyValueRange())
            panel.setSetting(key, value), button.setSetting(key, value); // the button refuses the panel's own keys
        panel.resize(488, 523), button.resize(201, 43);
        QTest::newRow("panel") << Look{panel.grab().toImage(), {{440, 4, 0xFFFFFF}, {440, 5, 0x00C0C0}, {440, 29, 0xC0FFFF}, {440, 30, 0x00FF00},
                                                                 {4, 510, 0xFFFFFF}, {5, 510, 0x004080}, {483, 510, 0xFFFFFF}, {244, 518, 0xFFFFFF}}};
        QTest::newRow("button") << Look{button.grab().toImage(), {{100, 2, 0x00FF00}, {100, 40, 0x004080}}};
        button.setEnabled(false);
        QTest::newRow("disabled button") << Look{button.grab().toImage(), {{100, 2, -1}, {100, 40, -1}}};
    }
    void paintedLook()
    {
        QFETCH(Look, look);
        for (const auto &[x, y, bgr] : look.second) {
            const QColor p = look.first.pixelColor(x, y), w(bgr & 0xFF, bgr >> 8 & 0xFF, bgr >> 16 & 0xFF);
            QVERIFY2(bgr < 0 ? p.hsvSaturation() < 40 : std::abs(p.red() - w.red()) + std::abs(p.green() - w.green()) + std::abs(p.blue() - w.blue()) <= 60,
                     qPrintable(QString("%1,%2 is %3").arg(x).arg(y).arg(p.name())));
        }
    }
};

QTEST_MAIN(TestControls)
#include "test_controls.moc"
