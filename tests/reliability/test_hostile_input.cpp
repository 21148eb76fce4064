#include "Reliability.h"

#include <QProcess>

// The whole world a run can reach, as a shell builds it: the key in slot 1 and beside it a
// file and a folder of no slot, and the source. The key holds an old copy, files, a
// subfolder, links out of it, and names the lists leave out: hidden names, names holding
// '\', which a deletion never reads as a path, and names not UTF-8.
const QString World =
    "mkdir -p source hors/dossier cle/sub cle/a 'cle/x\\y' cle/.cache && touch source/cours.pdf voisin.txt "
    "hors/secret.txt hors/dossier/interne.txt cle/ancien.txt cle/vieux.tmp cle/VIEUX2.TMP cle/.cache/c.txt "
    "cle/sub/inner.txt 'cle/a\\b.txt' cle/cours2026.pdf && echo ancienne >cle/cours.pdf && cd cle "
    "&& ln -s ../hors/secret.txt lien.txt && ln -s ../hors/dossier liendossier && ln -s nulle part.txt "
    "&& touch \"$(printf '\\377\\376.txt')\"";

// The world, built afresh in a folder of its own, with the window's slot 1 on the key.
struct HostileWorld : WindowFixture
{
    HostileWorld()
        : WindowFixture(&files)
    {
        QProcess::execute("sh", {"-c", "cd \"$0\" && " + World, tree.root()});
        arrive(addDrive(tree.path("cle")));
        bas().FichSource = "C:" + tree.path("source/cours.pdf").replace('/', '\\'); // drive C is "/"
    }
    ~HostileWorld() { QProcess::execute("rm", {"-rf", tree.root()}); } // names Qt cannot spell
    TempTree tree;
    LinuxFileOperations files;
};

class TestHostileInput : public QObject
{
    Q_OBJECT

private slots:
    // Sorted without case; hidden names, names with '\' or not UTF-8 and broken links left
    // out; links count as what they point to.
    void theListsShowTheVisibleNames()
    {
        HostileWorld world;
        QCOMPARE(entries(*world.controls().File1[1]),
                 QStringList({"ancien.txt", "cours.pdf", "cours2026.pdf", "lien.txt", "vieux.tmp", "VIEUX2.TMP"}));
        QCOMPARE(entries(*world.controls().Dir1[1]), QStringList({"D:\\a", "D:\\liendossier", "D:\\sub"}));
    }

    // The name typed in "Si nécessaire :" reaches the key's folder and nothing else: a path
    // is refused; a wildcard deletes the folder's own files, in any case, but
    // never the fresh copy, a folder, a link, a link's target or a subfolder's file.
    void hostileNames_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("message");
        QTest::addColumn<QByteArrayList>("deleted"); // in the key
        const QString refused = "Nom ou numéro de fichier incorrect", none = "Fichier introuvable";
        // clang-format off
        QTest::newRow("a subfolder's file, by '/'") << "sub/inner.txt" << refused << QByteArrayList();
        QTest::newRow("a control character") << "ancien.txt\n*" << refused << QByteArrayList();
        QTest::newRow("a link is no file") << "lien.txt" << none << QByteArrayList();
        QTest::newRow("the fresh copy") << "cours.pdf" << none << QByteArrayList();
        QTest::newRow("every file") << "*.*" << "" << QByteArrayList{"ancien.txt", "cours2026.pdf", "vieux.tmp", "VIEUX2.TMP", "a\\b.txt", "\xff\xfe.txt"};
        QTest::newRow("any case") << "Vieux*.TMP" << "" << QByteArrayList{"vieux.tmp", "VIEUX2.TMP"};
        QTest::newRow("a question mark per byte") << "??.txt" << "" << QByteArrayList{"\xff\xfe.txt"};
        // clang-format on
    }
    void hostileNames()
    {
        QFETCH(QString, typed);
        QFETCH(QString, message);
        QFETCH(QByteArrayList, deleted);
        HostileWorld world;
        Reliability::Entries expected = Reliability::snapshot(world.tree.root());
        expected.insert("cle/cours.pdf", expected.value("source/cours.pdf"));
        for (const QByteArray &name : deleted)
            expected.remove("cle/" + name);
        world.controls().FichKill->setText(typed);
        QVERIFY(world.runCopies());
        QCOMPARE(Reliability::snapshot(world.tree.root()), expected);
        QCOMPARE(world.messages.shown.value(0).prompt, message);
    }

    // Notifications carry any 32-bit mask: only one naming a single letter, for a volume,
    // attaches or frees a slot; an arrival naming none is a faulty key, a removal naming
    // none frees a slot that never held a key.
    void everyUnitMaskIsHandled()
    {
        WindowFixture fixture;
        TempTree key;
        fixture.arrive(fixture.addDrive(key.root())); // D, in slot 1 throughout
        for (const qint32 mask : {0, 6, 1 << 26, INT_MIN, -1}) {
            for (const int data : {0, 1, 2}) // a volume, a media change, a network volume
                fixture.window->SysInfo1_DeviceArrival(2, mask, {}, data);
            fixture.window->SysInfo1_DeviceArrival(3, mask, {}, 0); // no volume
            fixture.window->SysInfo1_DeviceRemoveComplete(2, mask, {}, 1);
            fixture.window->SysInfo1_DeviceRemoveComplete(2, mask, {}, 0);
        }
        QCOMPARE(fixture.letters(), QStringList({"D", "C", "C", "C", "C", "C"}));
        QCOMPARE(fixture.messages.shown.size(), 5);
    }
};

QTEST_MAIN(TestHostileInput)
#include "test_hostile_input.moc"
