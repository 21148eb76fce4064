#include "devices/DeviceReport.h"
#include "support/WindowFixture.h"

#include <QApplication>
#include <QTest>

namespace {
const QChar Group(0x202F); // the French locale's digit grouping
const QString Untouched = QStringLiteral("Text1");
}

class TestKeys : public QObject
{
    Q_OBJECT

    // Three temporary volumes lettered D, E and F.
    struct Keys
    {
        TempTree d, e, f;
        explicit Keys(WindowFixture &fixture)
        {
            fixture.addDrive(d, QStringLiteral("CLE_D"));
            fixture.addDrive(e, QStringLiteral("CLE_E"));
            fixture.addDrive(f, QStringLiteral("CLE_F"));
        }
    };

    static void verifyIdle(WindowFixture &fixture, int slot)
    {
        QCOMPARE(fixture.status(slot), QStringLiteral("inactif"));
        QCOMPARE(fixture.bas().Cochee[slot], FlagFalse);
        QVERIFY(!fixture.ticked(slot));
    }

private slots:
    void unitMaskGivesOneLetterOrNone_data()
    {
        QTest::addColumn<qint32>("mask");
        QTest::addColumn<QString>("letter");
        QTest::newRow("1") << qint32(1) << "A";
        QTest::newRow("4") << qint32(4) << "C";
        QTest::newRow("16") << qint32(16) << "E";
        QTest::newRow("2^25") << qint32(1 << 25) << "Z";
        QTest::newRow("0") << qint32(0) << "";
        QTest::newRow("6: two drives") << qint32(6) << "";
        QTest::newRow("2^26") << qint32(1 << 26) << "";
        QTest::newRow("-2^31") << qint32(std::numeric_limits<qint32>::min()) << "";
        QTest::newRow("-1") << qint32(-1) << "";
    }
    void unitMaskGivesOneLetterOrNone()
    {
        QFETCH(qint32, mask);
        QFETCH(QString, letter);
        QCOMPARE(Copieur::LettreDuMasque(mask), letter);
    }

    void exactlyTwentySixMasksGiveALetter()
    {
        // Every one-bit mask, and a sweep of the rest of the 32-bit range in coarse steps.
        int letters = 0;
        for (int bit = 0; bit < 32; ++bit)
            letters += Copieur::LettreDuMasque(qint32(quint32(1) << bit)).isEmpty() ? 0 : 1;
        QCOMPARE(letters, 26);
        for (qint64 mask = std::numeric_limits<qint32>::min(); mask <= std::numeric_limits<qint32>::max();
             mask += 65521) {
            const bool oneBit = mask > 0 && (mask & (mask - 1)) == 0;
            if (!oneBit)
                QVERIFY2(Copieur::LettreDuMasque(qint32(mask)).isEmpty(), qPrintable(QString::number(mask)));
        }
    }

    void arrivalWritesTheReportAndAttaches()
    {
        WindowFixture fixture;
        Keys keys(fixture);
        fixture.facts[QLatin1Char('E')].totalSize = 1073741824.0;
        fixture.facts[QLatin1Char('E')].availableSpace = 1536.0; // 1.5 KB rounds to 2
        fixture.arrive(QLatin1Char('E'));

        const QString expected = QStringLiteral("Connection du périphérique !\r\nDeviceID :\tE:\\\r\nN_Volume :\tCLE_E\r\n"
                                                "Taille totale : \t1") + Group + QStringLiteral("048") + Group
            + QStringLiteral("576 Kilo-octets\r\nDisponible : \t2 Kilo-octets");
        QCOMPARE(fixture.controls().Text1->text(), expected);
        QCOMPARE(fixture.bas().LettreRecue, QStringLiteral("E"));
        QCOMPARE(fixture.bas().Occupee[1], FlagTrue);
        QCOMPARE(fixture.bas().Lecteur[1], QStringLiteral("E"));
        QCOMPARE(fixture.bas().CheminDest[1], QStringLiteral("E:\\"));
        QCOMPARE(fixture.controls().Dir1[1]->path(), QStringLiteral("E:\\"));
        QCOMPARE(fixture.status(1), QStringLiteral("en attente"));
        QCOMPARE(fixture.colour(1), 0xFFFF00u);
        QVERIFY(fixture.ticked(1));
        QVERIFY(fixture.controls().LanceCopie->isEnabled());
        for (int i = 2; i <= 8; ++i)
            verifyIdle(fixture, i);
        QVERIFY(fixture.messages.shown.isEmpty());
    }

    void arrivalSelectsEverySlotItPasses()
    {
        WindowFixture fixture;
        Keys keys(fixture);
        fixture.arrive(QLatin1Char('D'));
        fixture.arrive(QLatin1Char('F'));
        fixture.window->Cochage(1); // the operator deselects slot 1
        fixture.arrive(QLatin1Char('E'));

        for (int i = 1; i <= 3; ++i) {
            QCOMPARE(fixture.bas().Cochee[i], FlagTrue);
            QCOMPARE(fixture.status(i), QStringLiteral("en attente"));
        }
        QCOMPARE(fixture.bas().Lecteur[3], QStringLiteral("E"));
        QCOMPARE(fixture.bas().Lecteur[2], QStringLiteral("F"));
        QVERIFY(fixture.controls().Text1->text().split(QStringLiteral("\r\n")).at(1) == QStringLiteral("DeviceID :\tE:\\"));
        for (int i = 4; i <= 8; ++i)
            verifyIdle(fixture, i);
    }

    void arrivalWithEverySlotTaken()
    {
        WindowFixture fixture;
        std::vector<std::unique_ptr<TempTree>> trees;
        QList<QChar> letters;
        for (int i = 0; i < 9; ++i) {
            trees.push_back(std::make_unique<TempTree>());
            letters << fixture.addDrive(*trees.back());
        }
        for (int i = 0; i < 8; ++i)
            fixture.arrive(letters[i]);
        for (int i = 1; i <= 8; ++i)
            fixture.window->Cochage(i);
        QVERIFY(!fixture.controls().LanceCopie->isEnabled());

        fixture.arrive(letters[8]);
        for (int i = 1; i <= 8; ++i) {
            QCOMPARE(fixture.bas().Cochee[i], FlagTrue);
            QCOMPARE(fixture.bas().Lecteur[i], QString(letters[i - 1]));
        }
        QVERIFY(fixture.controls().LanceCopie->isEnabled());
        QVERIFY(fixture.controls().Text1->text().startsWith(QStringLiteral("Connection du périphérique !\r\nDeviceID :\t")
                                                            + letters[8]));
        QVERIFY(fixture.messages.shown.isEmpty());
    }

    void unreadableKeyIsReportedFaulty_data()
    {
        QTest::addColumn<qint32>("mask");
        QTest::addColumn<bool>("failOnSize");
        QTest::addColumn<QString>("message");
        QTest::newRow("sizes unreadable")
            << qint32(16) << true
            << QStringLiteral("erreur N° 71 générée par EssaimeurMV\rDisque non prêt _ Cette clé semble défectueuse !");
        QTest::newRow("no single letter")
            << qint32(6) << false
            << QStringLiteral("erreur N° 68 générée par EssaimeurMV\rPériphérique non disponible _ Cette clé semble défectueuse !");
    }
    void unreadableKeyIsReportedFaulty()
    {
        QFETCH(qint32, mask);
        QFETCH(bool, failOnSize);
        QFETCH(QString, message);
        WindowFixture fixture;
        Keys keys(fixture);
        fixture.arrive(QLatin1Char('D'));
        const QString before = fixture.controls().Text1->text();
        if (failOnSize)
            fixture.facts[QLatin1Char('E')].failOnSize = failureFor(FailureNumber::DiskNotReady);

        fixture.window->SysInfo1_DeviceArrival(2, mask, QStringLiteral("/dev/sdz1"), 0);
        QCOMPARE(fixture.messages.shown.size(), 1);
        QCOMPARE(fixture.messages.shown[0].prompt, message);
        QCOMPARE(fixture.messages.shown[0].style, 0);
        QCOMPARE(fixture.messages.shown[0].title, QStringLiteral("Erreur"));
        QCOMPARE(fixture.bas().MsgErreur, message);
        QCOMPARE(fixture.controls().Text1->text(), before);
        QCOMPARE(fixture.bas().LettreRecue, QStringLiteral("D"));
        QCOMPARE(fixture.bas().Occupee[2], FlagFalse);
        verifyIdle(fixture, 2);
    }

    void errorMessageWritesNegativeNumbersWithTheirSign()
    {
        QCOMPARE(DeviceReport::faultyKeyMessage(Failure(-2147221504, QStringLiteral("Erreur Automation"), QStringLiteral("Scripting"))),
                 QStringLiteral("erreur N°-2147221504 générée par Scripting\rErreur Automation _ Cette clé semble défectueuse !"));
    }

    void notificationsOtherThanPlainVolumesAreIgnored_data()
    {
        QTest::addColumn<qint32>("type");
        QTest::addColumn<qint32>("data");
        QTest::newRow("type 3") << qint32(3) << qint32(0);
        QTest::newRow("media change") << qint32(2) << qint32(1);
        QTest::newRow("network volume") << qint32(2) << qint32(2);
    }
    void notificationsOtherThanPlainVolumesAreIgnored()
    {
        QFETCH(qint32, type);
        QFETCH(qint32, data);
        WindowFixture fixture;
        Keys keys(fixture);
        fixture.arrive(QLatin1Char('D'));
        const QString before = fixture.controls().Text1->text();
        fixture.window->SysInfo1_DeviceArrival(type, 16, QStringLiteral("/dev/sdz1"), data);
        fixture.window->SysInfo1_DeviceRemoveComplete(type, 8, QStringLiteral("/dev/sdz1"), data);
        QCOMPARE(fixture.controls().Text1->text(), before);
        QCOMPARE(fixture.bas().LettreRecue, QStringLiteral("D"));
        QCOMPARE(fixture.bas().Lecteur[1], QStringLiteral("D"));
        QCOMPARE(fixture.bas().Occupee[2], FlagFalse);
        QVERIFY(fixture.messages.shown.isEmpty());
    }

    void removalReleasesTheLowestSlotHoldingTheLetter_data()
    {
        QTest::addColumn<QString>("arrivals"); // letters, in order
        QTest::addColumn<qint32>("mask");
        QTest::addColumn<int>("released");    // 0: none
        QTest::newRow("E in slot 3") << "DFE" << qint32(16) << 3;
        QTest::newRow("letter held twice") << "EE" << qint32(16) << 1;
        QTest::newRow("letter nobody holds") << "D" << qint32(1 << 16) << 0;
        QTest::newRow("no single letter: a slot that never held a key") << "D" << qint32(6) << 2;
    }
    void removalReleasesTheLowestSlotHoldingTheLetter()
    {
        QFETCH(QString, arrivals);
        QFETCH(qint32, mask);
        QFETCH(int, released);
        WindowFixture fixture;
        Keys keys(fixture);
        for (QChar letter : arrivals)
            fixture.arrive(letter);
        SlotArray<QString> before = fixture.bas().Lecteur;

        fixture.window->SysInfo1_DeviceRemoveComplete(2, mask, QStringLiteral("/dev/sdz1"), 0);
        const QString letter = Copieur::LettreDuMasque(mask);
        QCOMPARE(fixture.controls().Text1->text(),
                 QStringLiteral("Déconnection du périphérique !\r\nDeviceID :\t") + letter + QStringLiteral(":\\\r\n"));
        for (int i = 1; i <= 8; ++i) {
            if (i != released) {
                QCOMPARE(fixture.bas().Lecteur[i], before[i]);
                continue;
            }
            QCOMPARE(fixture.bas().Lecteur[i], QStringLiteral("C"));
            QCOMPARE(fixture.bas().Occupee[i], FlagFalse);
            verifyIdle(fixture, i);
            QVERIFY(fixture.controls().Drive1[i]->drive().startsWith(QLatin1String("c:")));
        }
        // A removal never touches the launch button, even when no slot is left selected.
        QVERIFY(fixture.controls().LanceCopie->isEnabled());
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
