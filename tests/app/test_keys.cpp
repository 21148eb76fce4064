#include "devices/DeviceReport.h"
#include "support/WindowChecks.h"

#include <QApplication>
#include <QTest>

using namespace Qt::StringLiterals;

class TestKeys : public QObject
{
    Q_OBJECT

private slots:
    // Events, by token: "+E" or "-E" a key's arrival or removal, "+6" or "-6" one with that unit
    // mask, "x1" the operator's click on slot 1, "?E" E's sizes becoming unreadable.
    void keysComeAndGo_data()
    {
        QTest::addColumn<QString>("events");
        QTest::addColumn<QString>("state"); // as slotsOf() writes them
        QTest::addColumn<QString>("report"); // Text1 reports the arrival "+E" or the removal "-E"
        QTest::addColumn<int>("failure"); // of the one message shown, 0 for none
        QTest::newRow("one key") << "+E" << "E* - - - - - - -" << "+E" << 0;
        QTest::newRow("an arrival selects every slot it passes") << "+D +F x1 +E" << "D* F* E* - - - - -" << "+E" << 0;
        QTest::newRow("every slot taken") << "+D +E +F +G +H +I +J +K x1 x2 x3 x4 x5 x6 x7 x8 +L"
                                          << "D* E* F* G* H* I* J* K*" << "+L" << 0;
        QTest::newRow("sizes unreadable") << "+D ?E +E" << "D* - - - - - - -" << "+D" << 71;
        QTest::newRow("arrival of no single letter") << "+D +6" << "D* - - - - - - -" << "+D" << 68;
        QTest::newRow("removal frees the lowest slot holding the letter") << "+D +F +E -E" << "D* F* C - - - - -" << "-E" << 0;
        QTest::newRow("letter held twice") << "+E +E -E" << "C E* - - - - - -" << "-E" << 0;
        QTest::newRow("removal leaves the launch button alone") << "+E -E" << "C - - - - - - -" << "-E" << 0;
        QTest::newRow("letter nobody holds") << "+D -Q" << "D* - - - - - - -" << "-Q" << 0;
        QTest::newRow("removal of no single letter: a slot that never held a key") << "+D -6" << "D* C - - - - - -" << "-" << 0;
    }
    void keysComeAndGo()
    {
        QFETCH(QString, events);
        QFETCH(QString, state);
        QFETCH(QString, report);
        QFETCH(int, failure);
        WindowFixture fixture;
        TempTree trees[9];
        for (TempTree &tree : trees)
            fixture.addDrive(tree); // D to L
        for (const QString &event : events.split(u' ')) {
            bool isMask = false;
            const qint32 mask = event.mid(1).toInt(&isMask);
            const QChar letter = event.back();
            if (event[0] == u'x')
                fixture.window->Cochage(event.mid(1).toInt());
            else if (event[0] == u'?')
                fixture.facts[letter].failOnSize = failureFor(FailureNumber::DiskNotReady);
            else if (event[0] == u'+')
                isMask ? fixture.window->SysInfo1_DeviceArrival(2, mask, {}, 0) : fixture.arrive(letter);
            else
                isMask ? fixture.window->SysInfo1_DeviceRemoveComplete(2, mask, {}, 0) : fixture.remove(letter);
        }
        QCOMPARE(slotsOf(fixture), state);
        for (int i = 1; i <= 8; ++i) // a freed slot's lists go back to drive C
            QVERIFY(fixture.bas().Lecteur[i] != u"C"_s || fixture.controls().Drive1[i]->drive().startsWith(u"c:"_s));
        const QString device = u"DeviceID :\t"_s + report.mid(1) + u":\\"_s;
        if (report[0] == u'+')
            QVERIFY(fixture.controls().Text1->text().startsWith(u"Connection du périphérique !\r\n"_s + device));
        else
            QCOMPARE(fixture.controls().Text1->text(), u"Déconnection du périphérique !\r\n"_s + device + u"\r\n"_s);
        QVERIFY(fixture.controls().LanceCopie->isEnabled()); // an arrival enables it, nothing here disables it
        QCOMPARE(fixture.messages.shown.size(), failure ? 1 : 0);
        if (failure) {
            const QString message = (failure == 71 ? u"erreur N° 71 générée par EssaimeurMV\rDisque non prêt"_s
                                                   : u"erreur N° 68 générée par EssaimeurMV\rPériphérique non disponible"_s)
                + u" _ Cette clé semble défectueuse !"_s;
            QCOMPARE(fixture.messages.shown[0].prompt, message);
            QCOMPARE(fixture.messages.shown[0].title, u"Erreur"_s);
            QCOMPARE(fixture.messages.shown[0].style, 0);
            QCOMPARE(fixture.bas().MsgErreur, message);
        }
    }

    // Sizes in kilo-octets, rounded, grouped as the French locale groups them; a negative number keeps its sign.
    void reportsAreWordedAsBefore()
    {
        WindowFixture fixture;
        TempTree key;
        const QChar letter = fixture.addDrive(key, u"CLE_D"_s);
        fixture.facts[letter].availableSpace = 1536.0; // 1.5 KB rounds to 2
        fixture.arrive(letter);
        QCOMPARE(fixture.controls().Text1->text(), u"Connection du périphérique !\r\nDeviceID :\tD:\\\r\nN_Volume :\tCLE_D\r\n"
                                                   "Taille totale : \t1\u202F048\u202F576 Kilo-octets\r\nDisponible : \t2 Kilo-octets"_s);
        QCOMPARE(DeviceReport::faultyKeyMessage(failureFor(FailureNumber::DiskNotReady)),
                 u"erreur N° 71 générée par EssaimeurMV\rDisque non prêt _ Cette clé semble défectueuse !"_s);
    }
};

int main(int argc, char *argv[])
{
    qputenv("LC_ALL", "fr_FR.UTF-8"); // the report groups digits as the system locale does
    QApplication app(argc, argv);
    TestKeys test;
    return QTest::qExec(&test, argc, argv);
}
#include "test_keys.moc"
