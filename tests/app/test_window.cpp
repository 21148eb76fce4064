#include "devices/DeviceReport.h"
#include "devices/UDisksClient.h"
#include "support/ScriptedNotificationSource.h"
#include "support/WindowChecks.h"
#include "ui/SlotPresentation.h"

#include <QDBusConnection>
#include <QTimer>

// A volume notification by unit mask, or the operator's click on a slot.
struct Event
{
    enum Kind {
        Arrival,
        Removal,
        Toggle
    } kind;
    qint32 value;
};
Q_DECLARE_METATYPE(Event)
Event in(char letter)
{
    return {Event::Arrival, unitMaskOf(QLatin1Char(letter))};
}
Event out(char letter)
{
    return {Event::Removal, unitMaskOf(QLatin1Char(letter))};
}

const QString FaultyKey = "erreur N° 71 générée par EssaimeurMV\rDisque non prêt _ Cette clé semble défectueuse !";

// How a run's world differs from the plain one.
enum class SetUp {
    CopyToEFails,
    NoSourcePicked,
    SourceVolumeSwapped,
    Slot1Unselected
};
Q_DECLARE_METATYPE(SetUp)

constexpr quint32 Red = 0x0000FF, Green = 0x00FF00, Grey = 0xE0E0E0;
const QString StopQuestion = "Des copies sont en cours. Les arrêter et quitter ?";

// A source volume D holding cours.pdf, notes.txt and Data/name.txt; keys E [CLE], holding
// Photos/plage.jpg and old.txt, and F in slots 1 and 2; cours.pdf picked, then the source
// list moved to notes.txt.
struct RunFixture : WindowFixture
{
    explicit RunFixture(NotificationSource *notifications = nullptr, bool picked = true)
        : WindowFixture(&files, notifications)
    {
        for (const char *name : {"cours.pdf", "notes.txt", "Data/name.txt"})
            source.createFile(name);
        for (const char *name : {"Photos/plage.jpg", "old.txt"})
            keyE.createFile(name);
        for (TempTree *tree : {&source, &keyE, &keyF})
            addDrive(tree->root());
        controls().Drive1[0]->setDrive("D");
        arrive('E');
        arrive('F');
        if (picked)
            pick(*this, 0, "cours.pdf");
        controls().File1[0]->setListIndex(1);
    }
    QList<quint32> colours() { return {controls().Controle[1]->backColor(), controls().Controle[2]->backColor()}; }

    ScriptedFileOperations files;
    TempTree source, keyE, keyF;
};

class TestWindow : public QObject
{
    Q_OBJECT

private slots:
    // A tick selects, a status box deselects, by the flag, whatever the slot shows; the
    // launch button is enabled while some slot is selected.
    void clicksToggleTheSelection()
    {
        WindowFixture fixture;
        Controls &c = fixture.controls();
        QTest::mouseClick(c.Coche[3], Qt::LeftButton);
        QTest::mouseClick(c.Coche[7], Qt::LeftButton);
        presentSlot(c, 3, SlotState::Done);
        QTest::mouseClick(c.Controle[3], Qt::LeftButton);
        QCOMPARE(fixture.selected(), QList{7});
        QCOMPARE(fixture.ticked(), QList{7});
        QCOMPARE(fixture.showing("en attente"), QList{7});
        QCOMPARE(c.LanceCopie->isEnabled(), true);
        QTest::mouseClick(c.Controle[7], Qt::LeftButton);
        QCOMPARE(c.LanceCopie->isEnabled(), false);
    }

    // A drive that cannot be read sends the slot back, silently, to the key's current
    // folder, or, when the key cannot be read either, leaves it on the last folder it read.
    void anUnreadableDriveSendsTheSlotBack()
    {
        RunFixture fixture;
        TempTree gone;
        QDir(fixture.drives.drive(fixture.addDrive(gone.root()))->root).removeRecursively(); // G
        Controls &c = fixture.controls();
        c.Dir1[1]->setPath("E:\\Photos");
        c.Drive1[1]->setDrive("G");
        QCOMPARE(fixture.bas().CheminDest[1], "E:\\");
        QCOMPARE(entries(*c.File1[1]), QStringList{"old.txt"});
        c.Dir1[1]->setPath("E:\\Photos");
        QDir(fixture.keyE.root()).removeRecursively();
        c.Drive1[1]->setDrive("G");
        QCOMPARE(fixture.bas().CheminDest[1], "E:\\Photos\\");
        QCOMPARE(entries(*c.File1[1]), QStringList{"plage.jpg"});
        QCOMPARE(c.Drive1[1]->drive(), "e:");
        QCOMPARE(fixture.messages.prompts(), QStringList());
    }

    // The source is the file picked, in the folder the list shows; a slot's file names the
    // file to delete.
    void fileClicksNameTheSourceOrTheDeletion()
    {
        RunFixture fixture;
        Controls &c = fixture.controls();
        c.Dir1[0]->setPath("D:\\Data");
        c.Dir1[0]->setListIndex(-2); // moved to the parent, not opened
        QVERIFY(pick(fixture, 0, "name.txt"));
        QCOMPARE(fixture.bas().FichSource, "D:\\Data\\name.txt");
        QCOMPARE(c.Chemin->caption(), "name.txt");
        QVERIFY(pick(fixture, 1, "old.txt"));
        QCOMPARE(c.FichKill->text(), "old.txt");
    }

    // Keys D to L are readable; M's root has gone; N's root is a file, no folder to list.
    void keysComeAndGo_data()
    {
        QTest::addColumn<QList<Event>>("events");
        QTest::addColumn<QStringList>("letters"); // by slot, up to the last that ever held a key
        QTest::addColumn<QList<int>>("selected");
        QTest::addColumn<QStringList>("messages");
        QTest::newRow("an arrival selects every slot it passes")
            << QList{in('D'), in('F'), Event{Event::Toggle, 1}, in('E')} << QStringList{"D", "F", "E"} << QList{1, 2, 3}
            << QStringList();
        QTest::newRow("a key whose facts cannot be read is faulty")
            << QList{in('D'), in('M')} << QStringList{"D"} << QList{1} << QStringList{FaultyKey};
        QTest::newRow("a key whose folder cannot be read is faulty")
            << QList{in('D'), in('N')} << QStringList{"D"} << QList{1, 2} << QStringList{FaultyKey};
        QTest::newRow("a removal frees the slot holding the letter")
            << QList{in('D'), in('F'), in('E'), out('E')} << QStringList{"D", "F", "C"} << QList{1, 2} << QStringList();
        QTest::newRow("a letter held twice: its removal frees the lowest slot")
            << QList{in('E'), in('E'), out('E')} << QStringList{"C", "E"} << QList{2} << QStringList();
    }
    void keysComeAndGo()
    {
        QFETCH(QList<Event>, events);
        QFETCH(QStringList, letters);
        QFETCH(QList<int>, selected);
        QFETCH(QStringList, messages);
        WindowFixture fixture;
        TempTree trees[10];
        for (TempTree &tree : trees)
            fixture.addDrive(tree.root());
        QDir(trees[9].root()).removeRecursively();
        fixture.addDrive(trees[0].createFile("N"));
        for (const Event &event : events) {
            if (event.kind == Event::Arrival)
                fixture.window->SysInfo1_DeviceArrival(2, event.value, {}, 0);
            else if (event.kind == Event::Removal)
                fixture.window->SysInfo1_DeviceRemoveComplete(2, event.value, {}, 0);
            else
                fixture.window->Cochage(event.value);
        }
        QCOMPARE(fixture.letters(), letters);
        QCOMPARE(fixture.selected(), selected);
        QCOMPARE(fixture.messages.prompts(), messages);
        QCOMPARE(fixture.controls().LanceCopie->isEnabled(), true);
    }

    // Sizes in kilo-octets, rounded and grouped as the French locale groups them.
    void theArrivalReportsWording()
    {
        QCOMPARE(DeviceReport::arrivalHeader("D") + DeviceReport::arrivalFacts("CLE", 1 << 30, 1536),
                 "Connection du périphérique !\r\nDeviceID :\tD:\\\r\nN_Volume :\tCLE\r\n"
                 "Taille totale : \t1\u202F048\u202F576 Kilo-octets\r\nDisponible : \t2 Kilo-octets");
    }

    // Its lists fell back to another drive: a run must not write there.
    void aKeyWhoseFolderCannotBeReadKeepsNoDestination()
    {
        WindowFixture fixture;
        TempTree tree;
        fixture.arrive(fixture.addDrive(tree.createFile("cle")));
        QCOMPARE(fixture.bas().CheminDest[1], "");
    }

    // Slot 1's lists still show D:\Cours of a volume gone; a new volume given D starts at
    // its root, a good key and not a faulty one.
    void aNewVolumeAtALetterStartsAtItsRoot()
    {
        WindowFixture fixture;
        TempTree old, fresh;
        old.createDir("Cours");
        fresh.createFile("nouveau.txt");
        fixture.addDrive(old.root());
        fixture.controls().Drive1[1]->setDrive("D");
        fixture.controls().Dir1[1]->setPath("D:\\Cours");
        fixture.drives.release('D');
        fixture.arrive(fixture.addDrive(fresh.root()));
        QCOMPARE(fixture.messages.prompts(), QStringList());
        QCOMPARE(fixture.bas().CheminDest[1], "D:\\");
        QCOMPARE(entries(*fixture.controls().File1[1]), QStringList{"nouveau.txt"});
    }

    // Without the desktop's disk service, a key's slot offers no ejection.
    void noEjectionWithoutTheDiskService()
    {
        UDisksClient disks(QDBusConnection(QStringLiteral("none")));
        disks.start();
        WindowFixture fixture(nullptr, nullptr, &disks);
        TempTree key;
        fixture.arrive(fixture.addDrive(key.root()));
        QCOMPARE(fixture.window->MenuCle(1).value(0).enabled, false);
        QCOMPARE(fixture.window->MenuCle(1).value(1).enabled, false);
    }
    // A failure no handler recovers from reaches the window, not Qt's event loop.
    void anUnhandledFailureIsToldInAMessage()
    {
        WindowFixture fixture;
        runUserEvent(fixture.controls().File1[1], [] { throw failureFor(FailureNumber::FileNotFound); });
        QCOMPARE(fixture.messages.prompts(), QStringList{"Fichier introuvable"});
    }

    // A failure ends its own slot only, and names itself in a message; an unselected slot is
    // left alone; the key gets the picked file's name, whatever the source list shows since.
    void eachSlotEndsOnItsOwn_data()
    {
        QTest::addColumn<SetUp>("setUp");
        QTest::addColumn<QList<quint32>>("colours"); // slots 1 and 2
        QTest::addColumn<QStringList>("messages");
        QTest::addColumn<QStringList>("copies");
        // clang-format off
        QTest::newRow("a failed copy ends its own slot") << SetUp::CopyToEFails << QList{Red, Green} << QStringList{"Disque plein"} << QStringList{"E:\\cours.pdf", "F:\\cours.pdf"};
        QTest::newRow("no source picked") << SetUp::NoSourcePicked << QList{Red, Red} << QStringList{"Fichier introuvable"} << QStringList();
        QTest::newRow("the source's volume swapped at its letter") << SetUp::SourceVolumeSwapped << QList{Red, Red} << QStringList{"Disque non prêt"} << QStringList();
        QTest::newRow("an unselected slot is left alone") << SetUp::Slot1Unselected << QList{Grey, Green} << QStringList() << QStringList{"F:\\cours.pdf"};
        // clang-format on
    }
    void eachSlotEndsOnItsOwn()
    {
        QFETCH(SetUp, setUp);
        QFETCH(QList<quint32>, colours);
        QFETCH(QStringList, messages);
        QFETCH(QStringList, copies);
        RunFixture fixture(nullptr, setUp != SetUp::NoSourcePicked);
        TempTree other;
        if (setUp == SetUp::CopyToEFails)
            fixture.files.failCopyTo.insert(fixture.keyE.path("cours.pdf"), failureFor(FailureNumber::DiskFull));
        if (setUp == SetUp::SourceVolumeSwapped) {
            fixture.drives.release('D');
            fixture.addDrive(other.root());
        }
        if (setUp == SetUp::Slot1Unselected)
            fixture.window->Cochage(1);
        QVERIFY(fixture.runCopies());
        QCOMPARE(fixture.colours(), colours);
        QCOMPARE(fixture.messages.prompts(), messages);
        QCOMPARE(fixture.drivePaths(fixture.files.copies), copies);
    }

    // In a critical box; the slot's files as its worker read them; the bar gone.
    void theEndOfARun()
    {
        RunFixture fixture;
        fixture.files.failCopyTo.insert(fixture.keyE.path("cours.pdf"), failureFor(FailureNumber::DiskFull));
        fixture.keyF.createFile("nouveau.txt");
        QVERIFY(fixture.runCopies());
        QCOMPARE(fixture.messages.shown.value(0).style, 16);
        QCOMPARE(entries(*fixture.controls().File1[2]), QStringList{"nouveau.txt"});
        QCOMPARE(fixture.controls().Controle[2]->progress(), -1.0);
    }

    // A deletion goes with a full stop only, after the copy, sparing the fresh copy.
    void aNameWithAFullStopIsDeleted()
    {
        RunFixture fixture;
        fixture.controls().FichKill->setText("ancien.txt");
        QVERIFY(fixture.runCopies());
        QCOMPARE(fixture.drivePaths(fixture.files.deletions), QStringList({"E:\\ancien.txt", "F:\\ancien.txt"}));
        fixture.files.deletions.clear();
        fixture.controls().FichKill->setText("ancien");
        QVERIFY(fixture.runCopies());
        QCOMPARE(fixture.files.deletions, QStringList());
    }

    // While slot 1's key hangs, slot 2 ends; the window takes no input, asks before it
    // closes, and key notifications wait, in order, for the end.
    void aRunTakesNoInputButItsWayOut()
    {
        ScriptedNotificationSource keys;
        RunFixture fixture(&keys);
        TempTree g;
        fixture.addDrive(g.root());
        fixture.files.held = fixture.keyE.path("cours.pdf");
        fixture.window->show();
        VkCommand &launch = *fixture.controls().LanceCopie;
        launch.click();
        QTRY_COMPARE(fixture.status(2), "Terminé");
        QCOMPARE(fixture.window->close(), false);
        QCOMPARE(fixture.messages.prompts(), QStringList{StopQuestion});
        keys.arrive(u'G');
        QTest::mouseClick(fixture.controls().Coche[2], Qt::LeftButton);
        launch.setFocus();
        QTest::keyClick(&launch, Qt::Key_Return);
        QTest::mouseClick(&launch, Qt::LeftButton);
        QCOMPARE(fixture.selected(), QList({1, 2}));
        QCOMPARE(fixture.bas().Occupee[3], FlagFalse);
        fixture.files.letGo.release();
        QTRY_COMPARE(fixture.window->isCopying(), false);
        QTest::qWait(50); // anything deferred would act now
        QCOMPARE(fixture.window->isCopying(), false);
        QCOMPARE(fixture.files.copies.size(), 2);
        QCOMPARE(fixture.bas().Lecteur[3], "G");
    }

    // Oui to "Quitter" stops the copies, and the program ends once they have stopped.
    void quittingDuringARunStopsIt()
    {
        RunFixture fixture;
        fixture.files.held = fixture.keyE.path("cours.pdf");
        fixture.messages.yes = true;
        fixture.window->LanceCopie_Click();
        QTimer::singleShot(0, [&] { QTest::mouseClick(fixture.controls().Quitter, Qt::LeftButton); });
        QTimer::singleShot(10000, [] { QCoreApplication::exit(1); }); // the program did not quit
        QCOMPARE(QCoreApplication::exec(), 0);
        QCOMPARE(fixture.status(1), "Échec");
        QCOMPARE(fixture.messages.prompts(), QStringList{StopQuestion});
    }
};

QTEST_MAIN(TestWindow) // run with LC_ALL=fr_FR.UTF-8: the report groups digits as the system locale does
#include "test_window.moc"
