#include "support/WindowChecks.h"
#include "ui/SlotPresentation.h"

#include <QScopeGuard>
#include <QTest>
#include <QTimer>

// A window with a source volume D, a key E and a drive F whose folder is gone.
struct Fixture : WindowFixture
{
    TempTree source, key, gone;
    Fixture()
    {
        for (const char *name : {"D/Data/name.txt", "D/Data/other.txt", "D/top.txt", "E/Photos/plage.jpg", "E/Docs/lettre.odt", "E/old.txt"})
            (name[0] == 'D' ? source : key).createFile(name + 2);
        addDrive(source), addDrive(key, "CLE"), addDrive(gone), QDir(gone.root()).removeRecursively();
    }
};

class TestWindow : public QObject
{
    Q_OBJECT

private slots:
    // Clicks, by token: "t3" on slot 3's tick, "b3" on its status box, "L" on the launch button; "f3" sets slot 3's
    // flag to 1 (any non-zero flag selects), "d3" shows slot 3 green "Terminé" as a finished run leaves it.
    void clicksToggleTheSelection_data()
    {
        QTest::addColumn<QString>("clicks");
        QTest::addColumn<QString>("state");
        QTest::addColumn<bool>("launchEnabled");
        QTest::newRow("5 then 5 again on its box") << "t5 b5" << "- - - - - - - -" << false;
        QTest::newRow("3 and 7, deselect 3") << "t3 t7 b3" << "- - - - - - -* -" << true;
        QTest::newRow("all eight") << "t1 t2 t3 t4 t5 t6 t7 b8" << "-* -* -* -* -* -* -* -*" << true;
        QTest::newRow("a finished slot is still selected") << "t4 d4 b4" << "- - - - - - - -" << false;
        QTest::newRow("the flag counts, not its value") << "f6 t6" << "- - - - - - - -" << false;
        QTest::newRow("a disabled launch button starts no run") << "f1 L" << "-*! - - - - - - -" << false;
    }
    void clicksToggleTheSelection()
    {
        QFETCH(QString, clicks);
        QFETCH(QString, state);
        QFETCH(bool, launchEnabled);
        Fixture fixture;
        Controls &c = fixture.controls();
        for (const QString &click : clicks.split(' ', Qt::SkipEmptyParts)) {
            const int slot = click.mid(1).toInt();
            click[0] == 'f' ? void(fixture.bas().Cochee[slot] = 1) : click[0] == 'd' ? presentSlot(c, slot, SlotState::Done)
                : QTest::mouseClick(click[0] == 't' ? c.Coche[slot] : click[0] == 'b' ? c.Controle[slot] : static_cast<QWidget *>(c.LanceCopie), Qt::LeftButton);
        }
        QCOMPARE(slotsOf(fixture), state);
        QCOMPARE(c.LanceCopie->isEnabled(), launchEnabled);
        QVERIFY(!fixture.window->isCopying());
    }

    void quitterEndsTheProgram()
    {
        Fixture fixture;
        fixture.bas().Cochee[2] = FlagTrue;
        QTimer::singleShot(0, fixture.controls().Quitter, [&] { fixture.controls().Quitter->click(); });
        QTimer::singleShot(5000, qApp, [] { QCoreApplication::exit(1); });
        QCOMPARE(QCoreApplication::exec(), 0);
        QVERIFY(fixture.messages.shown.isEmpty());
    }

    // Changes in slot 2's lists, '|' between them: a letter for the drive list, a drive path for the folder list,
    // "cd Docs" the working folder in the key, "-E" the key no longer readable. A drive that cannot be read sends
    // the slot back, silently, to the key's current folder, or leaves it on the last folder it read.
    void slotDestinationFollowsTheLastChange_data()
    {
        QTest::addColumn<QString>("changes");
        QTest::addColumn<QString>("destination");
        QTest::addColumn<QString>("files");
        QTest::newRow("drive change to a root") << "E" << "E:\\" << "old.txt";
        QTest::newRow("drive change into the working folder") << "cd Docs|E" << "E:\\Docs\\" << "lettre.odt";
        QTest::newRow("folder change to a subfolder") << "E|E:\\Photos" << "E:\\Photos\\" << "plage.jpg";
        QTest::newRow("folder change back to the root") << "E|E:\\Photos|E:\\" << "E:\\" << "old.txt";
        QTest::newRow("unreadable drive: back to the key's root") << "E|E:\\Photos|F" << "E:\\" << "old.txt";
        QTest::newRow("key unreadable too: stays") << "E|E:\\Photos|-E|F" << "E:\\Photos\\" << "plage.jpg";
    }
    void slotDestinationFollowsTheLastChange()
    {
        QFETCH(QString, changes);
        QFETCH(QString, destination);
        QFETCH(QString, files);
        Fixture fixture;
        Controls &c = fixture.controls();
        const auto restore = qScopeGuard([saved = QDir::currentPath()] { QDir::setCurrent(saved); });
        for (const QString &change : changes.split('|')) {
            if (change.startsWith('-') || change.startsWith("cd "))
                QVERIFY(change[0] == '-' ? QDir(fixture.key.root()).removeRecursively() : QDir::setCurrent(fixture.key.path(change.mid(3))));
            else
                change.size() == 1 ? c.Drive1[2]->setDrive(change) : c.Dir1[2]->setPath(change);
        }
        QCOMPARE(fixture.bas().CheminDest[2], destination);
        QCOMPARE(QString(c.Dir1[2]->path() + '\\').replace("\\\\", "\\"), destination);
        QVERIFY(c.Drive1[2]->drive().startsWith(u"e:"));
        QCOMPARE(entries(*c.File1[2]).join(' '), files);
        QVERIFY(fixture.bas().CheminDest[1].isEmpty() && fixture.messages.shown.isEmpty());
    }

    // The source is the file picked, in the folder the list shows; a folder or drive change writes no source.
    // A slot's file click names the file to delete instead.
    void fileClicksNameTheSourceOrTheDeletion()
    {
        Fixture fixture;
        Controls &c = fixture.controls();
        c.Drive1[0]->setDrive("D");
        QVERIFY(pick(fixture, 0, "top.txt"));
        QCOMPARE(fixture.bas().FichSource, "D:\\top.txt"); // one separator, at a root too
        c.Dir1[0]->setPath("D:\\Data");
        QCOMPARE(c.Chemin->caption(), "top.txt");
        c.Dir1[0]->setListIndex(-2); // moved to the parent, not opened
        QVERIFY(pick(fixture, 0, "name.txt"));
        QCOMPARE(fixture.bas().FichSource + ' ' + c.Chemin->caption(), "D:\\Data\\name.txt name.txt");
        c.Drive1[0]->setDrive("E");
        QCOMPARE(c.Chemin->caption(), "E:\\");
        c.Drive1[4]->setDrive("E");
        c.FichKill->setText("quelque chose.txt");
        QVERIFY(pick(fixture, 4, "old.txt"));
        QCOMPARE(fixture.bas().NomKill + ' ' + c.FichKill->text() + ' ' + fixture.bas().FichSource, "old.txt old.txt D:\\Data\\name.txt");
    }
};

QTEST_MAIN(TestWindow)
#include "test_window.moc"
