#include "copy/LinuxFileOperations.h"
#include "support/ScriptedNotificationSource.h"
#include "support/WindowFixture.h"

#include <QSemaphore>
#include <QTest>

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
        window->LanceCopie_Click();
    }

    TempTree source, keyE, keyF;
};

// Asks the window to close while its copy is under way, and waits until the window has answered.
struct ClosingFileOperations : ScriptedFileOperations
{
    QWidget *window = nullptr;
    bool closed = true;
    void copyFile(const QString &source, const QString &target, const Progress &progress) override
    {
        QSemaphore answered;
        QMetaObject::invokeMethod(window, [this, &answered] {
            closed = window->close();
            answered.release();
        });
        answered.acquire(); // the window thread is not frozen while we copy
        ScriptedFileOperations::copyFile(source, target, progress);
    }
};

// A key arrives while the first copy is under way.
struct ArrivingFileOperations : ScriptedFileOperations
{
    ScriptedNotificationSource *keys = nullptr;
    QLineEdit *report = nullptr;
    QString reportDuringRun;
    void copyFile(const QString &source, const QString &target, const Progress &progress) override
    {
        QSemaphore delivered;
        QMetaObject::invokeMethod(report, [this, &delivered] {
            keys->arrive(QLatin1Char('G'));
            reportDuringRun = report->text();
            delivered.release();
        });
        delivered.acquire();
        ScriptedFileOperations::copyFile(source, target, progress);
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
        QTest::newRow("full stop at the end") << "ancien." << true;
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

    void slotsAreCopiedInOrderAndNamedByTheSource()
    {
        ScriptedFileOperations files;
        RunFixture fixture(&files);
        TempTree g, h, i;
        for (TempTree *tree : {&g, &h, &i})
            fixture.arrive(fixture.addDrive(*tree));
        fixture.pickSource(QStringLiteral("cours.pdf"));
        fixture.pickSource(QStringLiteral("notes.txt"));
        fixture.pickSource(QStringLiteral("cours.pdf"));
        // The source list moves on after the pick: the key still gets cours.pdf.
        fixture.controls().File1[0]->setListIndex(1);
        for (int slot : {1, 3, 4})
            fixture.window->Cochage(slot); // leaves slots 2 and 5 selected

        fixture.run();
        const QString src = fixture.source.path(QStringLiteral("cours.pdf"));
        QCOMPARE(files.copies, QStringList({src + QStringLiteral(" -> ") + fixture.keyF.path(QStringLiteral("cours.pdf")),
                                            src + QStringLiteral(" -> ") + i.path(QStringLiteral("cours.pdf"))}));
        QCOMPARE(fixture.status(2), QStringLiteral("Terminé"));
        QCOMPARE(fixture.colour(2), 0x00FF00u);
        QCOMPARE(fixture.status(5), QStringLiteral("Terminé"));
        for (int slot : {1, 3, 4})
            QCOMPARE(fixture.status(slot), QStringLiteral("inactif"));
        QCOMPARE(fixture.controls().Destin->caption(), QStringLiteral("I:\\cours.pdf"));
        QVERIFY(fixture.messages.shown.isEmpty());
        QVERIFY(fixture.ticked(2));
        QCOMPARE(fixture.bas().Cochee[2], FlagTrue);
    }

    void failuresLetTheRunGoOn_data()
    {
        QTest::addColumn<QString>("failing"); // "copy", "delete" or "refresh", in slot 1
        QTest::addColumn<QString>("slot1");
        QTest::addColumn<QString>("message");
        QTest::newRow("copy fails") << "copy" << "Échec" << "Disque plein";
        QTest::newRow("deletion fails") << "delete" << "Terminé" << "Fichier introuvable";
        QTest::newRow("folder vanished") << "refresh" << "Terminé" << "Chemin d'accès introuvable";
    }
    void failuresLetTheRunGoOn()
    {
        QFETCH(QString, failing);
        QFETCH(QString, slot1);
        QFETCH(QString, message);
        ScriptedFileOperations files;
        RunFixture fixture(&files);
        fixture.pickSource(QStringLiteral("cours.pdf"));
        if (failing == QLatin1String("copy"))
            files.failCopyTo.insert(fixture.keyE.path(QStringLiteral("cours.pdf")), failureFor(FailureNumber::DiskFull));
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
        QCOMPARE(fixture.status(2), QStringLiteral("Terminé"));
        QCOMPARE(files.copies.size(), 2);
        QCOMPARE(files.deletions.size(), 2);
        QCOMPARE(fixture.messages.shown.size(), 1);
        QCOMPARE(fixture.messages.shown[0].prompt, message);
        QCOMPARE(fixture.messages.shown[0].style, 16);
        QVERIFY(fixture.messages.shown[0].title.isEmpty());
    }

    void onlyTheLastFailureIsReported()
    {
        ScriptedFileOperations files;
        RunFixture fixture(&files);
        fixture.pickSource(QStringLiteral("cours.pdf"));
        files.failCopyTo.insert(fixture.keyE.path(QStringLiteral("cours.pdf")), failureFor(FailureNumber::DiskFull));
        files.failCopyTo.insert(fixture.keyF.path(QStringLiteral("cours.pdf")), failureFor(FailureNumber::PermissionDenied));
        fixture.run();
        QCOMPARE(fixture.messages.shown.size(), 1);
        QCOMPARE(fixture.messages.shown[0].prompt, QStringLiteral("Permission refusée"));
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

    void closingIsRefusedDuringARun()
    {
        ClosingFileOperations files;
        RunFixture fixture(&files);
        files.window = fixture.window.get();
        fixture.window->show();
        fixture.pickSource(QStringLiteral("cours.pdf"));
        fixture.run();
        QVERIFY(!files.closed);
        QVERIFY(fixture.window->isVisible());
        QCOMPARE(fixture.status(2), QStringLiteral("Terminé"));
        QVERIFY(fixture.window->close()); // once the run is over it closes
    }

    void keysArrivingDuringARunWaitForItsEnd()
    {
        ScriptedNotificationSource keys;
        ArrivingFileOperations files;
        RunFixture fixture(&files, &keys);
        TempTree g;
        QCOMPARE(fixture.addDrive(g), QLatin1Char('G'));
        files.keys = &keys;
        files.report = fixture.controls().Text1;
        fixture.pickSource(QStringLiteral("cours.pdf"));
        const QString before = fixture.controls().Text1->text();

        fixture.run();
        QCOMPARE(files.reportDuringRun, before);
        QCOMPARE(files.copies.size(), 2); // the new key was not part of this run
        QCOMPARE(fixture.bas().Lecteur[3], QStringLiteral("G"));
        QVERIFY(fixture.controls().Text1->text().contains(QStringLiteral("DeviceID :\tG:")));
    }

    void realFilesLandOnTheKeys()
    {
        LinuxFileOperations files;
        RunFixture fixture(&files);
        fixture.keyE.createFile(QStringLiteral("cours.pdf"), "ancienne version");
        fixture.keyE.createFile(QStringLiteral("vieux.tmp"), "x");
        fixture.keyE.createFile(QStringLiteral("garder.txt"), "x");
        fixture.keyF.createFile(QStringLiteral("VIEUX2.TMP"), "x");
        fixture.pickSource(QStringLiteral("cours.pdf"));

        fixture.run(QStringLiteral("*.tmp"));
        for (TempTree *key : {&fixture.keyE, &fixture.keyF}) {
            QCOMPARE(TempTree::read(key->path(QStringLiteral("cours.pdf"))), Course);
            QCOMPARE(QDir(key->root()).entryList({QStringLiteral("*.tmp")}, QDir::Files, QDir::IgnoreCase), QStringList());
        }
        QVERIFY(QFile::exists(fixture.keyE.path(QStringLiteral("garder.txt"))));
        QCOMPARE(fixture.status(1), QStringLiteral("Terminé"));
        QVERIFY(fixture.controls().Controle[1]->progress() < 0); // the bar is gone once the slot is done
        QVERIFY(fixture.messages.shown.isEmpty());
        // The slot's list was read again and shows the copy.
        bool listed = false;
        for (int n = 0; n < fixture.controls().File1[1]->listCount(); ++n)
            listed = listed || fixture.controls().File1[1]->list(n) == QLatin1String("cours.pdf");
        QVERIFY(listed);
    }

    void deletingTheCopiedNameLeavesKeysWithoutIt()
    {
        LinuxFileOperations files;
        RunFixture fixture(&files);
        fixture.pickSource(QStringLiteral("cours.pdf"));
        fixture.run(QStringLiteral("cours.pdf"));
        QVERIFY(!QFile::exists(fixture.keyE.path(QStringLiteral("cours.pdf"))));
        QVERIFY(!QFile::exists(fixture.keyF.path(QStringLiteral("cours.pdf"))));
        QVERIFY(QFile::exists(fixture.source.path(QStringLiteral("cours.pdf"))));
        QCOMPARE(fixture.status(2), QStringLiteral("Terminé"));
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
