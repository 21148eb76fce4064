#include "Reliability.h"

#include <QProcess>
#include <QScopeGuard>

using namespace Reliability;

const QByteArray NotUtf8 = QByteArrayLiteral("\xff\xfe.txt");
// The whole world a run can reach, as a shell builds it: the key in slot 1 and beside it a file and a folder of
// no slot, and the working folder, where the source lies. The key holds files, a subfolder, and links out of it.
const QString World = "mkdir -p source dehors/dossier cle/sub && touch voisin.txt dehors/secret.txt dehors/dossier/interne.txt cle/ancien.txt "
                      "cle/vieux.tmp cle/VIEUX2.TMP cle/sub/inner.txt cle/sub/profond.tmp && ln -s \"$PWD/dehors/secret.txt\" cle/lien.txt "
                      "&& ln -s \"$PWD/dehors/dossier\" cle/liendossier && ln -s \"$PWD/cle/boucle\" cle/boucle "
                      "&& printf 'le cours du lundi\\n' > source/cours.pdf";
LinuxFileOperations realFiles; // holds no state

class TestHostileInput : public QObject
{
    Q_OBJECT

private slots:
    // The name typed in "Si nécessaire :" reaches the key's folder and nothing else: a path, a climb or a control
    // character is refused, a wildcard deletes the folder's own files, never a folder, a link, a link's target or a
    // subfolder's file. Some rows first add to the key names holding '\', which the lists leave out and a deletion
    // never reads as a path, or names that are not UTF-8, which the lists leave out while the copy and the deletion go on.
    void hostileNames_data()
    {
        QTest::addColumn<QString>("added"); // shell commands run in the world
        QTest::addColumn<QString>("text"); // "%W" stands for the world's native path
        QTest::addColumn<QString>("message");
        QTest::addColumn<QByteArrayList>("deleted");
        const QString refused = describeFailure(FailureNumber::BadFileName), notFound = describeFailure(FailureNumber::FileNotFound);
        const auto row = [](const char *text, const QString &message, const QByteArrayList &deleted, const char *added = "", const char *name = nullptr) {
            QTest::newRow(name ? name : text) << QString::fromUtf8(added) << QString::fromUtf8(text) << message << deleted;
        };
        for (const char *text : {"../voisin.txt", "sub/inner.txt", "sub\\inner.txt", "%W/dehors/secret.txt", "D:\\ancien.txt", "ancien.txt\nvieux.tmp"})
            row(text, refused, {});
        for (const char *text : {"lien.txt", "liendossier.*", "inner.txt", "secret.txt"})
            row(text, notFound, {});
        row("*", "", {}); // no full stop: nothing
        row("*.*", "", {"cle/ancien.txt", "cle/vieux.tmp", "cle/VIEUX2.TMP"}); // the fresh copy spared
        row("*.txt", "", {"cle/ancien.txt", "cle/a\\b.txt"}, R"(&& mkdir cle/a 'cle/x\y' && touch 'cle/a\b.txt' cle/a/b.txt 'cle/x\y/in.txt')", "'\\' in names");
        const char *notUtf8 = R"sh(&& cd cle && mkdir "$(printf '\351t\351')" && touch "$(printf '\377\376.txt')" "$(printf '\351t\351/x.txt')")sh";
        row("*.txt", "", {"cle/ancien.txt", "cle/" + NotUtf8}, notUtf8, "not UTF-8: star extension");
        row("??.txt", "", {"cle/" + NotUtf8}, notUtf8, "not UTF-8: a question mark per byte");
    }
    void hostileNames()
    {
        QFETCH(QString, added);
        QFETCH(QString, text);
        QFETCH(QString, message);
        QFETCH(QByteArrayList, deleted);
        const TempTree tree;
        const auto cleanup = qScopeGuard([&] { QProcess::execute("rm", {"-rf", tree.root()}); }); // names Qt cannot spell
        QCOMPARE(QProcess::execute("sh", {"-c", "cd \"$0\" && " + World + added, tree.root()}), 0);
        QVERIFY(QDir::setCurrent(tree.path("source"))); // where the lists start: drive C, in the world
        WindowFixture fixture(&realFiles);
        fixture.arrive(assignDrive(fixture, tree.path("cle")));
        QVERIFY(pickSource(fixture, "cours.pdf"));
        QCOMPARE(entries(*fixture.controls().File1[1]), QStringList({"ancien.txt", "lien.txt", "vieux.tmp", "VIEUX2.TMP"}));
        QCOMPARE(entries(*fixture.controls().Dir1[1]), QStringList({"D:\\a", "D:\\liendossier", "D:\\sub"}).mid(added.contains("cle/a ") ? 0 : 1));
        Entries expected = snapshot(tree.root());
        expected.insert("cle/cours.pdf", expected.value("source/cours.pdf"));
        for (const QByteArray &path : deleted)
            expected.remove(path);

        fixture.controls().FichKill->setText(text.replace("%W", tree.root()));
        fixture.runCopies();
        QCOMPARE(snapshot(tree.root()), expected);
        QVERIFY(showedOnly(fixture.messages, message));
    }

    // Volume notifications carry any 32-bit mask: only a one-bit mask naming a lettered key, for a volume
    // (device type 2, data 0), attaches or frees a slot; any other arrival reports a faulty key.
    void everyUnitMaskIsHandled()
    {
        WindowFixture fixture;
        const TempTree d, e, f;
        fixture.addDrive(d), fixture.arrive(fixture.addDrive(e)), fixture.addDrive(f); // D, E and F, no other; E in slot 1 throughout
        const auto state = [&] { return slotsOf(fixture) + fixture.controls().Text1->text() + QString::number(fixture.messages.shown.size()); };
        const QString start = slotsOf(fixture), device = "/dev/test";
        for (quint32 one = 1; one != 0; one <<= 1) // around each bit: it, one more, the bits below it, it and another bit; all bits
            for (const qint32 mask : {qint32(one), qint32(one + 1), qint32(one - 1), qint32(one | 0x10), -1}) {
                const int bit = qPopulationCount(quint32(mask)) == 1 ? int(qCountTrailingZeroBits(quint32(mask))) : -1; // 3, 4, 5: D, E, F
                const QString before = state();
                for (const auto &[type, data] : {std::pair{2, 1}, {2, 2}, {3, 0}, {0, 0}}) { // a media change, a network volume, no volume
                    fixture.window->SysInfo1_DeviceArrival(type, mask, device, data);
                    fixture.window->SysInfo1_DeviceRemoveComplete(type, mask, device, data);
                }
                QCOMPARE(state(), before); // nothing happened at all

                const qsizetype shown = fixture.messages.shown.size();
                if (bit == 4) // the attached key's own: its going and coming back are the key handlers' own tests
                    continue;
                fixture.window->SysInfo1_DeviceArrival(2, mask, device, 0);
                QCOMPARE(slotsOf(fixture), bit == 3 || bit == 5 ? QString("E* %1* - - - - - -").arg(QChar(u'A' + bit)) : start);
                QCOMPARE(fixture.messages.shown.size(), shown + (bit < 3 || bit > 5)); // any other arrival: a faulty key reported
                fixture.window->SysInfo1_DeviceRemoveComplete(2, mask, device, 0); // never frees E, whatever bits it shares
                // The slot a removal frees keeps the letter "C", and is empty again for the next mask.
                QCOMPARE(slotsOf(fixture).replace(" C ", " - "), start);
                fixture.bas().Lecteur[2].clear();
            }
    }
};

QTEST_MAIN(TestHostileInput)
#include "test_hostile_input.moc"
