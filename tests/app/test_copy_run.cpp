#include "support/ScriptedNotificationSource.h"
#include "support/WindowChecks.h"

using namespace Qt::StringLiterals;

namespace {
const QByteArray Course = "le cours du lundi\n";
}

// A source volume D holding cours.pdf and notes.txt, and keys E and F attached to slots 1 and 2.
struct RunFixture : WindowFixture
{
    explicit RunFixture(FileOperations *files, NotificationSource *notifications = nullptr) : WindowFixture(files, notifications)
    {
        source.createFile(u"cours.pdf"_s, Course);
        source.createFile(u"notes.txt"_s);
        for (TempTree *tree : {&source, &keyE, &keyF})
            addDrive(tree->root());
        controls().Drive1[0]->setDrive(u"D"_s);
        arrive(u'E');
        arrive(u'F');
    }
    void run(const QString &toDelete)
    {
        controls().FichKill->setText(toDelete);
        runCopies();
    }
    TempTree source, keyE, keyF;
};

class TestCopyRun : public QObject
{
    Q_OBJECT

private slots:
    // A failure ends its own slot only; the message is the highest failing slot's. A text
    // without a full stop deletes nothing; an unselected slot is left alone; the key gets the
    // picked file's name, whatever the source list shows since.
    void failuresStayInTheirSlot_data()
    {
        QTest::addColumn<QString>("failing");
        QTest::addColumn<QString>("toDelete");
        QTest::addColumn<QString>("statuses"); // slots 1 and 2
        QTest::addColumn<QString>("message");
        QTest::newRow("copy") << "copy E" << "" << "Échec Terminé" << "Disque plein";
        QTest::newRow("two copies") << "copy E, copy F" << "" << "Échec Échec" << "Permission refusée";
        QTest::newRow("deletion") << "delete E" << "ancien.txt" << "Terminé Terminé" << "Fichier introuvable";
        QTest::newRow("no full stop, no deletion") << "delete E" << "ancien" << "Terminé Terminé" << "";
        QTest::newRow("folder vanished") << "folder E" << "" << "Terminé Terminé" << "Chemin d'accès introuvable";
        QTest::newRow("no source picked") << "no source" << "" << "Échec Échec" << "Fichier introuvable";
        QTest::newRow("nothing selected") << "no slot" << "." << "inactif inactif" << "";
        QTest::newRow("slot 1 unselected") << "x1" << "" << "inactif Terminé" << "";
    }
    void failuresStayInTheirSlot()
    {
        QFETCH(QString, failing);
        QFETCH(QString, toDelete);
        QFETCH(QString, statuses);
        QFETCH(QString, message);
        ScriptedFileOperations files;
        RunFixture fixture(&files);
        QVERIFY(failing == u"no source" || pick(fixture, 0, u"cours.pdf"_s));
        fixture.controls().File1[0]->setListIndex(1);
        if (failing.contains(u"copy E"_s))
            files.failCopyTo.insert(fixture.keyE.path(u"cours.pdf"_s), failureFor(FailureNumber::DiskFull));
        if (failing.contains(u"copy F"_s))
            files.failCopyTo.insert(fixture.keyF.path(u"cours.pdf"_s), failureFor(FailureNumber::PermissionDenied));
        if (failing == u"delete E")
            files.failDeleteIn.insert(fixture.keyE.root(), failureFor(FailureNumber::FileNotFound));
        if (failing == u"folder E") {
            fixture.controls().Dir1[1]->setPath(u"E:\\"_s + QFileInfo(fixture.keyE.createDir(u"Docs"_s)).fileName());
            QVERIFY(QDir(fixture.keyE.path(u"Docs"_s)).removeRecursively());
        }
        if (failing == u"no slot")
            fixture.remove(u'E'), fixture.remove(u'F');
        if (failing == u"x1")
            fixture.window->Cochage(1);
        fixture.run(toDelete);
        QCOMPARE(fixture.status(1) + u' ' + fixture.status(2), statuses);
        QCOMPARE(fixture.colour(1), statuses.startsWith(u"Échec"_s) ? 0x0000FFu : statuses.startsWith(u"T"_s) ? 0x00FF00u : 0xE0E0E0u);
        QCOMPARE(fixture.ticked(1), failing != u"no slot" && failing != u"x1"); // a failed slot keeps its tick
        QVERIFY(fixture.controls().Controle[2]->progress() < 0); // the bar is gone once the slot is done
        QCOMPARE(files.copies.size(), failing.startsWith(u'n') ? 0 : 2 - (failing == u"x1"));
        QCOMPARE(files.copies.join(u'|').contains(fixture.keyE.root()), !failing.startsWith(u'n') && failing != u"x1");
        QVERIFY(files.copies.filter(u"/cours.pdf"_s).size() == files.copies.size());
        QVERIFY(!statuses.contains(u'T') || fixture.controls().Destin->caption().endsWith(u"\\cours.pdf"_s));
        QCOMPARE(files.deletions.size(), toDelete.contains(u'.') && failing != u"no slot" ? 2 : 0);
        QVERIFY(showedOnly(fixture.messages, message));
        QVERIFY(fixture.messages.shown.isEmpty() || (fixture.messages.shown[0].style == 16 && fixture.messages.shown[0].title.isEmpty()));
    }

    // While slot 1's key hangs, slot 2 ends, the window stays live but takes no input,
    // refuses to close and keeps key notifications waiting, in order, for the end.
    void aRunTakesNoInputAndWaitsOnlyForItsBlockedSlot()
    {
        ScriptedNotificationSource keys;
        ScriptedFileOperations files;
        RunFixture fixture(&files, &keys);
        TempTree g;
        QCOMPARE(fixture.addDrive(g.root()), u'G');
        files.held = fixture.keyE.path(u"cours.pdf"_s);
        fixture.window->show();
        QVERIFY(pick(fixture, 0, u"cours.pdf"_s));
        const QString report = fixture.controls().Text1->text();
        VkCommand &launch = *fixture.controls().LanceCopie;

        launch.click();
        QTRY_COMPARE(fixture.status(2), u"Terminé"_s);
        QCOMPARE(fixture.status(1), u"En cours"_s);
        QVERIFY(!fixture.window->close());
        keys.arrive(u'G');
        QCOMPARE(fixture.controls().Text1->text(), report);
        QTest::mouseClick(fixture.controls().Coche[2], Qt::LeftButton);
        QCOMPARE(fixture.bas().Cochee[2], FlagTrue);
        launch.setFocus();
        QTest::keyClick(&launch, Qt::Key_Return);
        QTest::mouseClick(&launch, Qt::LeftButton);
        files.letGo.release();

        QTRY_VERIFY(!fixture.window->isCopying());
        QTest::qWait(50); // anything deferred would act now
        QCOMPARE(files.copies.size(), 2);
        QVERIFY(fixture.controls().Text1->text().contains(u"DeviceID :\tG:"_s));
        QVERIFY(fixture.window->close());
    }
};

QTEST_MAIN(TestCopyRun)
#include "test_copy_run.moc"
