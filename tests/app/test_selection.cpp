#include "support/WindowFixture.h"

#include <QTest>

// Clicks on ticks and status boxes, each row a sequence of clicked slots and what follows.
class TestSelection : public QObject
{
    Q_OBJECT

    static void click(WindowFixture &fixture, int slot, bool onTick)
    {
        QWidget *target = onTick ? static_cast<QWidget *>(fixture.controls().Coche[slot])
                                 : static_cast<QWidget *>(fixture.controls().Controle[slot]);
        QTest::mouseClick(target, Qt::LeftButton, {}, target->rect().center());
    }

private slots:
    void clicksToggleAndSetTheLaunchButton_data()
    {
        QTest::addColumn<QList<int>>("clicks"); // positive: on the tick, negative: on the status box
        QTest::addColumn<QList<int>>("selected");
        QTest::addColumn<bool>("launchEnabled");
        QTest::newRow("select 5") << QList<int>{5} << QList<int>{5} << true;
        QTest::newRow("5 then 5 again on its box") << QList<int>{5, -5} << QList<int>{} << false;
        QTest::newRow("3 and 7, deselect 3") << QList<int>{3, 7, -3} << QList<int>{7} << true;
        QTest::newRow("3 and 7, deselect both") << QList<int>{3, 7, -3, 7} << QList<int>{} << false;
        QTest::newRow("all eight") << QList<int>{1, 2, 3, 4, 5, 6, 7, 8} << QList<int>{1, 2, 3, 4, 5, 6, 7, 8} << true;
        QTest::newRow("8 alone, from its box") << QList<int>{-8} << QList<int>{8} << true;
    }
    void clicksToggleAndSetTheLaunchButton()
    {
        QFETCH(QList<int>, clicks);
        QFETCH(QList<int>, selected);
        QFETCH(bool, launchEnabled);
        WindowFixture fixture;
        for (int slot : clicks)
            click(fixture, std::abs(slot), slot > 0);
        for (int i = 1; i <= 8; ++i) {
            const bool on = selected.contains(i);
            QCOMPARE(fixture.bas().Cochee[i], on ? FlagTrue : FlagFalse);
            QCOMPARE(fixture.status(i), on ? QStringLiteral("en attente") : QStringLiteral("inactif"));
            QCOMPARE(fixture.colour(i), on ? 0xFFFF00u : 0xE0E0E0u);
            QCOMPARE(fixture.ticked(i), on);
        }
        QCOMPARE(fixture.controls().LanceCopie->isEnabled(), launchEnabled);
    }

    void toggleGoesByTheFlagNotByWhatIsShown()
    {
        WindowFixture fixture;
        fixture.window->Cochage(4);
        // A run left the slot green "Terminé": still selected, so one click deselects it.
        fixture.controls().Controle[4]->setCaption(QStringLiteral("Terminé"));
        fixture.controls().Controle[4]->setBackColor(0x00FF00);
        fixture.window->Controle_Click(4);
        QCOMPARE(fixture.bas().Cochee[4], FlagFalse);
        QCOMPARE(fixture.status(4), QStringLiteral("inactif"));
        QVERIFY(!fixture.controls().LanceCopie->isEnabled());

        // Any non-zero flag counts as selected.
        fixture.bas().Cochee[6] = 1;
        fixture.window->Coche_Click(6);
        QCOMPARE(fixture.bas().Cochee[6], FlagFalse);
    }

    void selectionIgnoresKeys()
    {
        WindowFixture fixture;
        fixture.window->Cochage(2);
        QCOMPARE(fixture.bas().Occupee[2], FlagFalse);
        QVERIFY(fixture.bas().Lecteur[2].isEmpty());
        QVERIFY(fixture.bas().CheminDest[2].isEmpty());
    }
};

QTEST_MAIN(TestSelection)
#include "test_selection.moc"
