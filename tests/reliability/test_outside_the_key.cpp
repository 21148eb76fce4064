#include "Reliability.h"
#include "devices/LinuxDriveFacts.h"
#include "devices/MountWatcher.h"
#include "drives/DrivePath.h"
#include "support/FailureOf.h"
#include "support/Mounts.h"

#include <csignal>
#include <future>
#include <sys/file.h>
#include <sys/wait.h>

using namespace Reliability;

namespace {

// The real operations; with a fault set, copies to other keys than the second wait until
// the fault has struck the second, a quarter into its copy.
struct FaultOnSecondKey : LinuxFileOperations
{
    QString secondKey;
    std::function<bool()> fault; ///< false when it could not be done
    std::promise<bool> strike;
    std::shared_future<bool> struck = strike.get_future().share();
    void copyFile(const QString &source, const QString &target, const Progress &progress, const KeyBounds &bounds, std::stop_token stop) override
    {
        const bool second = target.startsWith(secondKey + u'/');
        if (fault && !second)
            struck.wait_for(std::chrono::seconds(20));
        LinuxFileOperations::copyFile(source, target, [&, fired = false](qint64 done, qint64 total) mutable {
            progress(done, total);
            if (second && fault && !fired && done * 4 >= total)
                fired = true, strike.set_value(fault());
        }, bounds, stop);
    }
};

// The window on the real watcher and engine; keys are mounted below a media folder of the
// test's private namespace, beside a folder that stands for the system disk, which holds
// the files to copy.
struct World
{
    World(const QString &kind, const QString &source) : kind(kind), source(source)
    {
        for (const QString name : {"dossier/vieux.tmp", "cours.txt", "a?b.txt", "cours.bin"})
            tree.createFile("system/" + name, name == u"cours.bin" ? Large : name == u"dossier/vieux.tmp" ? "x" : Course);
        watcher.start();
        start();
    }
    void start() { window = std::make_unique<Copieur>(Copieur::Services{drives, messages, fileSystem, files, &watcher}); }
    Controls &controls() { return window->controls(); }
    // Mounts a key of 24 MiB (or `size` for tmpfs) holding `content` under the source's name,
    // and waits until it has a letter.
    QChar plug(const QString &name, const QByteArray &content = TempTree::random(14 << 20), const QString &size = "24m")
    {
        const QString dir = tree.createDir("media/" + name), image = tree.path(name + ".img");
        const bool done = kind == u"tmpfs" ? Mounts::mountTmpfs(dir, size) : Mounts::mountImage(kind, image, 24, dir);
        mounted.prepend(dir);
        tree.createFile("media/" + name + u'/' + source, content); // exFAT refuses some names
        return done && QTest::qWaitFor([&] { return !drives.letterOfRoot(dir).isNull(); }, 5000) ? drives.letterOfRoot(dir) : QChar();
    }
    bool pull(const QString &name) { return Mounts::unmount(key(name)) && QTest::qWaitFor([&] { return letter(name).isNull(); }, 5000); }
    QString key(const QString &name) const { return tree.path("media/" + name); }
    QChar letter(const QString &name) const { return drives.letterOfRoot(key(name)); }
    bool pickSource(const QString &folder)
    {
        const QString drivePath = DrivePath::fromNative(folder, drives);
        controls().Drive1[0]->setDrive(drivePath.left(1));
        controls().Dir1[0]->setPath(drivePath);
        return pick(*this, 0, source);
    }

    static inline const QByteArray Course = "le cours\n", Large = TempTree::random(12 << 20);
    TempTree tree;
    const QString system = tree.createDir("system"), media = tree.createDir("media"), kind, source;
    QByteArray removed; ///< a file of the system disk that the fault deletes
    DriveTable drives;
    MountWatcher watcher{drives, {media}};
    ScriptedMessages messages;
    FaultOnSecondKey files;
    Copieur::FileSystemObjectFactory fileSystem = [this] { return std::make_unique<LinuxFileSystemObject>(drives); };
    MountedDirs mounted;
    std::unique_ptr<Copieur> window;
};

// What a scenario does before the run, once the window is up and the source picked on the
// system disk; a key CLE1 is then plugged if it did not.
using SetUp = std::function<void(World &)>;

// Three keys CLE1 to CLE3, the second of `size`, on slots 1 to 3.
void threeKeys(World &w, const QString &size = "24m")
{
    for (int i = 1; i <= 3; ++i)
        QVERIFY(!w.plug(QStringLiteral("CLE%1").arg(i), "la version d'avant", i == 2 ? size : "24m").isNull());
    w.files.secondKey = w.key("CLE2");
}

} // namespace

// Scenarios a hostile user or machine plays: whatever happens, nothing outside the keys
// changes; each key's slot ends as told, with its key holding the new file or its old
// content, and the run reports what it should.
class TestOutsideTheKey : public QObject
{
    Q_OBJECT

private slots:
    void init() { REQUIRE_PRIVATE_MOUNTS(); }

    void scenarios_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("source");
        QTest::addColumn<SetUp>("setUp");
        QTest::addColumn<QString>("ends"); // per key: '+' new file, '-' failed keeping the old one, '0' failed on a bare folder
        QTest::addColumn<int>("message");
        QTest::newRow("a link on the key to a system folder") << "tmpfs" << "cours.txt" << SetUp([](World &w) {
            QVERIFY(!w.plug("CLE1").isNull() && QFile::link(w.tree.path("system/dossier"), w.key("CLE1") + "/Cours"));
            w.controls().Dir1[1]->setPath(w.window->bas().Lecteur[1] + ":\\Cours");
            w.controls().FichKill->setText("*.tmp");
        }) << "-" << 76;
        QTest::newRow("a bind mount of a system folder is no key") << "tmpfs" << "cours.txt" << SetUp([](World &w) {
            w.mounted << w.tree.createDir("media/LIEN");
            QVERIFY(Mounts::run("mount", {"--bind", w.tree.path("system/dossier"), w.mounted.last()}));
            w.controls().FichKill->setText("*.tmp");
        }) << "+" << 53;
        QTest::newRow("the source key swapped at its letter") << "tmpfs" << "cours.txt" << SetUp([](World &w) {
            QCOMPARE(w.plug("A", "la nouvelle version"), u'D');
            QVERIFY(w.pickSource(w.key("A")) && w.pull("A") && !w.plug("CLE1", "une ancienne version").isNull());
        }) << "-" << 71;
        // There before the program: a letter, no slot; then pulled.
        QTest::newRow("a key arriving at the letter its slot shows") << "tmpfs" << "cours.txt" << SetUp([](World &w) {
            QVERIFY(!w.plug("ANCIENNE").isNull());
            w.tree.createDir("media/ANCIENNE/Vieux");
            w.window.reset(); // it lets the watcher go
            w.start();
            w.controls().Drive1[1]->setDrive("D");
            QVERIFY(w.pull("ANCIENNE") && !w.plug("CLE1").isNull() && w.pickSource(w.system));
        }) << "+" << 0;
        QTest::newRow("an overwrite that fits in place only, ext4") << "ext4" << "cours.bin" << SetUp() << "+" << 0;
        QTest::newRow("an overwrite that fits in place only, exFAT") << "exfat" << "cours.bin" << SetUp() << "+" << 0;
        QTest::newRow("the source on the key, its name to delete") << "tmpfs" << "cours.txt" << SetUp([](World &w) {
            QVERIFY(!w.plug("CLE1", World::Course).isNull() && w.pickSource(w.key("CLE1")));
            w.controls().FichKill->setText("cours.txt");
        }) << "+" << 53;
        QTest::newRow("a name exFAT refuses") << "exfat" << "a?b.txt" << SetUp() << "-" << 52;
        // A fault during a run over three keys: the faulty slot fails and keeps its previous
        // file, the others are copied, and the run reports the last failure.
        QTest::newRow("key 2 fills up") << "tmpfs" << "cours.bin" << SetUp([](World &w) { threeKeys(w, "8m"); }) << "+-+" << 61;
        // The open source is read to its end: slot 2 still gets the whole file.
        QTest::newRow("source deleted while slot 2 copies") << "tmpfs" << "cours.bin" << SetUp([](World &w) {
            threeKeys(w);
            w.files.fault = [source = QFile::encodeName(w.system + "/cours.bin")] { return ::unlink(source) == 0; };
            w.removed = "cours.bin";
        }) << "-+-" << 53;
        // Its mount point left behind is a bare folder of the system disk, which gets nothing;
        // the pulled key's slot fails, then is freed once the run lets its removal through.
        QTest::newRow("key 3 pulled out while slot 2 copies") << "tmpfs" << "cours.bin" << SetUp([](World &w) {
            threeKeys(w);
            w.files.fault = [third = QFile::encodeName(w.key("CLE3"))] { return ::umount2(third, 0) == 0; };
        }) << "++0" << 71;
    }
    void scenarios()
    {
        QFETCH(QString, kind);
        QFETCH(QString, source);
        QFETCH(SetUp, setUp);
        QFETCH(QString, ends);
        QFETCH(int, message);
        World world(kind, source);
        QVERIFY(world.pickSource(world.system));
        if (setUp)
            setUp(world);
        QVERIFY(!world.letter("CLE1").isNull() || !world.plug("CLE1").isNull());
        QList<Entries> keys;
        for (int i = 1; i <= ends.size(); ++i)
            keys << snapshot(world.key(QStringLiteral("CLE%1").arg(i)));
        Entries system = snapshot(world.system);
        system.remove(world.removed);

        world.window->LanceCopie_Click();
        QVERIFY(QTest::qWaitFor([&] { return !world.window->isCopying(); }, 30000));
        QCOMPARE(snapshot(world.system), system);
        QVERIFY(world.letter("LIEN").isNull());
        QVERIFY(!world.controls().Dir1[1]->list(0).endsWith("Vieux")); // the old key's folders are gone
        QVERIFY(showedOnly(world.messages, message ? describeFailure(message) : QString()));
        for (int i = 1; i <= keys.size(); ++i) {
            const char16_t c = ends[i - 1].unicode();
            QCOMPARE(world.controls().Controle[i]->caption(), c == u'+' ? u"Terminé" : c == u'-' ? u"Échec" : u"inactif");
            if (c == u'+')
                keys[i - 1][QFile::encodeName(source)] = fileEntry(source == u"cours.bin" ? World::Large : World::Course);
            QCOMPARE(snapshot(world.key(QStringLiteral("CLE%1").arg(i))), c == u'0' ? Entries() : keys[i - 1]);
        }
    }

    // A session ending mid-copy leaves no temporary file; one left by a harder death goes
    // at the next copy into that folder, unless a running copy holds it.
    void noLeftovers()
    {
        const TempTree tree;
        const QString source = tree.createFile("cours.bin", TempTree::random(8 << 20)), key = tree.createDir("cle");
        tree.createFile("cle/.essaimeur-mort0000000.tmp");
        const int lock = ::open(QFile::encodeName(tree.createFile("cle/.essaimeur-vivant00000.tmp")).constData(), O_RDONLY | O_CLOEXEC);
        QVERIFY(lock >= 0 && ::flock(lock, LOCK_EX) == 0);
        LinuxFileOperations().copyFile(source, key + "/cours.bin");
        QCOMPARE(failureOf([&] { LinuxFileOperations().deleteMatching(key, "*.tmp"); }), 53); // a copy being written is no match
        ::close(lock);
        QCOMPARE(snapshot(key).keys(), QList<QByteArray>({".essaimeur-vivant00000.tmp", "cours.bin"}));
    }
};

QTEST_MAIN(TestOutsideTheKey)
#include "test_outside_the_key.moc"
