#include "Reliability.h"
#include "copy/SlotJob.h"
#include "devices/LinuxDriveFacts.h"
#include "support/Mounts.h"

using namespace Reliability;

const QByteArray Old = "la version d'avant";

// A key mounted below a media folder of the test's private namespace, and a folder that
// stands for the system disk, which holds the file to copy.
struct Key
{
    Key(const QString &kind, const QString &name, const QByteArray &old = Old)
        : name(name)
    {
        tree.createFile("system/dossier/vieux.tmp");
        tree.createFile("system/" + name, TempTree::random(12 << 20));
        mounted << tree.createDir("media/CLE");
        plugged = kind == "tmpfs" ? Mounts::run("mount", {"-t", "tmpfs", "-o", "size=24m", "tmpfs", root()})
                                  : Mounts::mountImage(kind, tree.path("cle.img"), root());
        tree.createFile("media/CLE/" + name, old); // some names are refused
        job = {1, {system() + '/' + name, system()}, {root(), root(), deviceOf(root())}, {}, name, {}};
        job.listing = job.destination;
    }
    QString root() const { return tree.path("media/CLE"); }
    QString system() const { return tree.path("system"); }
    // What the key holds under the file's name: "new", "old", or "nothing".
    QString holding() const
    {
        const QString file = root() + '/' + name;
        return !QFile::exists(file) ? "nothing" : TempTree::read(file) == Old ? "old" : "new";
    }

    TempTree tree;
    MountedDirs mounted;
    QString name;
    bool plugged = false;
    SlotJob job;
};

// What a scenario does to the key and the job before the copy.
using SetUp = std::function<void(Key &)>;

class TestOutsideTheKey : public QObject
{
    Q_OBJECT

private slots:
    void init() { REQUIRE_PRIVATE_MOUNTS(); }

    // Whatever happens, nothing outside the key changes, and the key holds the new file or
    // its old content.
    void scenarios_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("name");
        QTest::addColumn<SetUp>("setUp");
        QTest::addColumn<int>("failure");
        QTest::addColumn<QString>("holding");
        QTest::newRow("a link on the key to a system folder")
            << "tmpfs"
            << "cours.bin" << SetUp([](Key &k) {
                   QVERIFY(QFile::link(k.system() + "/dossier", k.root() + "/Cours"));
                   k.job.destination.path = k.root() + "/Cours";
                   k.job.deleteName = "*.tmp";
               })
            << 76 << "old";
        // Its mount point left is a bare folder of the system disk, which gets nothing.
        QTest::newRow("a key pulled out")
            << "tmpfs"
            << "cours.bin" << SetUp([](Key &k) { QVERIFY(Mounts::run("umount", {k.root()})); }) << 71 << "nothing";
        QTest::newRow("the source on the key, its name to delete") << "tmpfs"
                                                                   << "cours.bin" << SetUp([](Key &k) {
                                                                          k.job.source.path = k.root() + "/cours.bin";
                                                                          k.job.deleteName = "cours.bin";
                                                                      })
                                                                   << 53 << "old";
        // A 40 MiB key with an old file of 30 MiB has room for the new 12 MiB only in its place.
        QTest::newRow("an overwrite that fits in place only, on exFAT")
            << "exfat"
            << "cours.bin"
            << SetUp([](Key &k) { k.tree.createFile("media/CLE/cours.bin", TempTree::random(30 << 20, 3)); }) << 0
            << "new";
        QTest::newRow("a name exFAT refuses") << "exfat"
                                              << "a?b.bin" << SetUp() << 52 << "nothing";
        QTest::newRow("a name FAT refuses") << "fat"
                                            << "été.bin" << SetUp() << 52 << "nothing";
    }
    void scenarios()
    {
        QFETCH(QString, kind);
        QFETCH(QString, name);
        QFETCH(SetUp, setUp);
        QFETCH(int, failure);
        QFETCH(QString, holding);
        Key key(kind, name);
        QVERIFY(key.plugged);
        if (setUp)
            setUp(key);
        Entries system = snapshot(key.system());
        LinuxFileOperations files;
        const SlotResult result = runSlotJob(key.job, files, {});
        QCOMPARE(result.failure.value_or(Failure(0, {})).number(), failure);
        QCOMPARE(snapshot(key.system()), system);
        QCOMPARE(key.holding(), holding);
    }

    // Its own size, not that of the disk that holds its mount point.
    void aKeysSizeIsItsOwn()
    {
        Key key("tmpfs", "cours.bin");
        DriveTable drives;
        drives.assign(key.root(), "tmpfs");
        const std::unique_ptr<DriveObject> drive = LinuxFileSystemObject(drives).getDrive("D:");
        QCOMPARE(drive->totalSize(), 24 << 20);
    }
};

QTEST_MAIN(TestOutsideTheKey)
#include "test_outside_the_key.moc"
