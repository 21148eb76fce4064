#include "support/WindowChecks.h"
#include "ui/SlotPresentation.h"

#include <QTimer>

// A window with a source volume D, a key E and a drive F whose folder is gone.
struct Fixture : WindowFixture
{
    TempTree source, key, gone;
    Fixture()
    {
        for (const char *name : {"D/Data/name.txt", "D/Data/other.txt", "D/top.txt", "E/Photos/plage.jpg", "E/Docs/lettre.odt", "E/old.txt"})
            (name[0] == 'D' ? source : key).createFile(name + 2);
        addDrive(source.root()), addDrive(key.root(), "CLE"), addDrive(gone.root()), QDir(gone.root()).removeRecursively();
    }
};

class TestWindow : public QObject
{
    Q_OBJECT

private slots:
    void cleanup() { QDir::setCurrent(QCoreApplication::applicationDirPath()); } // some rows work in a key's folder

    // Clicks, by token, in the row's name: "t3" on slot 3's tick, "b3" on its status box, "L" on the launch button;
    // "f3" sets slot 3's flag to 1 (any non-zero flag selects), "d3" shows slot 3 green "Terminé" as a finished run
    // leaves it. Then the slots, " L" when the launch button is enabled, " copie" while a run goes on.
    void clicksToggleTheSelection_data()
    {
        QTest::addColumn<QString>("after");
        QTest::newRow("t3 t7 b3") << "- - - - - - -* - L"; // 3 and 7, deselect 3 on its box
        QTest::newRow("t1 t2 t3 t4 t5 t6 t7 b8") << "-* -* -* -* -* -* -* -* L"; // all eight
        QTest::newRow("t4 d4 b4") << "- - - - - - - -"; // a finished slot is still selected
        // The flag counts, not its value; a disabled launch button starts no run.
        QTest::newRow("f6 t6 f1 L") << "-*! - - - - - - -";
    }
    void clicksToggleTheSelection()
    {
        QFETCH(QString, after);
        Fixture fixture;
        Controls &c = fixture.controls();
        for (const QString &click : QString(QTest::currentDataTag()).split(' ')) {
            const int slot = click.mid(1).toInt();
            click[0] == 'f' ? void(fixture.bas().Cochee[slot] = 1) : click[0] == 'd' ? presentSlot(c, slot, SlotState::Done)
                : QTest::mouseClick(click[0] == 't' ? c.Coche[slot] : click[0] == 'b' ? c.Controle[slot] : static_cast<QWidget *>(c.LanceCopie), Qt::LeftButton);
        }
        QCOMPARE(slotsOf(fixture) + (c.LanceCopie->isEnabled() ? " L" : "") + (fixture.window->isCopying() ? " copie" : ""), after);
    }

    // Changes in slot 2's lists, in the row's name, '|' between them: a letter for the drive list, a drive path for
    // the folder list, "cd Docs" the working folder in the key, "-E" the key no longer readable. A drive that cannot
    // be read sends the slot back, silently, to the key's current folder, or leaves it on the last folder it read.
    // Then the slot's destination and its files.
    void slotDestinationFollowsTheLastChange_data()
    {
        QTest::addColumn<QString>("after");
        QTest::newRow("E") << "E:\\ old.txt"; // a drive change to a root
        QTest::newRow("E|E:\\Photos|E:\\") << "E:\\ old.txt"; // a folder change to a subfolder, and back to the root
        QTest::newRow("E|E:\\Photos|F") << "E:\\ old.txt"; // an unreadable drive: back to the key's root
        QTest::newRow("E|E:\\Photos|-E|F") << "E:\\Photos\\ plage.jpg"; // the key unreadable too: stays in the subfolder
    }
    void slotDestinationFollowsTheLastChange()
    {
        QFETCH(QString, after);
        Fixture fixture;
        Controls &c = fixture.controls();
        for (const QString &change : QString(QTest::currentDataTag()).split('|'))
            QVERIFY(change[0] == '-' ? QDir(fixture.key.root()).removeRecursively()
                    : change.startsWith("cd ") ? QDir::setCurrent(fixture.key.path(change.mid(3)))
                    : (change.size() == 1 ? c.Drive1[2]->setDrive(change) : c.Dir1[2]->setPath(change), true));
        QCOMPARE(fixture.bas().CheminDest[2] + ' ' + entries(*c.File1[2]).join(' '), after);
        QCOMPARE(QString(c.Dir1[2]->path() + '\\').replace("\\\\", "\\"), fixture.bas().CheminDest[2]);
        QVERIFY(c.Drive1[2]->drive().startsWith(u"e:") && fixture.bas().CheminDest[1].isEmpty() && fixture.messages.shown.isEmpty());
    }

    // The source is the file picked, in the folder the list shows; a folder or drive change writes no source.
    // A slot's file click names the file to delete instead. Quitter, a slot selected, ends the program silently.
    void fileClicksNameTheSourceOrTheDeletion()
    {
        Fixture fixture;
        Controls &c = fixture.controls();
        c.Drive1[0]->setDrive("D");
        QVERIFY(pick(fixture, 0, "top.txt"));
        c.Dir1[0]->setPath("D:\\Data");
        QCOMPARE(fixture.bas().FichSource + ' ' + c.Chemin->caption(), "D:\\top.txt top.txt"); // one separator, at a root too
        c.Dir1[0]->setListIndex(-2); // moved to the parent, not opened
        QVERIFY(pick(fixture, 0, "name.txt"));
        QCOMPARE(c.Chemin->caption(), "name.txt");
        c.Drive1[0]->setDrive("E");
        QCOMPARE(fixture.bas().FichSource + ' ' + c.Chemin->caption(), "D:\\Data\\name.txt E:\\");
        c.Drive1[4]->setDrive("E");
        c.FichKill->setText("quelque chose.txt");
        QVERIFY(pick(fixture, 4, "old.txt"));
        QCOMPARE(fixture.bas().NomKill + ' ' + c.FichKill->text() + ' ' + fixture.bas().FichSource, "old.txt old.txt D:\\Data\\name.txt");

        fixture.bas().Cochee[2] = FlagTrue;
        QTimer::singleShot(0, c.Quitter, [&] { c.Quitter->click(); });
        QCOMPARE(QCoreApplication::exec(), 0);
        QVERIFY(fixture.messages.shown.isEmpty());
    }

    // Events, by token: "+E" or "-E" a key's arrival or removal, "+6" or "-6" one with that unit mask,
    // "x1" the operator's click on slot 1. Keys D to L are readable, M's sizes are not.
    void keysComeAndGo_data()
    {
        QTest::addColumn<QString>("events");
        QTest::addColumn<QString>("state"); // as slotsOf() writes them
        QTest::addColumn<QString>("report"); // Text1 reports the arrival "+E" or the removal "-E"
        QTest::addColumn<QString>("message"); // the one message shown, if any
        QTest::newRow("an arrival selects every slot it passes") << "+D +F x1 +E" << "D* F* E* - - - - -" << "+E" << "";
        QTest::newRow("every slot taken") << "+D +E +F +G +H +I +J +K x1 x2 x3 x4 x5 x6 x7 x8 +L" << "D* E* F* G* H* I* J* K*" << "+L" << "";
        QTest::newRow("sizes unreadable") << "+D +M" << "D* - - - - - - -" << "+D" << "erreur N° 71 générée par EssaimeurMV\rDisque non prêt";
        // Its lists fall back to another drive: the slot must not keep a folder to copy and delete in.
        QTest::newRow("folder unreadable") << "+D +N" << "D* -* - - - - - -" << "+D" << "erreur N° 71 générée par EssaimeurMV\rDisque non prêt";
        QTest::newRow("arrival of no single letter") << "+D +6" << "D* - - - - - - -" << "+D" << "erreur N° 71 générée par EssaimeurMV\rDisque non prêt";
        QTest::newRow("removal frees the lowest slot holding the letter") << "+D +F +E -E" << "D* F* C - - - - -" << "-E" << "";
        QTest::newRow("letter held twice") << "+E +E -E" << "C E* - - - - - -" << "-E" << "";
        QTest::newRow("removal of no single letter: a slot that never held a key") << "+D -6" << "D* C - - - - - -" << "-" << "";
    }
    void keysComeAndGo()
    {
        QFETCH(QString, events);
        QFETCH(QString, state);
        QFETCH(QString, report);
        QFETCH(QString, message);
        WindowFixture fixture;
        TempTree trees[10];
        for (TempTree &tree : trees) // each of 1 Gio with 1.5 kio free
            fixture.facts[fixture.addDrive(tree.root(), "CLE")].availableSpace = 1536.0;
        fixture.facts['M'].failOnSize = failureFor(FailureNumber::DiskNotReady);
        fixture.facts[fixture.addDrive(TempTree().root(), "CLE")].availableSpace = 1536.0; // N: its folder is gone
        for (const QString &event : events.split(' ')) {
            const int number = event.mid(1).toInt(), mask = event.back().isDigit() ? number : int(unitMaskOf(event.back()));
            event[0] == 'x' ? fixture.window->Cochage(number) : event[0] == '+' ? fixture.window->SysInfo1_DeviceArrival(2, mask, {}, 0)
                                                                               : fixture.window->SysInfo1_DeviceRemoveComplete(2, mask, {}, 0);
        }
        QCOMPARE(slotsOf(fixture), state);
        QVERIFY(!events.contains('N') || fixture.bas().CheminDest[2].isEmpty());
        for (int i = 1; i <= 8; ++i) // a freed slot's lists go back to drive C
            QVERIFY(fixture.bas().Lecteur[i] != "C" || fixture.controls().Drive1[i]->drive().startsWith("c:"));
        // Sizes in kilo-octets, rounded, grouped as the French locale groups them.
        const QString device = "DeviceID :\t" + report.mid(1) + ":\\\r\n";
        QCOMPARE(fixture.controls().Text1->text(), report[0] == '-' ? "Déconnection du périphérique !\r\n" + device
                 : "Connection du périphérique !\r\n" + device + "N_Volume :\tCLE\r\nTaille totale : \t1\u202F048\u202F576 Kilo-octets\r\nDisponible : \t2 Kilo-octets");
        QVERIFY(fixture.controls().LanceCopie->isEnabled()); // an arrival enables it, nothing here disables it
        QCOMPARE(fixture.messages.shown.size(), int(!message.isEmpty()));
        for (const ScriptedMessages::Shown &shown : fixture.messages.shown) // the number, the cause and the same ending
            QCOMPARE(shown.prompt + '|' + shown.title + '|' + QString::number(shown.style), message + " _ Cette clé semble défectueuse !|Erreur|0");
    }
};

QTEST_MAIN(TestWindow) // run with LC_ALL=fr_FR.UTF-8: the report groups digits as the system locale does
#include "test_window.moc"
