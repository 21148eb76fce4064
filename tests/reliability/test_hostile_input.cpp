#include "Reliability.h"
#include "devices/DeviceReport.h"
#include "drives/Failure.h"

#include <QTemporaryDir>
#include <QTest>

#include <bit>
#include <cstdio>
#include <limits>

#include <fcntl.h>
#include <unistd.h>

using namespace Reliability;
using Entries = QMap<QByteArray, QByteArray>;
using Names = QList<QByteArray>;

namespace {

const QByteArray Course = QByteArrayLiteral("le cours du lundi\n");
const QByteArray NotUtf8 = QByteArrayLiteral("\xff\xfe.txt");

struct RealFiles
{
    LinuxFileOperations files;
};

// One folder tree for the whole world a run can reach: the source drive D
// (world/source), the key E (world/cle) in slot 1, and beside them a folder and a
// file that belong to no slot. The key holds files, a subfolder, and links that
// lead out of it.
class World : private RealFiles, public WindowFixture
{
public:
    World() : WindowFixture(&files)
    {
        tree.createFile(QStringLiteral("source/cours.pdf"), Course);
        tree.createFile(QStringLiteral("voisin.txt"), "voisin");
        tree.createFile(QStringLiteral("dehors/secret.txt"), "secret");
        tree.createFile(QStringLiteral("dehors/dossier/interne.txt"), "interne");
        tree.createFile(QStringLiteral("cle/ancien.txt"), "ancien");
        tree.createFile(QStringLiteral("cle/vieux.tmp"), "vieux");
        tree.createFile(QStringLiteral("cle/VIEUX2.TMP"), "vieux 2");
        tree.createFile(QStringLiteral("cle/sub/inner.txt"), "inner");
        tree.createFile(QStringLiteral("cle/sub/profond.tmp"), "profond");
        QFile::link(tree.path(QStringLiteral("dehors/secret.txt")), tree.path(QStringLiteral("cle/lien.txt")));
        QFile::link(tree.path(QStringLiteral("dehors/dossier")), tree.path(QStringLiteral("cle/liendossier")));
        QFile::link(tree.path(QStringLiteral("cle/boucle")), tree.path(QStringLiteral("cle/boucle")));
    }

    // Letters the drives and picks the source: call once the tree holds what the test adds.
    bool start()
    {
        const QChar d = drives.assign(tree.path(QStringLiteral("source")), QStringLiteral("/dev/test"), QStringLiteral("SOURCE"));
        const QChar e = drives.assign(tree.path(QStringLiteral("cle")), QStringLiteral("/dev/test"), QStringLiteral("CLE"));
        for (const QChar letter : {d, e})
            facts[letter] = ScriptedFacts{{}, 1024.0 * 1024 * 1024, 512.0 * 1024 * 1024, std::nullopt};
        controls().Drive1[0]->setDrive(QStringLiteral("D"));
        arrive(e);
        return bas().Lecteur[1] == QLatin1String("E") && pickSource(*this, QStringLiteral("cours.pdf"));
    }

    void run(const QString &toDelete)
    {
        controls().FichKill->setText(toDelete);
        window->LanceCopie_Click();
    }

    QByteArray file(const QString &relative) const { return QFile::encodeName(tree.path(relative)); }

    // Creates a file or folder whose name Qt cannot read back, and removes it with the world.
    bool createRaw(const QByteArray &path, bool folder = false)
    {
        m_raw.prepend(path);
        if (folder)
            return ::mkdir(path.constData(), 0755) == 0;
        const int fd = ::open(path.constData(), O_CREAT | O_WRONLY | O_CLOEXEC, 0644);
        return fd >= 0 && ::close(fd) == 0;
    }
    ~World()
    {
        for (const QByteArray &path : std::as_const(m_raw)) {
            if (::unlink(path.constData()) != 0)
                ::rmdir(path.constData());
        }
    }

    // The world as it should be after a run that copied cours.pdf onto the key and deleted `deleted`.
    static Entries afterRun(Entries before, const Names &deleted)
    {
        before.insert("cle/cours.pdf", fileEntry(Course));
        for (const QByteArray &path : deleted)
            before.remove(path);
        return before;
    }

    TempTree tree;

private:
    QList<QByteArray> m_raw;
};

bool createEmpty(const QByteArray &path)
{
    const int fd = ::open(path.constData(), O_CREAT | O_WRONLY | O_CLOEXEC, 0644);
    return fd >= 0 && ::close(fd) == 0;
}

QString refused()
{
    return describeFailure(FailureNumber::BadFileName);
}

QString notFound()
{
    return describeFailure(FailureNumber::FileNotFound);
}

} // namespace

class TestHostileInput : public QObject
{
    Q_OBJECT

    // The lists start on the working folder, and a slot that cannot reach its key falls
    // back to it: a throw-away one keeps a regression from writing into the build tree.
    QTemporaryDir m_working;

    void checkRun(World &world, const Entries &before, const Names &deleted, const QString &message)
    {
        QCOMPARE(world.status(1), QStringLiteral("Terminé"));
        QCOMPARE(snapshot(world.tree.root()), World::afterRun(before, deleted));
        if (message.isEmpty()) {
            QCOMPARE(world.messages.shown.size(), 0);
        } else {
            QCOMPARE(world.messages.shown.size(), 1);
            QCOMPARE(world.messages.shown[0].prompt, message);
        }
    }

private slots:
    void initTestCase() { QVERIFY(QDir::setCurrent(m_working.path())); }

    // The name typed in "Si nécessaire :" reaches the key's folder and nothing else:
    // a path, a climb or a control character is refused, a wildcard deletes the
    // folder's own files, never a folder, a link, a link's target or a subfolder's file.
    void deleteNameStaysInTheSlotFolder_data()
    {
        QTest::addColumn<QString>("text"); // "%W" stands for the world's native path
        QTest::addColumn<QString>("message");
        QTest::addColumn<Names>("deleted");
        const Names none;
        const Names everyFile{"cle/ancien.txt", "cle/vieux.tmp", "cle/VIEUX2.TMP", "cle/cours.pdf"};
        const struct { const char *row; const char *text; } paths[] = {
            {"parent", ".."}, {"three dots", "..."}, {"dot", "."}, {"parent file", "../voisin.txt"},
            {"parent file, backslash", "..\\voisin.txt"}, {"subfolder file", "sub/inner.txt"},
            {"subfolder file, backslash", "sub\\inner.txt"}, {"climb back", "sub/../ancien.txt"},
            {"drive path", "E:\\ancien.txt"}, {"absolute outside", "%W/dehors/secret.txt"},
            {"absolute inside", "%W/cle/ancien.txt"}, {"absolute beside", "%W/voisin.txt"}, {"dot slash", "./ancien.txt"},
            {"dot backslash", ".\\ancien.txt"}, {"wildcard folder", "*/inner.txt"}, {"wildcard folder, backslash", "*\\*.txt"},
            {"trailing slash", "ancien.txt/"}, {"start of heading", "\x01.txt"}, {"delete", "ancien\x7f.txt"},
            {"newline", "ancien.txt\nvieux.tmp"}, {"tab", "\tancien.txt"}, {"escape sequence", "\x1b[2J.txt"},
            {"substitute", "ancien\x1a.txt"}, {"carriage return", "ancien.txt\r"}};
        for (const auto &path : paths)
            QTest::newRow(path.row) << QString::fromUtf8(path.text) << refused() << none;
        // A colon is part of a name on the key, never a drive.
        QTest::newRow("drive-relative name") << "E:ancien.txt" << notFound() << none;
        QTest::newRow("a link") << "lien.txt" << notFound() << none;
        QTest::newRow("a link to a folder") << "liendossier.*" << notFound() << none;
        QTest::newRow("a looping link") << "boucle.*" << notFound() << none;
        QTest::newRow("a subfolder's file") << "inner.txt" << notFound() << none;
        QTest::newRow("a file outside") << "secret.txt" << notFound() << none;
        QTest::newRow("a file beside the key") << "voisin.txt" << notFound() << none;
        // Without a full stop the run deletes nothing, whatever the text.
        QTest::newRow("no full stop: folder") << "sub" << "" << none;
        QTest::newRow("no full stop: system file") << "/etc/passwd" << "" << none;
        QTest::newRow("no full stop: star") << "*" << "" << none;
        QTest::newRow("star dot star") << "*.*" << "" << everyFile;
        QTest::newRow("star extension") << "*.TMP" << "" << Names{"cle/vieux.tmp", "cle/VIEUX2.TMP"};
        QTest::newRow("question marks") << "??????.txt" << "" << Names{"cle/ancien.txt"};
    }
    void deleteNameStaysInTheSlotFolder()
    {
        QFETCH(QString, text);
        QFETCH(QString, message);
        QFETCH(Names, deleted);
        World world;
        QVERIFY(world.start());
        text.replace(QStringLiteral("%W"), world.tree.root());
        const Entries before = snapshot(world.tree.root());

        world.run(text);
        QCOMPARE(world.controls().FichKill->text(), text); // the control kept the text as typed
        checkRun(world, before, deleted, message);
    }

    // A link in the key's folder named like the copy: the copy takes the link's
    // place and whatever it pointed to stays as it was.
    void linkNamedLikeTheCopyIsReplaced_data()
    {
        QTest::addColumn<QString>("target"); // below the world
        QTest::newRow("to a file outside") << "dehors/secret.txt";
        QTest::newRow("to a folder outside") << "dehors/dossier";
        QTest::newRow("to the source itself") << "source/cours.pdf";
        QTest::newRow("to nothing") << "dehors/absent.pdf";
        QTest::newRow("to itself") << "cle/cours.pdf";
    }
    void linkNamedLikeTheCopyIsReplaced()
    {
        QFETCH(QString, target);
        World world;
        QVERIFY(QFile::link(world.tree.path(target), world.tree.path(QStringLiteral("cle/cours.pdf"))));
        QVERIFY(world.start());
        const Entries before = snapshot(world.tree.root());

        world.run(QString());
        QCOMPARE(before.value("cle/cours.pdf"), "l " + QFile::encodeName(world.tree.path(target)));
        checkRun(world, before, {}, {});
    }

    // A name holding '\' is one name: the lists leave it out, a deletion never reads it as a path.
    void backslashIsPartOfAName_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("message");
        QTest::addColumn<Names>("deleted");
        QTest::newRow("the name itself") << "a\\b.txt" << refused() << Names();
        QTest::newRow("its last part") << "b.txt" << notFound() << Names();
        QTest::newRow("a folder's file by the same path") << "in.txt" << notFound() << Names();
        QTest::newRow("star extension") << "*.txt" << "" << Names{"cle/ancien.txt", "cle/a\\b.txt"};
    }
    void backslashIsPartOfAName()
    {
        QFETCH(QString, text);
        QFETCH(QString, message);
        QFETCH(Names, deleted);
        World world;
        world.tree.createFile(QStringLiteral("cle/a\\b.txt"), "ab");
        world.tree.createFile(QStringLiteral("cle/a/b.txt"), "a/b");
        world.tree.createFile(QStringLiteral("cle/x\\y/in.txt"), "in");
        QVERIFY(world.start());
        const QStringList files = listed(*world.controls().File1[1]);
        QCOMPARE(files, QStringList({"ancien.txt", "lien.txt", "vieux.tmp", "VIEUX2.TMP"}));
        FolderList &folders = *world.controls().Dir1[1];
        QStringList subfolders;
        for (int n = 0; n < folders.listCount(); ++n)
            subfolders << folders.list(n);
        QCOMPARE(subfolders, QStringList({"E:\\a", "E:\\liendossier", "E:\\sub"}));
        const Entries before = snapshot(world.tree.root());

        world.run(text);
        checkRun(world, before, deleted, message);
    }

    // Names that are not UTF-8, in the source folder, in the key and in the key's
    // subfolders: the lists leave them out, the copy and the deletion go on.
    void namesThatAreNotUtf8_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("message");
        QTest::addColumn<Names>("deleted");
        QTest::newRow("star extension") << "*.txt" << "" << Names{"cle/ancien.txt", "cle/" + NotUtf8};
        QTest::newRow("one question mark per byte") << "??.txt" << "" << Names{"cle/" + NotUtf8};
        QTest::newRow("read as latin-1") << "ÿþ.txt" << notFound() << Names();
        QTest::newRow("read as replacement characters") << "\uFFFD\uFFFD.txt" << notFound() << Names();
    }
    void namesThatAreNotUtf8()
    {
        QFETCH(QString, text);
        QFETCH(QString, message);
        QFETCH(Names, deleted);
        World world;
        QVERIFY(world.createRaw(world.file(QStringLiteral("cle/")) + NotUtf8));
        QVERIFY(world.createRaw(world.file(QStringLiteral("cle/")) + "\xe9t\xe9", true));
        QVERIFY(world.createRaw(world.file(QStringLiteral("cle/")) + "\xe9t\xe9/x.txt"));
        QVERIFY(world.createRaw(world.file(QStringLiteral("source/")) + "\xe9t\xe9.pdf"));
        QVERIFY(world.start());
        QCOMPARE(listed(*world.controls().File1[0]), QStringList({"cours.pdf"}));
        QCOMPARE(listed(*world.controls().File1[1]), QStringList({"ancien.txt", "lien.txt", "vieux.tmp", "VIEUX2.TMP"}));
        const Entries before = snapshot(world.tree.root());

        world.run(text);
        checkRun(world, before, deleted, message);
        QVERIFY(listed(*world.controls().File1[1]).contains(QStringLiteral("cours.pdf")));
    }

    // A key whose folder cannot be listed (here: a name that is not UTF-8, which the
    // drive table cannot spell, or a folder gone; for a user, a root it may not read):
    // nothing is written or deleted anywhere, not in the folder the slot's lists fall
    // back to. The test runs in a working folder of its own, which that fallback reaches.
    void keyWhoseFolderCannotBeRead_data()
    {
        QTest::addColumn<bool>("notUtf8");
        QTest::newRow("name not UTF-8") << true;
        QTest::newRow("folder gone") << false;
    }
    void keyWhoseFolderCannotBeRead()
    {
        QFETCH(bool, notUtf8);
        TempTree tree;
        const QString work = tree.createDir(QStringLiteral("travail"));
        tree.createFile(QStringLiteral("travail/important.txt"), "important");
        tree.createFile(QStringLiteral("source/cours.pdf"), Course);
        const QByteArray keyRoot = QFile::encodeName(tree.root()) + (notUtf8 ? "/cl\xe9" : "/partie");
        if (notUtf8)
            QVERIFY(::mkdir(keyRoot.constData(), 0755) == 0);
        struct WorkingFolder
        {
            QString previous = QDir::currentPath();
            ~WorkingFolder() { QDir::setCurrent(previous); }
        } restore;
        QVERIFY(QDir::setCurrent(work));

        World world;
        const QChar d = world.drives.assign(tree.path(QStringLiteral("source")), QStringLiteral("/dev/test"));
        const QChar e = world.drives.assign(QFile::decodeName(keyRoot), QStringLiteral("/dev/test"));
        for (const QChar letter : {d, e})
            world.facts[letter] = ScriptedFacts{{}, 1024.0 * 1024 * 1024, 512.0 * 1024 * 1024, std::nullopt};
        world.controls().Drive1[0]->setDrive(QStringLiteral("D"));
        QVERIFY(pickSource(world, QStringLiteral("cours.pdf")));
        world.arrive(e);
        const Entries before = snapshot(tree.root());

        world.run(QStringLiteral("*.*"));
        const Entries after = snapshot(tree.root());
        if (notUtf8)
            ::rmdir(keyRoot.constData());
        QCOMPARE(after, before);
        QVERIFY(world.status(1) != QStringLiteral("Terminé"));
    }

    void hundredThousandFiles()
    {
        World world;
        const QByteArray key = world.file(QStringLiteral("cle"));
        for (int i = 0; i < 100000; ++i) {
            char name[32];
            std::snprintf(name, sizeof name, "/f%06d.%s", i, i % 10 == 0 ? "tmp" : "dat");
            QVERIFY(createEmpty(key + name));
        }
        QVERIFY(world.start());
        QCOMPARE(world.controls().File1[1]->listCount(), 100000 + 4);

        world.run(QStringLiteral("*.tmp"));
        QCOMPARE(world.status(1), QStringLiteral("Terminé"));
        QVERIFY(world.messages.shown.isEmpty());
        QCOMPARE(QDir(world.tree.path(QStringLiteral("cle"))).entryList({QStringLiteral("*.tmp")}, QDir::Files, QDir::IgnoreCase),
                 QStringList());
        QCOMPARE(TempTree::read(world.tree.path(QStringLiteral("cle/cours.pdf"))), Course);
        QVERIFY(QFile::exists(world.tree.path(QStringLiteral("cle/sub/profond.tmp"))));
        // The list was read again: the 90,000 other files, ancien.txt, the link and the copy.
        FileList &list = *world.controls().File1[1];
        QCOMPARE(list.listCount(), 90000 + 3);
        QCOMPARE(list.list(0), QStringLiteral("ancien.txt"));
        QCOMPARE(list.list(1), QStringLiteral("cours.pdf"));
        QCOMPARE(list.list(2), QStringLiteral("f000001.dat"));
        QCOMPARE(list.list(90001), QStringLiteral("f099999.dat"));
        QCOMPARE(list.list(90002), QStringLiteral("lien.txt"));
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
        QList<qint32> masks;
        for (int bit = 0; bit < 32; ++bit) {
            const quint32 one = quint32(1) << bit;
            masks << qint32(one) << qint32(one + 1) << qint32(one - 1) << qint32(one | 0x10);
        }
        for (quint32 i = 0; i < 2000; ++i)
            masks << qint32(i * 2147483u + i % 97);
        masks << 0 << -1 << std::numeric_limits<qint32>::min() << std::numeric_limits<qint32>::max();

        // A slot without a key: its letter ("" never used, "C" freed) and folder mean nothing.
        const auto table = [&fixture] {
            QStringList rows;
            for (int i = 1; i <= 8; ++i) {
                const bool occupied = fixture.bas().Occupee[i] != FlagFalse;
                rows << QStringLiteral("%1 %2 %3 %4").arg(fixture.bas().Occupee[i])
                            .arg(occupied ? fixture.bas().Lecteur[i] : QString())
                            .arg(fixture.bas().Cochee[i]).arg(occupied ? fixture.bas().CheminDest[i] : QString());
            }
            return rows;
        };
        const QStringList start = table();
        int attached = 0, refusedMasks = 0;
        for (const qint32 mask : std::as_const(masks)) {
            const quint32 bits = quint32(mask);
            const QChar letter = std::popcount(bits) == 1 && bits < (1u << 26) ? QChar(u'A' + std::countr_zero(bits)) : QChar();
            const qsizetype shown = fixture.messages.shown.size();
            const QString text = fixture.controls().Text1->text();

            // Not a volume, or a network volume: nothing happens at all.
            fixture.window->SysInfo1_DeviceArrival(3, mask, QStringLiteral("/dev/test"), 0);
            fixture.window->SysInfo1_DeviceArrival(2, mask, QStringLiteral("/dev/test"), 2);
            fixture.window->SysInfo1_DeviceRemoveComplete(0, mask, QStringLiteral("/dev/test"), 0);
            fixture.window->SysInfo1_DeviceRemoveComplete(2, mask, QStringLiteral("/dev/test"), 1);
            QCOMPARE(fixture.messages.shown.size(), shown);
            QCOMPARE(fixture.controls().Text1->text(), text);
            QCOMPARE(table(), start);

            if (letter == QLatin1Char('E')) {
                // The attached key goes and comes back to its slot.
                fixture.window->SysInfo1_DeviceRemoveComplete(2, mask, QStringLiteral("/dev/test"), 0);
                QCOMPARE(fixture.bas().Occupee[1], FlagFalse);
                fixture.window->SysInfo1_DeviceArrival(2, mask, QStringLiteral("/dev/test"), 0);
                ++attached;
            } else if (letter == QLatin1Char('D') || letter == QLatin1Char('F')) {
                fixture.window->SysInfo1_DeviceArrival(2, mask, QStringLiteral("/dev/test"), 0);
                QCOMPARE(fixture.bas().Lecteur[2], QString(letter));
                QCOMPARE(fixture.bas().Occupee[2], FlagTrue);
                fixture.window->SysInfo1_DeviceRemoveComplete(2, mask, QStringLiteral("/dev/test"), 0);
                QCOMPARE(fixture.bas().Occupee[2], FlagFalse);
                QCOMPARE(fixture.bas().Lecteur[2], QStringLiteral("C"));
                ++attached;
            } else {
                // No key with that letter: the arrival reports a faulty key and attaches nothing.
                fixture.window->SysInfo1_DeviceArrival(2, mask, QStringLiteral("/dev/test"), 0);
                QCOMPARE(fixture.messages.shown.size(), shown + 1);
                QVERIFY(fixture.messages.shown.last().prompt.endsWith(QStringLiteral("Cette clé semble défectueuse !")));
                QCOMPARE(table(), start);
                fixture.window->SysInfo1_DeviceRemoveComplete(2, mask, QStringLiteral("/dev/test"), 0);
                ++refusedMasks;
            }
            QCOMPARE(table(), start);
        }
        qInfo("%lld masks: %d named a key, %d were refused", qlonglong(masks.size()), attached, refusedMasks);
    }
};

QTEST_MAIN(TestHostileInput)
#include "test_hostile_input.moc"
