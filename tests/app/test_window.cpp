#include "support/WindowChecks.h"
#include "ui/Colours.h"

#include <QApplication>
#include <QTest>
#include <QTimer>

using namespace Qt::StringLiterals;

class TestWindow : public QObject
{
    Q_OBJECT

private slots:
    // A few controls, each placed differently: in a panel, in the slot panel's grid, on the window, hidden.
    void controlsStandWhereDescribed_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("container");
        QTest::addColumn<QRect>("pixels");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QFont>("font");
        QTest::addColumn<bool>("visible");
        const auto font = [](const QString &face, double points, bool bold) {
            QFont font(face);
            font.setPointSizeF(points);
            font.setBold(bold);
            return font;
        };
        QTest::newRow("source folders") << "Dir1(0)" << "vkFrame1" << QRect(4, 76, 225, 405) << "" << font(u"Arial"_s, 11.25, false)
                                        << true;
        QTest::newRow("slot 8 files") << "File1(8)" << "vkFrame2" << QRect(486, 370, 153, 70) << "" << font(u"Arial"_s, 9.75, false)
                                      << true;
        QTest::newRow("FichKill") << "FichKill" << "" << QRect(150, 542, 631, 29)
                                  << "Inscrire ici ou sélectionner dans une des clés un éventuel fichier à supprimer sur toutes les clés"
                                  << font(u"Arial Narrow"_s, 12, true) << true;
        QTest::newRow("Controle(0)") << "Controle(0)" << "" << QRect(54, 638, 110, 26) << "En attente" << font(u"Arial"_s, 14.25, true)
                                     << false;
    }
    void controlsStandWhereDescribed()
    {
        QFETCH(QString, name);
        QFETCH(QString, container);
        QFETCH(QRect, pixels);
        QFETCH(QString, text);
        QFETCH(QFont, font);
        QFETCH(bool, visible);
        WindowFixture fixture;
        QWidget *widget = fixture.window->findChild<QWidget *>(name);
        QVERIFY2(widget, qPrintable(name));
        QCOMPARE(widget->accessibleName(), name);
        QCOMPARE(widget->geometry(), pixels);
        QCOMPARE(widget->parentWidget() == fixture.window.get() ? QString() : widget->parentWidget()->objectName(), container);
        QCOMPARE(widget->property(qobject_cast<QLabel *>(widget) ? "text" : "displayText").toString(), text);
        QCOMPARE(widget->font().family(), font.family());
        QCOMPARE(widget->font().pointSizeF(), font.pointSizeF());
        QCOMPARE(widget->font().bold(), font.bold());
        QCOMPARE(widget->isVisibleTo(fixture.window.get()), visible);
    }

    // The navy is the window's own: the controls keep the platform's colours unless described otherwise.
    void windowFrameAndColours()
    {
        WindowFixture fixture;
        QCOMPARE(fixture.window->windowTitle(), u"Essaimeur par Mervane   Version 1.02"_s);
        QCOMPARE(fixture.window->size(), QSize(1148, 584));
        QCOMPARE(toBgr(fixture.window->palette().color(fixture.window->backgroundRole())), 0x800000u);
        QCOMPARE(toBgr(fixture.controls().Drive1[1]->palette().color(QPalette::Base)), 0xFFFFFFu);
        for (QWidget *control : {static_cast<QWidget *>(fixture.controls().Drive1[2]), static_cast<QWidget *>(fixture.controls().FichKill)})
            QCOMPARE(control->palette().color(QPalette::Base), QApplication::palette().color(QPalette::Base));
        const QRect before = fixture.controls().File1[8]->geometry();
        fixture.window->resize(1600, 1000); // nothing moves with the window's size
        QCOMPARE(fixture.controls().File1[8]->geometry(), before);
    }

    void tabOrderFollowsTheTabIndexes()
    {
        WindowFixture fixture;
        QStringList expected = {"LanceCopie", "Quitter", "Dir1(0)", "File1(0)", "Drive1(0)"};
        for (int i = 1; i <= 8; ++i)
            expected << u"Dir1(%1)"_s.arg(i) << u"Drive1(%1)"_s.arg(i);
        expected << "Text1" << "FichKill";
        for (int i = 1; i <= 8; ++i)
            expected << u"File1(%1)"_s.arg(i);
        QStringList chain;
        QWidget *widget = fixture.controls().LanceCopie;
        do {
            if (expected.contains(widget->objectName()) && !chain.contains(widget->objectName()))
                chain << widget->objectName();
            widget = widget->nextInFocusChain();
        } while (widget != fixture.controls().LanceCopie);
        QCOMPARE(chain, expected);
    }

    // Clicks on ticks (positive slot) and status boxes (negative) toggle the slot and set the launch button.
    void clicksToggleTheSelection_data()
    {
        QTest::addColumn<QList<int>>("clicks");
        QTest::addColumn<QString>("state");
        QTest::addColumn<bool>("launchEnabled");
        QTest::newRow("none") << QList<int>{} << "- - - - - - - -" << false;
        QTest::newRow("5 then 5 again on its box") << QList<int>{5, -5} << "- - - - - - - -" << false;
        QTest::newRow("3 and 7, deselect 3") << QList<int>{3, 7, -3} << "- - - - - - -* -" << true;
        QTest::newRow("all eight") << QList<int>{1, 2, 3, 4, 5, 6, 7, -8} << "-* -* -* -* -* -* -* -*" << true;
    }
    void clicksToggleTheSelection()
    {
        QFETCH(QList<int>, clicks);
        QFETCH(QString, state);
        QFETCH(bool, launchEnabled);
        WindowFixture fixture;
        for (int slot : clicks) {
            QWidget *target = slot > 0 ? static_cast<QWidget *>(fixture.controls().Coche[slot]) : fixture.controls().Controle[-slot];
            QTest::mouseClick(target, Qt::LeftButton, {}, target->rect().center());
        }
        QCOMPARE(slotsOf(fixture), state);
        QCOMPARE(fixture.controls().LanceCopie->isEnabled(), launchEnabled);
    }

    void toggleGoesByTheFlagNotByWhatIsShown()
    {
        WindowFixture fixture;
        fixture.window->Cochage(4);
        // A run left the slot green "Terminé": still selected, so one click deselects it.
        fixture.controls().Controle[4]->setCaption(u"Terminé"_s);
        fixture.controls().Controle[4]->setBackColor(0x00FF00);
        fixture.window->Controle_Click(4);
        fixture.bas().Cochee[6] = 1; // any non-zero flag counts as selected
        fixture.window->Coche_Click(6);
        QCOMPARE(slotsOf(fixture), u"- - - - - - - -"_s);
        QVERIFY(!fixture.controls().LanceCopie->isEnabled());
    }

    void disabledLaunchButtonStartsNoRun()
    {
        ScriptedFileOperations files;
        WindowFixture fixture(&files);
        fixture.bas().Cochee[1] = FlagTrue;
        QTest::mouseClick(fixture.controls().LanceCopie, Qt::LeftButton);
        QVERIFY(files.copies.isEmpty());
        QCOMPARE(fixture.status(1), u"inactif"_s);
    }

    void quitterEndsTheProgram()
    {
        WindowFixture fixture;
        fixture.bas().Cochee[2] = FlagTrue;
        QTimer::singleShot(0, fixture.controls().Quitter, [&] { fixture.controls().Quitter->click(); });
        QTimer::singleShot(5000, qApp, [] { QCoreApplication::exit(1); });
        QCOMPARE(QCoreApplication::exec(), 0);
        QVERIFY(fixture.messages.shown.isEmpty());
    }
};

QTEST_MAIN(TestWindow)
#include "test_window.moc"
