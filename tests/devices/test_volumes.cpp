#include "devices/LinuxDriveFacts.h"
#include "devices/MountWatcher.h"
#include "devices/VolumeLabel.h"
#include "drives/DriveTable.h"
#include "support/FailureOf.h"
#include "support/Mounts.h"
#include "support/ScriptedNotificationSource.h"
#include "support/TempTree.h"

#include <QTest>

#include <bit>

using namespace Qt::StringLiterals;

// Records what a source hands its handlers: "+D /dev/sdb1 0 /mnt/cle" for an arrival, "-D ..." for a
// removal, with the letter's root as the handler finds it in the drive table; '?' for a wrong device
// type or a mask that is not exactly one letter.
struct Recorder
{
    Recorder(NotificationSource &source, const DriveTable &drives)
    {
        const auto record = [this, &drives](QChar sign, const VolumeNotification &n) {
            const quint32 mask = quint32(n.unitMask);
            const QChar letter = n.deviceType == 2 && std::popcount(mask) == 1 ? QChar(char16_t(u'A' + std::countr_zero(mask))) : QChar(u'?');
            const QString root = drives.drive(letter).value_or(Drive()).root;
            onSeen(lines.emplaceBack(u"%1%2 %3 %4 %5"_s.arg(sign, letter, n.deviceName, QString::number(n.deviceData), root).trimmed()));
        };
        source.setHandlers([=](const VolumeNotification &n) { record(u'+', n); }, [=](const VolumeNotification &n) { record(u'-', n); });
    }
    QStringList lines;
    std::function<void(const QString &)> onSeen = [](const QString &) {};
};

// Every reading of the mount table starts with the system's own lines.
const QByteArray Base = "26 1 254:0 / / rw - ext4 /dev/vda rw\n21 26 0:20 / /proc rw - proc proc rw\n";
const QByteArray UsbKey = "60 26 8:17 / /mnt/cle rw - vfat /dev/sdb1 rw\n", KeyB = "61 26 8:33 / /media/u/B rw - exfat /dev/sdc1 rw\n";

class TestVolumes : public QObject
{
    Q_OBJECT

private slots:
    // Readings of the table, after Base, through the watcher: a key is a whole volume on a USB bus
    // (here 8:17, and 253:1 built on it) or strictly below a media folder, and no kernel or system mount.
    // Volumes there at start are lettered silently; a removed volume keeps its letter until its handler ran.
    void followsTheMountTable_data()
    {
        QTest::addColumn<QByteArrayList>("tables");
        QTest::addColumn<QStringList>("expected");
        const auto row = [](const char *name, const QByteArrayList &tables, const QStringList &expected) { QTest::newRow(name) << tables << expected; };
        row("usb partition outside the media folders", {"", UsbKey}, {"+D /dev/sdb1 0 /mnt/cle"});
        row("encrypted volume on a usb key", {"", "65 26 253:1 / /mnt/coffre rw - ext4 /dev/mapper/coffre rw\n"}, {"+D /dev/mapper/coffre 0 /mnt/coffre"});
        row("internal disk outside the media folders", {"", "66 26 254:16 / /mnt/disque rw - ext4 /dev/vdb rw\n"}, {});
        row("the media folder itself", {"", "62 26 0:70 / /media/ rw - tmpfs tmpfs rw\n"}, {});
        row("below /run/media", {"", "62 26 8:33 / /run/media/u/CLE rw - ext4 /dev/sdc1 rw\n"}, {"+D /dev/sdc1 0 /run/media/u/CLE"});
        row("network share below media", {"", "71 26 0:81 / /media/share rw - cifs //srv/partage rw\n"}, {"+D //srv/partage 2 /media/share"});
        row("a folder of a volume, not its root", {"", "63 26 8:33 /dossier /media/u/B rw - exfat /dev/sdc1 rw\n"}, {});
        row("a volume also mounted outside the media folders", {"", KeyB + "64 26 8:33 / /srv/donnees rw - exfat /dev/sdc1 rw\n"}, {});
        row("lettered silently at start, remount silent, freed letter reused lowest first",
            {UsbKey + KeyB, KeyB, "61 26 8:33 / /media/u/B ro - exfat /dev/sdc1 ro\n", KeyB + "62 26 0:70 / /media/u/C rw - tmpfs tmpfs rw\n"},
            {"-D /dev/sdb1 0 /mnt/cle", "+D tmpfs 0 /media/u/C"});
        row("mount id reused by another volume", {KeyB, "61 26 8:49 / /media/u/B rw - vfat /dev/sdd1 rw\n"},
            {"-D /dev/sdc1 0 /media/u/B", "+E /dev/sdd1 0 /media/u/B"});
        QByteArray full; // D..Z taken: a further volume gets no letter and raises nothing, coming or going
        for (int i = 0; i < 23; ++i)
            full += QByteArray::number(100 + i) + " 26 0:90 / /media/k" + QByteArray::number(i) + " rw - tmpfs tmpfs rw\n";
        row("beyond Z", {full, full + "200 26 0:91 / /media/extra rw - tmpfs extra rw\n", full}, {});
    }
    void followsTheMountTable()
    {
        QFETCH(QByteArrayList, tables);
        QFETCH(QStringList, expected);
        const TempTree dir; // the mountinfo file the test rewrites, and a sysfs laid out as the kernel's
        const QString usb = dir.createDir(u"sys/devices/pci0000:00/usb2/2-1/host6/block/sdb/sdb1"_s), block = dir.createDir(u"sys/dev/block"_s);
        const QString slaves = dir.createDir(u"sys/devices/virtual/block/dm-1/slaves"_s);
        QVERIFY(QFile::link(usb, block + u"/8:17"_s) && QFile::link(usb, slaves + u"/sdb1"_s) && QFile::link(slaves + u"/.."_s, block + u"/253:1"_s)
                && QFile::link(dir.createDir(u"sys/devices/pci0000:00/virtio1/block/vdb"_s), block + u"/254:16"_s));
        DriveTable drives;
        MountWatcher watcher(drives, {u"/media"_s, u"/run/media"_s}, dir.createFile(u"mountinfo"_s, Base + tables.first()));
        watcher.setSysfsRoot(dir.path(u"sys"_s));
        Recorder recorder(watcher, drives);
        QVERIFY(watcher.start());
        for (const QByteArray &table : tables.mid(1))
            dir.createFile(u"mountinfo"_s, Base + table), watcher.rescan();
        QCOMPARE(recorder.lines, expected);
        QVERIFY(!MountWatcher(drives, {}, dir.path(u"absente"_s)).start()); // no table to watch: start() says so
    }

    // Held, notifications wait in order; one raised inside a handler (as a message box's local
    // loop lets the watcher deliver) waits for the handler to end.
    void deliveriesWaitTheirTurn()
    {
        ScriptedNotificationSource source;
        DriveTable drives;
        Recorder recorder(source, drives);
        recorder.onSeen = [&](const QString &line) {
            if (line == u"+D  0"_s)
                source.remove(u'G'), recorder.lines << u"fin du gestionnaire"_s;
        };
        source.hold();
        source.arrive(u'D');
        source.remove(u'E');
        source.arrive(u'F');
        source.release();
        QCOMPARE(recorder.lines, QStringList({"+D  0", "fin du gestionnaire", "-E  0", "+F  0", "-G  0"}));
    }

    // No such drive: 68. A drive whose volume went: 71, also from the objects handed out before.
    // The name of a volume: its superblock's label, else its mount point's.
    void drivesAndTheirNames()
    {
        TempTree key, images;
        DriveTable drives;
        QCOMPARE(drives.assign(key.root(), {}), u'D');
        const LinuxFileSystemObject fso(drives);
        QCOMPARE(failureOf([&] { fso.getDrive(u""_s); }) + failureOf([&] { fso.getDrive(u"q:\\"_s); }), 2 * 68);
        const auto kept = fso.getDrive(u"d:"_s);
        QVERIFY(QDir(key.root()).removeRecursively());
        QCOMPARE(failureOf([&] { fso.getDrive(u"D"_s); }) + failureOf([&] { kept->totalSize(); }) + failureOf([&] { kept->volumeName(); }), 3 * 71);
        QCOMPARE(volumeLabel(key.root() + u"/CLE1"_s, u"tmpfs"_s), u"CLE1"_s);
        for (const QStringList &mkfs : {QStringList{"mkfs.fat", "-n", "ETIQUETTE"}, QStringList{"mkfs.ext4", "-q", "-F", "-L", "MACLE"}}) {
            const QString image = images.createFile(mkfs.first(), QByteArray(4 << 20, '\0'));
            QVERIFY(Mounts::run(mkfs.first(), mkfs.mid(1) << image));
            QCOMPARE(superblockLabel(image), mkfs.last());
        }
    }
};

QTEST_GUILESS_MAIN(TestVolumes)
#include "test_volumes.moc"
