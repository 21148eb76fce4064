#include "copy/LinuxFileOperations.h"
#include "support/ScriptedNotificationSource.h"
#include "support/WindowFixture.h"

#include <QTest>

#include <semaphore>

namespace {
const QByteArray Course = QByteArrayLiteral("le cours du lundi\n");
const QString Instruction = QStringLiteral(
    "Inscrire ici ou sélectionner dans une des clés un éventuel fichier à supprimer sur toutes les clés");
}

// A source volume D holding cours.pdf and notes.txt, and keys E and F attached to slots 1 and 2.
class RunFixture : public WindowFixture
{
public:
    explicit RunFixture(FileOperations *files = nullptr, NotificationSource *notifications = nullptr)
        : WindowFixture(files, notifications)
    {
        source.createFile(QStringLiteral("cours.pdf"), Course);
        source.createFile(QStringLiteral("notes.txt"), "notes");
        addDrive(source, QStringLiteral("SOURCE"));
        addDrive(keyE, QStringLiteral("CLE_E"));
        addDrive(keyF, QStringLiteral("CLE_F"));
        controls().Drive1[0]->setDrive(QStringLiteral("D"));
        arrive(QLatin1Char('E'));
        arrive(QLatin1Char('F'));
    }

    void pickSource(const QString &name)
    {
        FileList &files = *controls().File1[0];
        for (int n = 0; n < files.listCount(); ++n) {
            if (files.list(n) == name)
                files.setListIndex(n);
        }
        window->File1_Click(0);
    }

    void run(const QString &toDelete = Instruction)
    {
        controls().FichKill->setText(toDelete);
        runCopies();
    }

    TempTree source, keyE, keyF;
};

// Copies to one target wait until the test lets them go.
struct GatedFileOperations : ScriptedFileOperations
{
    QString gated;
    std::binary_semaphore gate{0};
    void copyFile(const QString &source, const QString &target, const Progress &progress, const KeyBounds &bounds) override
    {
        if (target == gated && !gate.try_acquire_for(std::chrono::seconds(20)))
            throw failureFor(FailureNumber::DeviceIO);
        ScriptedFileOperations::copyFile(source, target, progress, bounds);
    }
};

class TestCopyRun : public QObject
{
    Q_OBJECT

private slots:
    void fullStopDecidesTheDeletion_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("deletes");
        QTest::newRow("instruction") << Instruction << false;
        QTest::newRow("empty") << "" << false;
        QTest::newRow("no full stop") << "ancien" << false;
        QTest::newRow("name") << "ancien.txt" << true;
        QTest::newRow("full stop alone") << "." << true;
    }
    void fullStopDecidesTheDeletion()
    {
        QFETCH(QString, text);
        QFETCH(bool, deletes);
        ScriptedFileOperations files;
        RunFixture fixture(&files);
        fixture.pickSource(QStringLiteral("cours.pdf"));
        fixture.run(text);
        QCOMPARE(fixture.bas().ModeKill, deletes ? FlagTrue : FlagFalse);
        QCOMPARE(files.deletions.size(), deletes ? 2 : 0);
        QCOMPARE(files.copies.size(), 2);
    }

    void onlySelectedSlotsAreCopiedUnderTheSourceName()
    {
        ScriptedFileOperations files;
        RunFixture fixture(&files);
        TempTree g, h, i;
        for (TempTree *tree : {&g, &h, &i})
            fixture.arrive(fixture.addDrive(*tree));
        fixture.pickSource(QStringLiteral("cours.pdf"));
        // The source list moves on after the pick: the key still gets cours.pdf.
        fixture.controls().File1[0]->setListIndex(1);
        for (int slot : {1, 3, 4})
            fixture.window->Cochage(slot); // leaves slots 2 and 5 selected

        fixture.run();
        const QString src = fixture.source.path(QStringLiteral("cours.pdf"));
        QStringList expected{src + QStringLiteral(" -> ") + fixture.keyF.path(QStringLiteral("cours.pdf")),
                             src + QStringLiteral(" -> ") + i.path(QStringLiteral("cours.pdf"))};
        expected.sort();
        QCOMPARE(files.copies, expected);
        for (int slot : {2, 5}) {
            QCOMPARE(fixture.status(slot), QStringLiteral("Terminé"));
            QCOMPARE(fixture.colour(slot), 0x00FF00u);
            QVERIFY(fixture.ticked(slot));
        }
        for (int slot : {1, 3, 4})
            QCOMPARE(fixture.status(slot), QStringLiteral("inactif"));
        QVERIFY(QStringList({"F:\\cours.pdf", "I:\\cours.pdf"}).contains(fixture.controls().Destin->caption()));
        QVERIFY(fixture.messages.shown.isEmpty());
    }

    // A failure ends its own slot only; the message is the highest failing slot's.
    void failuresStayInTheirSlot_data()
    {
        QTest::addColumn<QString>("failing"); // what fails in slot 1; "both": the copies of slots 1 and 2
        QTest::addColumn<QString>("slot1");
        QTest::addColumn<QString>("message");
        QTest::newRow("copy") << "copy" << "Échec" << "Disque plein";
        QTest::newRow("deletion") << "delete" << "Terminé" << "Fichier introuvable";
        QTest::newRow("folder vanished") << "refresh" << "Terminé" << "Chemin d'accès introuvable";
        QTest::newRow("two slots") << "both" << "Échec" << "Permission refusée";
    }
    void failuresStayInTheirSlot()
    {
        QFETCH(QString, failing);
        QFETCH(QString, slot1);
        QFETCH(QString, message);
        ScriptedFileOperations files;
        RunFixture fixture(&files);
        fixture.pickSource(QStringLiteral("cours.pdf"));
        if (failing == QLatin1String("copy") || failing == QLatin1String("both"))
            files.failCopyTo.insert(fixture.keyE.path(QStringLiteral("cours.pdf")), failureFor(FailureNumber::DiskFull));
        if (failing == QLatin1String("both"))
            files.failCopyTo.insert(fixture.keyF.path(QStringLiteral("cours.pdf")), failureFor(FailureNumber::PermissionDenied));
        if (failing == QLatin1String("delete"))
            files.failDeleteIn.insert(fixture.keyE.root(), failureFor(FailureNumber::FileNotFound));
        if (failing == QLatin1String("refresh")) {
            fixture.keyE.createDir(QStringLiteral("Docs"));
            fixture.controls().Dir1[1]->setPath(QStringLiteral("E:\\Docs"));
            QVERIFY(QDir(fixture.keyE.path(QStringLiteral("Docs"))).removeRecursively());
        }

        fixture.run(QStringLiteral("ancien.txt"));
        QCOMPARE(fixture.status(1), slot1);
        QCOMPARE(fixture.colour(1), slot1 == QStringLiteral("Échec") ? 0x0000FFu : 0x00FF00u);
        QVERIFY(fixture.ticked(1)); // a failed slot keeps its tick
        QCOMPARE(fixture.status(2), failing == QLatin1String("both") ? QStringLiteral("Échec") : QStringLiteral("Terminé"));
        QCOMPARE(files.copies.size(), 2);
        QCOMPARE(files.deletions.size(), 2);
        QCOMPARE(fixture.messages.shown.size(), 1);
        QCOMPARE(fixture.messages.shown[0].prompt, message);
        QCOMPARE(fixture.messages.shown[0].style, 16);
        QVERIFY(fixture.messages.shown[0].title.isEmpty());
    }

    void nothingToCopyFailsEachSlotWithoutWriting_data()
    {
        QTest::addColumn<bool>("withSource");
        QTest::addColumn<QString>("message");
        QTest::newRow("no source file picked") << false << "Fichier introuvable";
        QTest::newRow("slot never browsed") << true << "Chemin d'accès introuvable";
    }
    void nothingToCopyFailsEachSlotWithoutWriting()
    {
        QFETCH(bool, withSource);
        QFETCH(QString, message);
        ScriptedFileOperations files;
        RunFixture fixture(&files);
        if (withSource) {
            fixture.pickSource(QStringLiteral("cours.pdf"));
            fixture.window->Cochage(1);
            fixture.window->Cochage(2);
            fixture.window->Cochage(7); // selected, but no folder was ever recorded for it
        }
        fixture.run();
        QVERIFY(files.copies.isEmpty());
        QCOMPARE(fixture.status(withSource ? 7 : 1), QStringLiteral("Échec"));
        QCOMPARE(fixture.messages.shown.size(), 1);
        QCOMPARE(fixture.messages.shown[0].prompt, message);
    }

    void noSlotSelectedDoesNothing()
    {
        ScriptedFileOperations files;
        RunFixture fixture(&files);
        fixture.pickSource(QStringLiteral("cours.pdf"));
        fixture.remove(QLatin1Char('E'));
        fixture.remove(QLatin1Char('F'));
        QVERIFY(fixture.controls().LanceCopie->isEnabled());
        fixture.run(QStringLiteral("x.txt"));
        QVERIFY(files.copies.isEmpty());
        QVERIFY(files.deletions.isEmpty());
        QVERIFY(fixture.messages.shown.isEmpty());
        QCOMPARE(fixture.status(1), QStringLiteral("inactif"));
    }

    // While slot 1's key hangs, slot 2 ends, the window stays live but takes no input,
    // refuses to close and keeps key notifications waiting, in order, for the end.
    void aRunTakesNoInputAndWaitsOnlyForItsBlockedSlot()
    {
        ScriptedNotificationSource keys;
        GatedFileOperations files;
        RunFixture fixture(&files, &keys);
        TempTree g;
        QCOMPARE(fixture.addDrive(g), QLatin1Char('G'));
        files.gated = fixture.keyE.path(QStringLiteral("cours.pdf"));
        fixture.window->show();
        fixture.pickSource(QStringLiteral("cours.pdf"));
        const QString report = fixture.controls().Text1->text();
        VkCommand &launch = *fixture.controls().LanceCopie;

        launch.click();
        QVERIFY(fixture.window->isCopying());
        QTRY_COMPARE(fixture.status(2), QStringLiteral("Terminé"));
        QCOMPARE(fixture.status(1), QStringLiteral("En cours"));
        QVERIFY(!fixture.window->close());
        keys.arrive(QLatin1Char('G'));
        QCOMPARE(fixture.controls().Text1->text(), report);
        QTest::mouseClick(fixture.controls().Coche[2], Qt::LeftButton);
        QCOMPARE(fixture.bas().Cochee[2], FlagTrue);
        launch.setFocus();
        QTest::keyClick(&launch, Qt::Key_Return);
        QTest::mouseClick(&launch, Qt::LeftButton);
        files.gate.release();

        QTRY_VERIFY(!fixture.window->isCopying());
        QTest::qWait(50); // anything deferred would act now
        QCOMPARE(files.copies.size(), 2);
        QCOMPARE(fixture.bas().Cochee[2], FlagTrue);
        QCOMPARE(fixture.bas().Lecteur[3], QStringLiteral("G"));
        QVERIFY(fixture.controls().Text1->text().contains(QStringLiteral("DeviceID :\tG:")));
        QVERIFY(fixture.window->close());
    }

    // Real files: the copy replaces the old one, the deletion spares the fresh copy
    // (whatever the case of the pattern) and takes every other match.
    void realFilesLandOnTheKeys()
    {
        LinuxFileOperations files;
        RunFixture fixture(&files);
        fixture.keyE.createFile(QStringLiteral("cours.pdf"), "ancienne version");
        fixture.keyE.createFile(QStringLiteral("cours2026.pdf"));
        fixture.keyE.createFile(QStringLiteral("garder.txt"));
        fixture.pickSource(QStringLiteral("cours.pdf"));

        fixture.run(QStringLiteral("COURS*.PDF"));
        for (TempTree *key : {&fixture.keyE, &fixture.keyF})
            QCOMPARE(TempTree::read(key->path(QStringLiteral("cours.pdf"))), Course);
        QVERIFY(!QFile::exists(fixture.keyE.path(QStringLiteral("cours2026.pdf"))));
        QVERIFY(QFile::exists(fixture.keyE.path(QStringLiteral("garder.txt"))));
        QCOMPARE(fixture.status(1), QStringLiteral("Terminé"));
        QCOMPARE(fixture.status(2), QStringLiteral("Terminé"));
        QVERIFY(fixture.controls().Controle[1]->progress() < 0); // the bar is gone once the slot is done
        // Key F had nothing to delete but its fresh copy.
        QCOMPARE(fixture.messages.shown.size(), 1);
        QCOMPARE(fixture.messages.shown[0].prompt, QStringLiteral("Fichier introuvable"));
        const FileList &list = *fixture.controls().File1[2];
        QCOMPARE(list.listCount(), 1);
        QCOMPARE(list.list(0), QStringLiteral("cours.pdf"));
    }

    void vanishedSourceFailsEverySlot()
    {
        LinuxFileOperations files;
        RunFixture fixture(&files);
        fixture.pickSource(QStringLiteral("cours.pdf"));
        QFile::remove(fixture.source.path(QStringLiteral("cours.pdf")));
        fixture.run();
        QCOMPARE(fixture.status(1), QStringLiteral("Échec"));
        QCOMPARE(fixture.status(2), QStringLiteral("Échec"));
        QCOMPARE(fixture.messages.shown.size(), 1);
        QCOMPARE(fixture.messages.shown[0].prompt, QStringLiteral("Fichier introuvable"));
        QVERIFY(!QFile::exists(fixture.keyE.path(QStringLiteral("cours.pdf"))));
    }
};

QTEST_MAIN(TestCopyRun)
#include "test_copy_run.moc"
