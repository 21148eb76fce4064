#include "Reliability.h"
#include "copy/TemporaryFiles.h"
#include "devices/LinuxDriveFacts.h"
#include "devices/MountWatcher.h"
#include "drives/DrivePath.h"
#include "support/Mounts.h"

#include <QRandomGenerator>

#include <csignal>
#include <sys/file.h>
#include <sys/wait.h>

using namespace Reliability;

namespace {

const QByteArray Course = QByteArrayLiteral("le cours de cette semaine\n");

QByteArray randomBytes(qsizetype size)
{
    QByteArray bytes(size, Qt::Uninitialized);
    QRandomGenerator(3).fillRange(reinterpret_cast<quint32 *>(bytes.data()), size / 4);
    return bytes;
}

// The window on the real watcher and engine; keys are mounted below a media folder of the
// test's private namespace, beside a folder that stands for the system disk.
struct World
{
    ~World()
    {
        window.reset();
        for (const QString &dir : std::as_const(mounted))
            ::umount2(QFile::encodeName(dir).constData(), MNT_DETACH);
        for (const QString &loop : std::as_const(loops))
            Mounts::run(QStringLiteral("losetup"), {QStringLiteral("-d"), loop});
    }
    void start()
    {
        window = std::make_unique<Copieur>(Copieur::Services{
            drives, messages, [this] { return std::make_unique<LinuxFileSystemObject>(drives); }, files, &watcher});
    }
    // Mounts a key ("tmpfs", "ext4" or "exfat") and waits until it has a letter.
    QChar plug(const QString &name, const QString &kind = QStringLiteral("tmpfs"), int sizeMiB = 16)
    {
        const QString dir = tree.createDir(QStringLiteral("media/") + name), image = tree.path(name + QStringLiteral(".img"));
        QString loop;
        const bool mountedNow = kind == u"tmpfs" ? Mounts::mountTmpfs(dir, QStringLiteral("%1m").arg(sizeMiB))
            : kind == u"ext4" ? Mounts::makeExt4Image(image, sizeMiB, name) && Mounts::mountImage(image, dir)
                              : !(loop = Mounts::mountExfat(image, sizeMiB, dir)).isEmpty();
        if (!loop.isEmpty())
            loops << loop;
        if (!mountedNow)
            return {};
        mounted.prepend(dir);
        return QTest::qWaitFor([&] { return !drives.letterOfRoot(dir).isNull(); }, 5000) ? drives.letterOfRoot(dir) : QChar();
    }
    bool pull(const QString &name)
    {
        const QString dir = key(name);
        return Mounts::unmount(dir) && QTest::qWaitFor([&] { return drives.letterOfRoot(dir).isNull(); }, 5000);
    }
    QString key(const QString &name) const { return tree.path(QStringLiteral("media/") + name); }
    // Picks the source in a folder of a drive, as the operator's clicks do.
    bool pickSource(const QString &folder, const QString &name)
    {
        const QString drivePath = DrivePath::fromNative(folder, drives);
        window->controls().Drive1[0]->setDrive(drivePath.left(1));
        window->controls().Dir1[0]->setPath(drivePath);
        FileList &list = *window->controls().File1[0];
        for (int n = 0; n < list.listCount(); ++n) {
            if (list.list(n) == name)
                return list.setListIndex(n), window->File1_Click(0), true;
        }
        return false;
    }
    bool run(const QString &toDelete = {})
    {
        window->controls().FichKill->setText(toDelete);
        window->LanceCopie_Click();
        return QTest::qWaitFor([&] { return !window->isCopying(); }, 30000);
    }

    TempTree tree;
    const QString system = tree.createDir(QStringLiteral("system")), media = tree.createDir(QStringLiteral("media"));
    DriveTable drives;
    MountWatcher watcher{drives, {media}};
    ScriptedMessages messages;
    LinuxFileOperations files;
    std::unique_ptr<Copieur> window;
    QStringList mounted, loops;
};

} // namespace

// Scenarios a hostile user or machine plays: whatever happens, nothing outside the keys
// changes; the first slot ends as told and the run reports what it should.
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
        QTest::newRow("the source on a key, its name to delete") << "source" << "Terminé" << 53;
        QTest::newRow("a name exFAT refuses") << "name" << "Échec" << 52;
    }
    void scenarios()
    {
        QFETCH(QString, scenario);
        QFETCH(QString, status);
        QFETCH(int, message);
        World world;
        world.watcher.start();
        world.tree.createFile(QStringLiteral("system/dossier/vieux.tmp"));
        world.tree.createFile(QStringLiteral("system/cours.txt"), Course);
        world.tree.createFile(QStringLiteral("system/a?b.txt"), Course);
        const QByteArray large = randomBytes(12 << 20);
        world.tree.createFile(QStringLiteral("system/cours.bin"), large);
        QString source = QStringLiteral("cours.txt"), expected = QString::fromUtf8(Course);
        QString key = QStringLiteral("CLE");

        if (scenario == u"same letter") {
            QVERIFY(!world.plug(QStringLiteral("ANCIENNE")).isNull()); // there before the program: a letter, no slot
            world.tree.createDir(QStringLiteral("media/ANCIENNE/Vieux"));
            world.start();
            world.window->controls().Drive1[1]->setDrive(QStringLiteral("D"));
            QVERIFY(world.pull(QStringLiteral("ANCIENNE")));
        } else {
            world.start();
        }
        if (scenario == u"bind") {
            const QString bound = world.tree.createDir(QStringLiteral("media/LIEN"));
            world.mounted << bound;
            QVERIFY(Mounts::run(QStringLiteral("mount"), {QStringLiteral("--bind"), world.tree.path(QStringLiteral("system/dossier")), bound}));
        }
        if (scenario == u"swap") {
            QCOMPARE(world.plug(QStringLiteral("A")), QLatin1Char('D'));
            world.tree.createFile(QStringLiteral("media/A/cours.txt"), "la nouvelle version");
            QVERIFY(world.pickSource(world.key(QStringLiteral("A")), source));
            QVERIFY(world.pull(QStringLiteral("A")));
            key = QStringLiteral("B");
        }
        const QString kind = scenario == u"ext4" || scenario == u"exfat" || scenario == u"name" ? scenario : QStringLiteral("tmpfs");
        QVERIFY(!world.plug(key, kind == u"name" ? QStringLiteral("exfat") : kind, 24).isNull());
        if (scenario == u"link") {
            QVERIFY(QFile::link(world.tree.path(QStringLiteral("system/dossier")), world.key(key) + QStringLiteral("/Cours")));
            world.window->controls().Dir1[1]->setPath(world.window->bas().Lecteur[1] + QStringLiteral(":\\Cours"));
        }
        if (scenario == u"swap")
            world.tree.createFile(QStringLiteral("media/B/cours.txt"), "une ancienne version");
        if (scenario == u"ext4" || scenario == u"exfat") {
            world.tree.createFile(QStringLiteral("media/CLE/cours.bin"), randomBytes(14 << 20));
            source = QStringLiteral("cours.bin");
        }
        if (scenario == u"name")
            source = QStringLiteral("a?b.txt");
        if (scenario == u"source") {
            world.tree.createFile(QStringLiteral("media/CLE/cours.txt"), Course);
            QVERIFY(world.pickSource(world.key(key), source));
        } else if (scenario != u"swap") {
            QVERIFY(world.pickSource(world.system, source));
        }
        const Entries system = snapshot(world.system), keyBefore = snapshot(world.key(key));

        QVERIFY(world.run(scenario == u"link" || scenario == u"bind" ? QStringLiteral("*.tmp") : scenario == u"source" ? source : QString()));
        QCOMPARE(snapshot(world.system), system);
        QVERIFY(world.drives.letterOfRoot(world.tree.path(QStringLiteral("media/LIEN"))).isNull());
        QCOMPARE(world.window->controls().Controle[1]->caption(), status);
        QVERIFY(!world.window->controls().Dir1[1]->list(0).endsWith(QStringLiteral("Vieux"))); // the old key's folders are gone
        QVERIFY(showedOnly(world.messages, message ? describeFailure(message) : QString()));
        const QByteArray copied = TempTree::read(world.key(key) + u'/' + source);
        if (status == u"Terminé")
            QCOMPARE(copied, source == u"cours.bin" ? large : expected.toUtf8());
        else
            QCOMPARE(snapshot(world.key(key)), keyBefore);
    }

    // A session ending mid-copy leaves no temporary file; one left by a harder death
    // goes at the next copy into that folder, unless a running copy holds it.
    void noLeftovers()
    {
        const TempTree tree;
        const QString source = tree.createFile(QStringLiteral("cours.bin"), randomBytes(8 << 20));
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
        QCOMPARE(::waitpid(child, &status, 0), child);
        QVERIFY(WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM);
        QCOMPARE(snapshot(key), Entries());

        tree.createFile(QStringLiteral("cle/.essaimeur-mort0000000.tmp"));
        const QString held = tree.createFile(QStringLiteral("cle/.essaimeur-vivant000000.tmp"));
        const int lock = ::open(QFile::encodeName(held).constData(), O_RDONLY | O_CLOEXEC);
        QVERIFY(lock >= 0 && ::flock(lock, LOCK_EX) == 0);
        LinuxFileOperations().copyFile(source, key + QStringLiteral("/cours.bin"));
        ::close(lock);
        QCOMPARE(snapshot(key).keys(), QList<QByteArray>({".essaimeur-vivant000000.tmp", "cours.bin"}));
    }
};

QTEST_MAIN(TestOutsideTheKey)
#include "test_outside_the_key.moc"
