#include "Reliability.h"
#include "drives/Failure.h"
#include "support/WindowChecks.h"

#include <QProcess>

#include <bit>

#include <fcntl.h>

using namespace Reliability;
using Names = QList<QByteArray>;
using namespace Qt::StringLiterals;

namespace {

const QByteArray Course = QByteArrayLiteral("le cours du lundi\n");
const QByteArray NotUtf8 = QByteArrayLiteral("\xff\xfe.txt");
LinuxFileOperations realFiles; // holds no state

// One folder tree for the whole world a run can reach: the source drive D
// (world/source), the key E (world/cle) in slot 1, and beside them a folder and a
// file that belong to no slot. The key holds files, a subfolder, and links that
// lead out of it.
class World : public WindowFixture
{
public:
    World() : WindowFixture(&realFiles)
    {
        for (const char *path : {"voisin.txt", "dehors/secret.txt", "dehors/dossier/interne.txt", "cle/ancien.txt", "cle/vieux.tmp",
                                 "cle/VIEUX2.TMP", "cle/sub/inner.txt", "cle/sub/profond.tmp"})
            tree.createFile(QString::fromUtf8(path), path);
        tree.createFile(QStringLiteral("source/cours.pdf"), Course);
        for (const auto &[target, link] : {std::pair{"dehors/secret.txt", "cle/lien.txt"}, {"dehors/dossier", "cle/liendossier"}, {"cle/boucle", "cle/boucle"}})
            QFile::link(tree.path(QString::fromUtf8(target)), tree.path(QString::fromUtf8(link)));
    }
    // Qt cannot remove names it cannot spell.
    ~World() { QProcess::execute(QStringLiteral("rm"), {QStringLiteral("-rf"), tree.root()}); }

    // Letters the drives, picks the source and attaches the key: once the tree holds what the test adds.
    bool start(const QString &key = QStringLiteral("cle"))
    {
        assignDrive(*this, tree.path(QStringLiteral("source")), QStringLiteral("SOURCE"));
        const QChar e = assignDrive(*this, tree.path(key), QStringLiteral("CLE"));
        controls().Drive1[0]->setDrive(QStringLiteral("D"));
        arrive(e);
        return pickSource(*this, QStringLiteral("cours.pdf"));
    }
    void run(const QString &toDelete)
    {
        controls().FichKill->setText(toDelete);
        window->LanceCopie_Click();
        QVERIFY(QTest::qWaitFor([this] { return !window->isCopying(); }, 20000));
    }

    // Creates below the world an empty file, or a folder if the path ends with '/', whose name Qt may not spell.
    bool createRaw(QByteArray path)
    {
        path.prepend(QFile::encodeName(tree.root()) + '/');
        const int fd = path.endsWith('/') ? ::mkdir(path.constData(), 0755) : ::open(path.constData(), O_CREAT | O_WRONLY | O_CLOEXEC, 0644);
        return fd >= 0 && (path.endsWith('/') || ::close(fd) == 0);
    }

    TempTree tree;
};

} // namespace

class TestHostileInput : public QObject
{
    Q_OBJECT

    // The lists start on the working folder, and a slot that cannot reach its key falls
    // back to it: a throw-away one keeps a regression from writing into the build tree.
    QTemporaryDir m_working;
    const QString m_saved = QDir::currentPath();

private slots:
    void initTestCase()
    {
        QVERIFY(QDir::setCurrent(m_working.path()));
        QVERIFY(QFile(m_working.filePath(QStringLiteral("important.txt"))).open(QIODevice::WriteOnly));
    }
    void cleanupTestCase() { QDir::setCurrent(m_saved); }

    // The name typed in "Si nécessaire :" reaches the key's folder and nothing else: a path,
    // a climb or a control character is refused, a wildcard deletes the folder's own files,
    // never a folder, a link, a link's target or a subfolder's file. Some rows first add to the key:
    // a link named like the copy, which the copy replaces, leaving what it pointed to as it was;
    // names holding '\', which the lists leave out and a deletion never reads as a path;
    // names that are not UTF-8, which the lists leave out while the copy and the deletion go on.
    void hostileNames_data()
    {
        QTest::addColumn<Names>("added"); // createRaw() paths, or "->" and the target, below the world, of a link named like the copy
        QTest::addColumn<QString>("text"); // "%W" stands for the world's native path
        QTest::addColumn<QString>("message");
        QTest::addColumn<Names>("deleted");
        const QString refused = describeFailure(FailureNumber::BadFileName), notFound = describeFailure(FailureNumber::FileNotFound);
        const auto row = [](const char *name, const QString &text, const QString &message, const Names &deleted, const Names &added = {}) {
            QTest::newRow(name) << added << text << message << deleted;
        };
        for (const auto &[name, text] : {std::pair{"climb", "../voisin.txt"}, {"slash", "sub/inner.txt"}, {"backslash", "sub\\inner.txt"},
                                         {"absolute path", "%W/dehors/secret.txt"}, {"drive path", "E:\\ancien.txt"}, {"control character", "ancien.txt\nvieux.tmp"}})
            row(name, QString::fromUtf8(text), refused, {});
        row("a link", "lien.txt", notFound, {});
        row("a link to a folder", "liendossier.*", notFound, {});
        row("a subfolder's file", "inner.txt", notFound, {});
        row("a file outside", "secret.txt", notFound, {});
        row("no full stop", "*", "", {});
        row("star dot star, the fresh copy spared", "*.*", "", {"cle/ancien.txt", "cle/vieux.tmp", "cle/VIEUX2.TMP"});
        row("star extension", "*.TMP", "", {"cle/vieux.tmp", "cle/VIEUX2.TMP"});
        row("question marks", "??????.txt", "", {"cle/ancien.txt"});
        row("copy over a link to a file", "", "", {}, {"->dehors/secret.txt"});
        row("copy over a link to a folder", "", "", {}, {"->dehors/dossier"});
        const Names backslash{"cle/a\\b.txt", "cle/a/", "cle/a/b.txt", "cle/x\\y/", "cle/x\\y/in.txt"};
        row("'\\' in a name: its last part", "b.txt", notFound, {}, backslash);
        row("'\\' in a name: star extension", "*.txt", "", {"cle/ancien.txt", "cle/a\\b.txt"}, backslash);
        const Names notUtf8{"cle/" + NotUtf8, "cle/\xe9t\xe9/", "cle/\xe9t\xe9/x.txt", "source/\xe9t\xe9.pdf"};
        row("not UTF-8: star extension", "*.txt", "", {"cle/ancien.txt", "cle/" + NotUtf8}, notUtf8);
        row("not UTF-8: a question mark per byte", "??.txt", "", {"cle/" + NotUtf8}, notUtf8);
    }
    void hostileNames()
    {
        QFETCH(Names, added);
        QFETCH(QString, text);
        QFETCH(QString, message);
        QFETCH(Names, deleted);
        World world;
        const bool link = added.value(0).startsWith("->");
        for (const QByteArray &path : added)
            QVERIFY(link ? QFile::link(world.tree.path(QString::fromUtf8(path.mid(2))), world.tree.path(QStringLiteral("cle/cours.pdf")))
                         : world.createRaw(path));
        QVERIFY(world.start());
        if (!link) {
            QCOMPARE(entries(*world.controls().File1[0]), QStringList{"cours.pdf"});
            QCOMPARE(entries(*world.controls().File1[1]), QStringList({"ancien.txt", "lien.txt", "vieux.tmp", "VIEUX2.TMP"}));
            QCOMPARE(entries(*world.controls().Dir1[1]), QStringList({"E:\\a", "E:\\liendossier", "E:\\sub"}).mid(added.contains("cle/a/") ? 0 : 1));
        }
        text.replace(QStringLiteral("%W"), world.tree.root());
        Entries expected = snapshot(world.tree.root());
        expected.insert("cle/cours.pdf", fileEntry(Course));
        for (const QByteArray &path : deleted)
            expected.remove(path);

        world.run(text);
        QCOMPARE(world.status(1), QStringLiteral("Terminé"));
        QCOMPARE(snapshot(world.tree.root()), expected);
        QVERIFY(showedOnly(world.messages, message));
        QCOMPARE(entries(*world.controls().File1[1]).contains(QStringLiteral("cours.pdf")), !deleted.contains("cle/cours.pdf")); // read again
    }

    // A key whose folder cannot be listed (here: a name that is not UTF-8, which the
    // drive table cannot spell, or a folder gone; for a user, a root it may not read):
    // nothing is written or deleted anywhere, not in the working folder, where the slot's lists start.
    void keyWhoseFolderCannotBeRead_data()
    {
        QTest::addColumn<QByteArray>("key");
        QTest::newRow("name not UTF-8") << QByteArray("cl\xe9/");
        QTest::newRow("folder gone") << QByteArray("partie/");
    }
    void keyWhoseFolderCannotBeRead()
    {
        QFETCH(QByteArray, key);
        World world;
        QVERIFY(key.startsWith("partie") || world.createRaw(key));
        QVERIFY(world.start(QFile::decodeName(key.chopped(1))));
        const Entries before = snapshot(world.tree.root()), working = snapshot(m_working.path());
        world.run(QStringLiteral("*.*"));
        QCOMPARE(snapshot(world.tree.root()), before);
        QCOMPARE(snapshot(m_working.path()), working);
        QVERIFY(world.status(1) != QStringLiteral("Terminé"));
    }

    // Run alone, under the label "slow", by the test of that name.
    void hundredThousandFiles()
    {
        if (!qEnvironmentVariableIsSet("ESSAIMEUR_SLOW_TESTS"))
            QSKIP("slow: run by test_reliability_hundred_thousand_files");
        World world;
        for (int i = 0; i < 100000; ++i)
            QVERIFY(world.createRaw("cle/f" + QByteArray::number(i).rightJustified(6, '0') + (i % 10 ? ".dat" : ".tmp")));
        QVERIFY(world.start());
        QCOMPARE(world.controls().File1[1]->listCount(), 100000 + 4);

        world.run(QStringLiteral("*.tmp"));
        QCOMPARE(world.status(1), QStringLiteral("Terminé"));
        QVERIFY(world.messages.shown.isEmpty());
        const QDir key(world.tree.path(QStringLiteral("cle")));
        QCOMPARE(key.entryList({QStringLiteral("*.tmp")}, QDir::Files, QDir::IgnoreCase), QStringList());
        QCOMPARE(TempTree::read(key.filePath(QStringLiteral("cours.pdf"))), Course);
        QVERIFY(key.exists(QStringLiteral("sub/profond.tmp")));
        // The list was read again: the 90,000 other files, ancien.txt, the copy and the link.
        QCOMPARE(world.controls().File1[1]->listCount(), 90000 + 3);
    }

    // Volume notifications carry any 32-bit mask: only a one-bit mask naming a
    // lettered key attaches or frees a slot; every other mask leaves the slots
    // as they were, whatever it has in common with an attached key's bit.
    void everyUnitMaskIsHandled()
    {
        WindowFixture fixture;
        TempTree d, e, f;
        for (TempTree *tree : {&d, &e, &f})
            fixture.addDrive(*tree); // D, E and F; no other letter has a drive
        fixture.arrive(QLatin1Char('E')); // stays in slot 1 throughout
        QList<qint32> masks{0, -1, qint32(0x80000000u), 0x7fffffff};
        for (quint32 bit = 0, one = 1; bit < 32; ++bit, one <<= 1)
            masks << qint32(one) << qint32(one + 1) << qint32(one - 1) << qint32(one | 0x10);
        for (quint32 i = 0; i < 500; ++i)
            masks << qint32(i * 8589869u + i % 97);

        const QString start = slotsOf(fixture), device = QStringLiteral("/dev/test");
        for (const qint32 mask : std::as_const(masks)) {
            const quint32 bits = quint32(mask);
            const QChar letter = std::popcount(bits) == 1 && bits < (1u << 26) ? QChar(u'A' + std::countr_zero(bits)) : QChar();
            const qsizetype shown = fixture.messages.shown.size();
            const QString text = fixture.controls().Text1->text();
            // Not a volume, a media change or a network volume: nothing happens at all.
            for (const qint32 data : {1, 2}) {
                fixture.window->SysInfo1_DeviceArrival(2, mask, device, data);
                fixture.window->SysInfo1_DeviceRemoveComplete(2, mask, device, data);
            }
            fixture.window->SysInfo1_DeviceArrival(3, mask, device, 0);
            fixture.window->SysInfo1_DeviceRemoveComplete(0, mask, device, 0);
            QCOMPARE(fixture.messages.shown.size(), shown);
            QCOMPARE(fixture.controls().Text1->text(), text);
            QCOMPARE(slotsOf(fixture), start);

            const bool attached = letter == u'E', known = attached || letter == u'D' || letter == u'F';
            if (attached) // the attached key goes, then comes back to its slot
                fixture.window->SysInfo1_DeviceRemoveComplete(2, mask, device, 0);
            fixture.window->SysInfo1_DeviceArrival(2, mask, device, 0);
            QCOMPARE(slotsOf(fixture), known ? u"E* "_s + (attached ? u"-"_s : QString(letter) + u'*') + u" - - - - - -"_s : start);
            // A letter without a key: the arrival reports a faulty key and attaches nothing.
            QCOMPARE(fixture.messages.shown.size(), shown + !known);
            QVERIFY(known || fixture.messages.shown.last().prompt.endsWith(QStringLiteral("Cette clé semble défectueuse !")));
            if (!attached)
                fixture.window->SysInfo1_DeviceRemoveComplete(2, mask, device, 0);
            // The slot a removal frees keeps the letter "C", and is empty again for the next mask.
            QCOMPARE(slotsOf(fixture).replace(u" C "_s, u" - "_s), start);
            fixture.bas().Lecteur[2].clear();
        }
    }
};

QTEST_MAIN(TestHostileInput)
#include "test_hostile_input.moc"
