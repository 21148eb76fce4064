#include "Reliability.h"
#include "copy/TemporaryFiles.h"
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
    void copyFile(const QString &source, const QString &target, const Progress &progress, const KeyBounds &bounds) override
    {
        const bool second = target.startsWith(secondKey + u'/');
        if (fault && !second)
            struck.wait_for(std::chrono::seconds(20));
        LinuxFileOperations::copyFile(source, target, [&, fired = false](qint64 done, qint64 total) mutable {
            progress(done, total);
            if (second && fault && !fired && done * 4 >= total)
                fired = true, strike.set_value(fault());
        }, bounds);
    }
};

// The window on the real watcher and engine; keys are mounted below a media folder of the
// test's private namespace, beside a folder that stands for the system disk.
struct World
{
    World() { watcher.start(); }
    ~World()
    {
        window.reset();
        for (const QString &loop : std::as_const(loops))
            Mounts::run(QStringLiteral("losetup"), {QStringLiteral("-d"), loop});
    }
    void start()
    {
        window = std::make_unique<Copieur>(Copieur::Services{
            drives, messages, [this] { return std::make_unique<LinuxFileSystemObject>(drives); }, files, &watcher});
    }
    // Mounts a key ("tmpfs", "ext4" or "exfat") of 24 MiB and waits until it has a letter.
    QChar plug(const QString &name, const QString &kind = QStringLiteral("tmpfs"), const QString &size = QStringLiteral("24m"))
    {
        const QString dir = tree.createDir("media/" + name), image = tree.path(name + ".img");
        const QString loop = kind == u"exfat" ? Mounts::mountExfat(image, 24, dir) : QString();
        if (!loop.isEmpty())
            loops << loop;
        if (kind == u"exfat" ? loop.isEmpty() : kind == u"ext4" ? !Mounts::makeExt4Image(image, 24, name) || !Mounts::mountImage(image, dir)
                                                                : !Mounts::mountTmpfs(dir, size))
            return {};
        mounted.prepend(dir);
        return QTest::qWaitFor([&] { return !drives.letterOfRoot(dir).isNull(); }, 5000) ? drives.letterOfRoot(dir) : QChar();
    }
    bool pull(const QString &name)
    {
        return Mounts::unmount(key(name)) && QTest::qWaitFor([&] { return drives.letterOfRoot(key(name)).isNull(); }, 5000);
    }
    QString key(const QString &name) const { return tree.path("media/" + name); }
    bool pickSource(const QString &folder, const QString &name)
    {
        const QString drivePath = DrivePath::fromNative(folder, drives);
        window->controls().Drive1[0]->setDrive(drivePath.left(1));
        window->controls().Dir1[0]->setPath(drivePath);
        FileList &list = *window->controls().File1[0];
        const int row = int(entries(list).indexOf(name));
        return row >= 0 && (list.setListIndex(row), window->File1_Click(0), true);
    }

    TempTree tree;
    const QString system = tree.createDir(QStringLiteral("system")), media = tree.createDir(QStringLiteral("media"));
    DriveTable drives;
    MountWatcher watcher{drives, {media}};
    ScriptedMessages messages;
    FaultOnSecondKey files;
    std::unique_ptr<Copieur> window;
    MountedDirs mounted;
    QStringList loops;
};

} // namespace

// Scenarios a hostile user or machine plays: whatever happens, nothing outside the keys
// changes; slot 1 ends as told and the run reports what it should.
class TestOutsideTheKey : public QObject
{
    Q_OBJECT

private slots:
    void init() { REQUIRE_PRIVATE_MOUNTS(); }

    void scenarios_data()
    {
        QTest::addColumn<QString>("scenario");
        QTest::addColumn<QString>("status");
        QTest::addColumn<int>("message");
        QTest::newRow("a link on the key to a system folder") << "link" << "Échec" << 76;
        QTest::newRow("a bind mount of a system folder is no key") << "bind" << "Terminé" << 53;
        QTest::newRow("the source key swapped at its letter") << "swap" << "Échec" << 71;
        QTest::newRow("a key arriving at the letter its slot shows") << "same letter" << "Terminé" << 0;
        QTest::newRow("an overwrite that fits in place only, ext4") << "ext4" << "Terminé" << 0;
        QTest::newRow("an overwrite that fits in place only, exFAT") << "exfat" << "Terminé" << 0;
        QTest::newRow("the source on the key, its name to delete") << "source" << "Terminé" << 53;
        QTest::newRow("a name exFAT refuses") << "name" << "Échec" << 52;
    }
    void scenarios()
    {
        QFETCH(QString, scenario);
        QFETCH(QString, status);
        QFETCH(int, message);
        World world;
        const QByteArray course = "le cours\n", large = TempTree::random(12 << 20);
        world.tree.createFile(QStringLiteral("system/dossier/vieux.tmp"));
        world.tree.createFile(QStringLiteral("system/cours.txt"), course);
        world.tree.createFile(QStringLiteral("system/a?b.txt"), course);
        world.tree.createFile(QStringLiteral("system/cours.bin"), large);
        const QString source = scenario == u"name" ? QStringLiteral("a?b.txt") : scenario == u"ext4" || scenario == u"exfat" ? QStringLiteral("cours.bin") : QStringLiteral("cours.txt");
        const QString key = scenario == u"swap" ? QStringLiteral("B") : QStringLiteral("CLE");
        if (scenario == u"same letter") { // there before the program: a letter, no slot; then pulled
            QVERIFY(!world.plug(QStringLiteral("ANCIENNE")).isNull());
            world.tree.createDir(QStringLiteral("media/ANCIENNE/Vieux"));
        }
        world.start();
        if (scenario == u"same letter") {
            world.window->controls().Drive1[1]->setDrive(QStringLiteral("D"));
            QVERIFY(world.pull(QStringLiteral("ANCIENNE")));
        }
        if (scenario == u"bind") {
            world.mounted << world.tree.createDir(QStringLiteral("media/LIEN"));
            QVERIFY(Mounts::run(QStringLiteral("mount"), {QStringLiteral("--bind"), world.tree.path(QStringLiteral("system/dossier")), world.mounted.last()}));
        }
        if (scenario == u"swap") {
            QCOMPARE(world.plug(QStringLiteral("A")), u'D');
            world.tree.createFile(QStringLiteral("media/A/cours.txt"), "la nouvelle version");
            QVERIFY(world.pickSource(world.key(QStringLiteral("A")), source));
            QVERIFY(world.pull(QStringLiteral("A")));
        }
        QVERIFY(!world.plug(key, scenario == u"name" ? QStringLiteral("exfat") : scenario).isNull());
        world.tree.createFile("media/" + key + u'/' + source, scenario == u"swap" ? "une ancienne version" : scenario == u"source" ? course : TempTree::random(14 << 20));
        if (scenario == u"link") {
            QVERIFY(QFile::link(world.tree.path(QStringLiteral("system/dossier")), world.key(key) + QStringLiteral("/Cours")));
            world.window->controls().Dir1[1]->setPath(world.window->bas().Lecteur[1] + QStringLiteral(":\\Cours"));
        }
        if (scenario != u"swap")
            QVERIFY(world.pickSource(scenario == u"source" ? world.key(key) : world.system, source));
        const Entries system = snapshot(world.system), keyBefore = snapshot(world.key(key));

        world.window->controls().FichKill->setText(scenario == u"link" || scenario == u"bind" ? QStringLiteral("*.tmp") : scenario == u"source" ? source : QString());
        world.window->LanceCopie_Click();
        QVERIFY(QTest::qWaitFor([&] { return !world.window->isCopying(); }, 30000));
        QCOMPARE(snapshot(world.system), system);
        QVERIFY(world.drives.letterOfRoot(world.tree.path(QStringLiteral("media/LIEN"))).isNull());
        QCOMPARE(world.window->controls().Controle[1]->caption(), status);
        QVERIFY(!world.window->controls().Dir1[1]->list(0).endsWith(QStringLiteral("Vieux"))); // the old key's folders are gone
        QVERIFY(world.messages.showedOnly(message ? describeFailure(message) : QString()));
        if (status == u"Terminé")
            QCOMPARE(TempTree::read(world.key(key) + u'/' + source), source == u"cours.bin" ? large : course);
        else
            QCOMPARE(snapshot(world.key(key)), keyBefore);
    }

    // A fault during a run over three keys: the faulty slot fails and keeps its previous
    // file, the others are copied, and the run reports the last failure.
    void faultOnOneSlot_data()
    {
        QTest::addColumn<QString>("fault");
        QTest::addColumn<QString>("copied"); // per key: '+' new file, '-' failed keeping the old one, '0' failed on a bare folder
        QTest::addColumn<int>("message");
        QTest::newRow("key 2 fills up") << "full" << "+-+" << 61;
        // The open source is read to its end: slot 2 still gets the whole file.
        QTest::newRow("source deleted while slot 2 copies") << "delete" << "-+-" << 53;
        // Its mount point left behind is a bare folder of the system disk, which gets nothing.
        QTest::newRow("key 3 pulled out while slot 2 copies") << "unmount" << "++0" << 71;
    }
    void faultOnOneSlot()
    {
        QFETCH(QString, fault);
        QFETCH(QString, copied);
        QFETCH(int, message);
        World world;
        world.start();
        const QByteArray large = TempTree::random(20 << 20), old = "la version d'avant";
        const QByteArray source = QFile::encodeName(world.tree.createFile(QStringLiteral("system/cours.bin"), large));
        for (int i = 1; i <= 3; ++i) {
            QVERIFY(!world.plug(QStringLiteral("CLE%1").arg(i), {}, i == 2 && fault == u"full" ? QStringLiteral("8m") : QStringLiteral("24m")).isNull());
            world.tree.createFile(QStringLiteral("media/CLE%1/cours.bin").arg(i), old);
        }
        QVERIFY(world.pickSource(world.system, QStringLiteral("cours.bin")));
        const QByteArray third = QFile::encodeName(world.key(QStringLiteral("CLE3")));
        world.files.secondKey = world.key(QStringLiteral("CLE2"));
        if (fault == u"delete")
            world.files.fault = [&] { return ::unlink(source.constData()) == 0; };
        if (fault == u"unmount")
            world.files.fault = [&] { return ::umount2(third.constData(), 0) == 0; };
        world.window->LanceCopie_Click();
        QVERIFY(QTest::qWaitFor([&] { return !world.window->isCopying(); }, 30000));
        QVERIFY(!world.files.fault || world.files.struck.get());
        for (int i = 1; i <= 3; ++i) {
            // The pulled key's slot fails, then is freed once the run lets its removal through.
            const char16_t c = copied[i - 1].unicode();
            QCOMPARE(world.window->controls().Controle[i]->caption(), c == u'+' ? u"Terminé" : c == u'-' ? u"Échec" : u"inactif");
            const Entries kept{{"cours.bin", fileEntry(copied[i - 1] == u'+' ? large : old)}};
            QCOMPARE(snapshot(world.key(QStringLiteral("CLE%1").arg(i))), copied[i - 1] == u'0' ? Entries() : kept);
        }
        QVERIFY(world.messages.showedOnly(message ? describeFailure(message) : QString()));
    }

    // A key lazily unmounted during the read-back lives on until the copy lets it go, and,
    // plugged in again, holds the copy: it reached the device, not only the cache.
    void copyReachesTheDevice()
    {
        const TempTree tree;
        MountedDirs mounted;
        const QString key = tree.createDir(QStringLiteral("cle")), image = tree.path(QStringLiteral("cle.img"));
        QVERIFY(Mounts::makeExt4Image(image, 128, QStringLiteral("CLE")) && Mounts::mountImage(image, key));
        mounted << key;
        const QByteArray large = TempTree::random(64 << 20);
        bool detached = false;
        LinuxFileOperations().copyFile(tree.createFile(QStringLiteral("cours.bin"), large), key + QStringLiteral("/cours.bin"), [&](qint64 done, qint64 total) {
            detached = detached || (done * 4 >= total * 3 && ::umount2(QFile::encodeName(key).constData(), MNT_DETACH) == 0);
        });
        QVERIFY(detached);
        QTRY_VERIFY_WITH_TIMEOUT(Mounts::output("losetup", {"-j", image}) == QString(), 20000); // the loop device is free
        QVERIFY(Mounts::mountImage(image, key));
        QCOMPARE(snapshot(key).value("cours.bin"), fileEntry(large));
    }

    // A session ending mid-copy leaves no temporary file; one left by a harder death goes
    // at the next copy into that folder, unless a running copy holds it.
    void noLeftovers()
    {
        const TempTree tree;
        const QString source = tree.createFile(QStringLiteral("cours.bin"), TempTree::random(8 << 20));
        const QString key = tree.createDir(QStringLiteral("cle"));
        const pid_t child = fork();
        if (child == 0) {
            TemporaryFiles::removeOnTermination();
            LinuxFileOperations().copyFile(source, key + QStringLiteral("/cours.bin"), [](qint64 done, qint64) {
                if (done > 0)
                    ::raise(SIGTERM);
            });
            ::_exit(0);
        }
        int status = 0;
        QVERIFY(::waitpid(child, &status, 0) == child && WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM);
        QCOMPARE(snapshot(key), Entries());
        tree.createFile(QStringLiteral("cle/.essaimeur-mort0000000.tmp"));
        const int lock = ::open(QFile::encodeName(tree.createFile(QStringLiteral("cle/.essaimeur-vivant00000.tmp"))).constData(), O_RDONLY | O_CLOEXEC);
        QVERIFY(lock >= 0 && ::flock(lock, LOCK_EX) == 0);
        LinuxFileOperations().copyFile(source, key + QStringLiteral("/cours.bin"));
        QCOMPARE(failureOf([&] { LinuxFileOperations().deleteMatching(key, QStringLiteral("*.tmp")); }), 53); // a copy being written is no match
        ::close(lock);
        QCOMPARE(snapshot(key).keys(), QList<QByteArray>({".essaimeur-vivant00000.tmp", "cours.bin"}));
    }
};

QTEST_MAIN(TestOutsideTheKey)
#include "test_outside_the_key.moc"
