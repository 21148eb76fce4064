#include "support/WindowChecks.h"

#include <QTest>

class TestKeys : public QObject
{
    Q_OBJECT

private slots:
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
            fixture.facts[fixture.addDrive(tree, "CLE")].availableSpace = 1536.0;
        fixture.facts['M'].failOnSize = failureFor(FailureNumber::DiskNotReady);
        fixture.facts[fixture.addDrive(TempTree(), "CLE")].availableSpace = 1536.0; // N: its folder is gone
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

QTEST_MAIN(TestKeys) // run with LC_ALL=fr_FR.UTF-8: the report groups digits as the system locale does
#include "test_keys.moc"
