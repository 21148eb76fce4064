#include "support/WindowFixture.h"
#include "ui/Colours.h"
#include "ui/VkFrame.h"
#include "ui/WindowDescription.h"

#include <QApplication>
#include <QTest>
#include <QTimer>

class TestWindow : public QObject
{
    Q_OBJECT

    QWidget *control(WindowFixture &fixture, const QString &name)
    {
        return fixture.window->findChild<QWidget *>(name);
    }

private slots:
    void controlsStandWhereDescribed_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("container");
        QTest::addColumn<QRect>("pixels");
        QTest::addColumn<QString>("caption");
        QTest::addColumn<QString>("face");
        QTest::addColumn<double>("points");
        QTest::addColumn<bool>("bold");
        const QString none;
        QTest::newRow("source panel") << "vkFrame1" << "" << QRect(4, 6, 488, 523) << none << none << 0.0 << false;
        QTest::newRow("slot panel") << "vkFrame2" << "" << QRect(500, 4, 644, 523) << none << none << 0.0 << false;
        QTest::newRow("source drives") << "Drive1(0)" << "vkFrame1" << QRect(4, 34, 225, 27) << none << "Arial" << 12.0 << true;
        QTest::newRow("source folders") << "Dir1(0)" << "vkFrame1" << QRect(4, 76, 225, 405) << none << "Arial" << 11.25 << false;
        QTest::newRow("source files") << "File1(0)" << "vkFrame1" << QRect(232, 34, 249, 448) << none << "Arial" << 11.25 << false;
        QTest::newRow("Chemin") << "Chemin" << "vkFrame1" << QRect(8, 490, 469, 20) << "Origine" << "Arial" << 12.0 << true;
        QTest::newRow("slot 1 drives, wide") << "Drive1(1)" << "vkFrame2" << QRect(8, 34, 153, 26) << none << "Arial" << 11.25 << true;
        QTest::newRow("slot 2 drives") << "Drive1(2)" << "vkFrame2" << QRect(167, 34, 151, 26) << none << "Arial" << 11.25 << true;
        QTest::newRow("slot 3 folders") << "Dir1(3)" << "vkFrame2" << QRect(324, 62, 153, 78) << none << "Arial" << 9.75 << false;
        QTest::newRow("slot 8 files") << "File1(8)" << "vkFrame2" << QRect(486, 370, 153, 70) << none << "Arial" << 9.75 << false;
        QTest::newRow("slot 6 tick") << "Coche(6)" << "vkFrame2" << QRect(170, 452, 32, 32) << none << none << 0.0 << false;
        QTest::newRow("slot 4 status") << "Controle(4)" << "vkFrame2" << QRect(525, 216, 110, 26) << "inactif" << "Arial" << 14.25 << true;
        QTest::newRow("slot 5 status") << "Controle(5)" << "vkFrame2" << QRect(46, 452, 110, 26) << "inactif" << "Arial" << 14.25 << true;
        QTest::newRow("Destin") << "Destin" << "vkFrame2" << QRect(8, 490, 625, 20) << "Destination" << "Arial" << 12.0 << true;
        QTest::newRow("Label1") << "Label1" << "" << QRect(6, 544, 137, 26) << "Si nécessaire :" << "Arial" << 14.25 << true;
        QTest::newRow("FichKill") << "FichKill" << "" << QRect(150, 542, 631, 29)
                                  << "Inscrire ici ou sélectionner dans une des clés un éventuel fichier à supprimer sur toutes les clés"
                                  << "Arial Narrow" << 12.0 << true;
        QTest::newRow("Text1") << "Text1" << "" << QRect(352, 592, 699, 231) << "Text1" << none << 0.0 << false;
        QTest::newRow("Cnon") << "Cnon" << "" << QRect(224, 634, 32, 32) << none << none << 0.0 << false;
        QTest::newRow("Coui") << "Coui" << "" << QRect(178, 634, 32, 32) << none << none << 0.0 << false;
        QTest::newRow("Controle(0)") << "Controle(0)" << "" << QRect(54, 638, 110, 26) << "En attente" << "Arial" << 14.25 << true;
        QTest::newRow("LanceCopie") << "LanceCopie" << "" << QRect(796, 536, 201, 43) << none << none << 0.0 << false;
        QTest::newRow("Quitter") << "Quitter" << "" << QRect(1014, 534, 127, 43) << none << none << 0.0 << false;
    }
    void controlsStandWhereDescribed()
    {
        QFETCH(QString, name);
        QFETCH(QString, container);
        QFETCH(QRect, pixels);
        QFETCH(QString, caption);
        QFETCH(QString, face);
        QFETCH(double, points);
        QFETCH(bool, bold);
        WindowFixture fixture;
        QWidget *widget = control(fixture, name);
        QVERIFY2(widget, qPrintable(name));
        QCOMPARE(widget->accessibleName(), name);
        QCOMPARE(widget->geometry(), pixels);
        QCOMPARE(widget->parentWidget() == fixture.window.get() ? QString() : widget->parentWidget()->objectName(),
                 container);
        if (auto *label = qobject_cast<QLabel *>(widget); label && !caption.isEmpty())
            QCOMPARE(label->text(), caption);
        if (auto *box = qobject_cast<QLineEdit *>(widget))
            QCOMPARE(box->text(), caption);
        if (!face.isEmpty()) {
            QCOMPARE(widget->font().family(), face);
            QCOMPARE(widget->font().pointSizeF(), points);
            QCOMPARE(widget->font().bold(), bold);
        }
    }

    void everyDescribedControlExists()
    {
        WindowFixture fixture;
        int widgets = 0;
        for (const ControlDesc &desc : windowDescription()) {
            QVERIFY2(control(fixture, desc.fullName()), qPrintable(desc.fullName()));
            ++widgets;
        }
        QCOMPARE(widgets, 2 + 9 * 3 + 8 + 9 + 3 + 2 + 2 + 2); // panels, lists, ticks, status boxes, labels, boxes, buttons, pictures
    }

    void windowFrameAndColours()
    {
        WindowFixture fixture;
        QCOMPARE(fixture.window->windowTitle(), QStringLiteral("Essaimeur par Mervane   Version 1.02"));
        QCOMPARE(fixture.window->size(), QSize(1148, 584));
        QCOMPARE(toBgr(fixture.window->palette().color(fixture.window->backgroundRole())), 0x800000u);
        QCOMPARE(fixture.colour(3), 0xE0E0E0u);
        QCOMPARE(fixture.controls().Controle[0]->backColor(), 0xFFFF00u);
        QCOMPARE(toBgr(fixture.controls().Drive1[1]->palette().color(QPalette::Base)), 0xFFFFFFu);
        // The others keep the platform's colours, not the window's navy.
        QCOMPARE(fixture.controls().Drive1[2]->palette().color(QPalette::Base), QApplication::palette().color(QPalette::Base));
        QCOMPARE(fixture.controls().File1[0]->palette().color(QPalette::Base), QApplication::palette().color(QPalette::Base));
        QCOMPARE(fixture.controls().FichKill->palette().color(QPalette::Base), QApplication::palette().color(QPalette::Base));
        QCOMPARE(fixture.controls().vkFrame1->setting(QStringLiteral("backcolor2")).toUInt(), 0x00C0C0u);
        QCOMPARE(fixture.controls().vkFrame2->setting(QStringLiteral("titlecolor2")).toUInt(), 0xC0E0FFu);
    }

    void hiddenControlsStayHiddenAtAnySize()
    {
        WindowFixture fixture;
        fixture.window->show();
        const int clientHeight = 584;
        for (QWidget *hidden : {static_cast<QWidget *>(fixture.controls().Cnon),
                                static_cast<QWidget *>(fixture.controls().Coui),
                                static_cast<QWidget *>(fixture.controls().Controle[0])}) {
            QVERIFY(!hidden->isVisible());
            QVERIFY(hidden->y() >= clientHeight);
        }
        QVERIFY(fixture.controls().Text1->isVisible());
        QVERIFY(fixture.controls().Text1->y() >= clientHeight);

        const QRect before = fixture.controls().File1[8]->geometry();
        fixture.window->resize(1600, 1000);
        QCOMPARE(fixture.controls().File1[8]->geometry(), before);
        QVERIFY(!fixture.controls().Cnon->isVisible());
    }

    void tabOrderFollowsTheTabIndexes()
    {
        WindowFixture fixture;
        QStringList expected = {"LanceCopie", "Quitter", "Dir1(0)", "File1(0)", "Drive1(0)"};
        for (int i = 1; i <= 8; ++i)
            expected << QStringLiteral("Dir1(%1)").arg(i) << QStringLiteral("Drive1(%1)").arg(i);
        expected << "Text1" << "FichKill";
        for (int i = 1; i <= 8; ++i)
            expected << QStringLiteral("File1(%1)").arg(i);

        QStringList chain;
        QWidget *widget = fixture.controls().LanceCopie;
        do {
            if (expected.contains(widget->objectName()) && !chain.contains(widget->objectName()))
                chain << widget->objectName();
            widget = widget->nextInFocusChain();
        } while (widget != fixture.controls().LanceCopie);
        QCOMPARE(chain, expected);
    }

    void startUpLeavesEverySlotIdle()
    {
        WindowFixture fixture;
        QVERIFY(!fixture.controls().LanceCopie->isEnabled());
        QCOMPARE(fixture.bas().ModeKill, FlagFalse);
        QVERIFY(fixture.bas().FichSource.isEmpty());
        QVERIFY(fixture.bas().LettreRecue.isEmpty());
        QVERIFY(fixture.bas().NomKill.isEmpty());
        QVERIFY(fixture.bas().MsgErreur.isEmpty());
        QVERIFY(fixture.controls().Coui->picture() != fixture.controls().Cnon->picture());
        for (int i = 0; i <= 8; ++i) {
            QCOMPARE(fixture.bas().Cochee[i], FlagFalse);
            QCOMPARE(fixture.bas().Occupee[i], FlagFalse);
            QVERIFY(fixture.bas().CheminDest[i].isEmpty());
            QVERIFY(fixture.bas().Lecteur[i].isEmpty());
            if (i == 0)
                continue;
            QCOMPARE(fixture.status(i), QStringLiteral("inactif"));
            QCOMPARE(fixture.colour(i), 0xE0E0E0u);
            QCOMPARE(fixture.controls().Coche[i]->picture(), fixture.controls().Cnon->picture());
        }
    }

    void slotTableChecksItsIndexes()
    {
        CopieurBas bas;
        QVERIFY_THROWS_EXCEPTION(Failure, bas.Cochee[9]);
        QVERIFY_THROWS_EXCEPTION(Failure, bas.CheminDest[-1]);
        Controls controls;
        QVERIFY_THROWS_EXCEPTION(Failure, controls.Coche[0]);
    }

    void disabledLaunchButtonStartsNoRun()
    {
        TempTree key;
        ScriptedFileOperations files;
        WindowFixture fixture(&files);
        fixture.bas().Cochee[1] = FlagTrue;
        QTest::mouseClick(fixture.controls().LanceCopie, Qt::LeftButton);
        QVERIFY(files.copies.isEmpty());
        QCOMPARE(fixture.status(1), QStringLiteral("inactif"));
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
