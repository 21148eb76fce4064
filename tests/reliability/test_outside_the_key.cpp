#include "Reliability.h"
#include "copy/TemporaryFiles.h"
#include "devices/LinuxDriveFacts.h"
#include "devices/MountWatcher.h"
#include "drives/DrivePath.h"
#include "support/FailureOf.h"
#include "support/Mounts.h"

#include <csignal>
#include <sys/file.h>
#include <sys/wait.h>

using namespace Reliability;

namespace {

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
    QChar plug(const QString &name, const QString &kind = QStringLiteral("tmpfs"))
    {
        const QString dir = tree.createDir("media/" + name), image = tree.path(name + ".img");
        const QString loop = kind == u"exfat" ? Mounts::mountExfat(image, 24, dir) : QString();
        if (!loop.isEmpty())
            loops << loop;
        if (kind == u"exfat" ? loop.isEmpty() : kind == u"ext4" ? !Mounts::makeExt4Image(image, 24, name) || !Mounts::mountImage(image, dir)
                                                                : !Mounts::mountTmpfs(dir, QStringLiteral("24m")))
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
    LinuxFileOperations files;
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
