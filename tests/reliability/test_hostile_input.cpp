#include "Reliability.h"

#include <QProcess>
#include <QScopeGuard>

// The whole world a run can reach, as a shell builds it: the key in slot 1 and beside it a file and a folder of
// no slot, and the working folder, where the source lies. The key holds an old copy, files, a subfolder, links out
// of it, and names the lists leave out: names holding '\', which a deletion never reads as a path, and names not UTF-8.
const QString World = "mkdir -p source hors/dossier cle/sub cle/a 'cle/x\\y' && touch source/cours.pdf voisin.txt hors/secret.txt "
                      "hors/dossier/interne.txt cle/ancien.txt cle/vieux.tmp cle/VIEUX2.TMP cle/sub/inner.txt cle/a/b.txt 'cle/a\\b.txt' "
                      "'cle/x\\y/in.txt' cle/cours2026.pdf && echo ancienne >cle/cours.pdf && cd cle && ln -s ../hors/secret.txt lien.txt "
                      "&& ln -s ../hors/dossier liendossier && ln -s boucle boucle && e=$(printf '\\351t\\351') && mkdir \"$e\" "
                      "&& touch \"$e/x.txt\" \"$(printf '\\377\\376.txt')\"";
LinuxFileOperations realFiles; // holds no state

class TestHostileInput : public QObject
{
    Q_OBJECT

private slots:
    // The name typed in "Si nécessaire :" (the row's name; "%W" stands for the world's native path) reaches the
    // key's folder and nothing else: a path, a climb or a control character is refused, a wildcard deletes the
    // folder's own files, in any case, but never the fresh copy, a folder, a link, a link's target or a subfolder's
    // file; the copy replaces the old one, and the key's list is read again.
    void hostileNames_data()
    {
        QTest::addColumn<QString>("message");
        QTest::addColumn<QByteArrayList>("deleted"); // in the key
        for (auto text : {"../voisin.txt", "sub/inner.txt", "sub\\inner.txt", "%W/hors/secret.txt", "D:\\ancien.txt", "ancien.txt\n*"})
            QTest::newRow(text) << describeFailure(FailureNumber::BadFileName) << QByteArrayList();
        for (auto text : {"lien.txt", "liendossier.*", "inner.txt", "secret.txt", "cours.pdf"})
            QTest::newRow(text) << describeFailure(FailureNumber::FileNotFound) << QByteArrayList();
        QTest::newRow("*") << QString() << QByteArrayList(); // no full stop: nothing
        QTest::newRow("*.*") << QString() << QByteArrayList{"ancien.txt", "cours2026.pdf", "vieux.tmp", "VIEUX2.TMP", "a\\b.txt", "\xff\xfe.txt"};
        QTest::newRow("COURS*.PDF") << QString() << QByteArrayList{"cours2026.pdf"};
        QTest::newRow("*.txt") << QString() << QByteArrayList{"ancien.txt", "a\\b.txt", "\xff\xfe.txt"};
        QTest::newRow("??.txt") << QString() << QByteArrayList{"\xff\xfe.txt"}; // a question mark per byte
    }
    void hostileNames()
    {
        QFETCH(QString, message);
        QFETCH(QByteArrayList, deleted);
        const TempTree tree;
        const auto cleanup = qScopeGuard([&] { QProcess::execute("rm", {"-rf", tree.root()}); }); // names Qt cannot spell
        QCOMPARE(QProcess::execute("sh", {"-c", "cd \"$0\" && " + World, tree.root()}), 0);
        WindowFixture fixture(&realFiles);
        fixture.arrive(fixture.addDrive(tree.path("cle")));
        fixture.bas().FichSource = "C:" + tree.path("source/cours.pdf").replace('/', '\\'); // drive C is "/"
        QCOMPARE(entries(*fixture.controls().File1[1]).join(' '), "ancien.txt cours.pdf cours2026.pdf lien.txt vieux.tmp VIEUX2.TMP");
        QCOMPARE(entries(*fixture.controls().Dir1[1]), QStringList({"D:\\a", "D:\\liendossier", "D:\\sub"}));
        Reliability::Entries expected = Reliability::snapshot(tree.root());
        expected.insert("cle/cours.pdf", expected.value("source/cours.pdf"));
        expected.removeIf([&](const auto &entry) { return entry.key().startsWith("cle/") && deleted.contains(entry.key().mid(4)); });

        fixture.controls().FichKill->setText(QString::fromUtf8(QTest::currentDataTag()).replace("%W", tree.root()));
        fixture.runCopies();
        QVERIFY(Reliability::snapshot(tree.root()) == expected && showedOnly(fixture.messages, message));
        QCOMPARE(entries(*fixture.controls().File1[1]).contains("cours2026.pdf"), !deleted.contains("cours2026.pdf"));
    }

    // Volume notifications carry any 32-bit mask: only a one-bit mask naming a lettered key, for a volume
    // (device type 2, data 0), attaches or frees a slot; any other arrival reports a faulty key.
    void everyUnitMaskIsHandled()
    {
        WindowFixture fixture;
        const TempTree d, e, f;
        // D, E and F, no other; E in slot 1 throughout
        fixture.addDrive(d.root()), fixture.arrive(fixture.addDrive(e.root())), fixture.addDrive(f.root());
        const QString start = slotsOf(fixture);
        const auto state = [&] { return slotsOf(fixture) + fixture.controls().Text1->text() + QString::number(fixture.messages.shown.size()); };
        for (quint32 one = 1; one != 0; one <<= 1) // around each bit: it, one more, the bits below it, it and another bit; all bits
            for (const qint32 mask : {qint32(one), qint32(one + 1), qint32(one - 1), qint32(one | 0x10), -1}) {
                const int bit = qPopulationCount(quint32(mask)) == 1 ? int(qCountTrailingZeroBits(quint32(mask))) : -1; // 3, 4, 5: D, E, F
                const QString before = state();
                for (const auto &[type, data] : {std::pair{2, 1}, {2, 2}, {3, 0}, {0, 0}}) { // a media change, a network volume, no volume
                    fixture.window->SysInfo1_DeviceArrival(type, mask, "/dev/test", data);
                    fixture.window->SysInfo1_DeviceRemoveComplete(type, mask, "/dev/test", data);
                }
                QCOMPARE(state(), before); // nothing happened at all

                const qsizetype shown = fixture.messages.shown.size();
                // The attached key's own mask: its going and coming back are the key handlers' own tests; no mask stands in.
                fixture.window->SysInfo1_DeviceArrival(2, bit == 4 ? 0 : mask, "/dev/test", 0);
                QCOMPARE(slotsOf(fixture), bit == 3 || bit == 5 ? QString("E* %1* - - - - - -").arg(QChar(u'A' + bit)) : start);
                QCOMPARE(fixture.messages.shown.size(), shown + (bit != 3 && bit != 5)); // any other arrival: a faulty key reported
                // Never frees E, whatever bits it shares.
                fixture.window->SysInfo1_DeviceRemoveComplete(2, bit == 4 ? 0 : mask, "/dev/test", 0);
                // The slot a removal frees keeps the letter "C", and is empty again for the next mask.
                QCOMPARE(slotsOf(fixture).replace(" C ", " - "), start);
                fixture.bas().Lecteur[2].clear();
            }
    }
};

QTEST_MAIN(TestHostileInput)
#include "test_hostile_input.moc"
