#include "devices/LinuxDriveFacts.h"
#include "devices/MountWatcher.h"
#include "devices/VolumeLabel.h"
#include "drives/DrivePath.h"
#include "drives/DriveTable.h"
#include "support/FailureOf.h"
#include "support/Mounts.h"
#include "support/ScriptedNotificationSource.h"
#include "support/TempTree.h"

#include <cerrno>

// Records what a source hands its handlers: "+D /dev/sdb1 0 /mnt/cle" for an arrival, "-D ..." for a
// removal, with the letter's root as the handler finds it in the drive table; '?' for a wrong device
// type or a mask that is not exactly one letter.
struct Recorder
{
    Recorder(NotificationSource &source, const DriveTable &drives)
    {
        const auto record = [this, &drives](QChar sign, const VolumeNotification &n) {
            const quint32 mask = quint32(n.unitMask);
            const QChar letter(n.deviceType == 2 && qPopulationCount(mask) == 1 ? u'A' + qCountTrailingZeroBits(mask) : u'?');
            const QString root = drives.drive(letter).value_or(Drive()).root;
            onSeen(lines.emplaceBack(QString("%1%2 %3 %4 %5").arg(sign, letter, n.deviceName).arg(n.deviceData).arg(root).trimmed()));
        };
        source.setHandlers([=](const VolumeNotification &n) { record(u'+', n); }, [=](const VolumeNotification &n) { record(u'-', n); });
    }
    QStringList lines;
    std::function<void(const QString &)> onSeen = [](const QString &) {};
};

// Every reading of the mount table starts with the system's own lines.
const QByteArray Base = "26 1 254:0 / / rw - ext4 /dev/vda rw\n21 26 0:20 / /proc rw - proc proc rw\n";
const QByteArray UsbKey = "60 26 8:17 / /mnt/cle rw - vfat /dev/sdb1 rw\n", KeyB = "61 26 8:33 / /media/u/B rw - exfat /dev/sdc1 rw\n",
                 KeyC = "62 26 0:70 / /media/u/C rw - tmpfs C rw\n";

class TestDrivesAndVolumes : public QObject
{
    Q_OBJECT

private slots:
    // A drive path read back from the native path it maps to ("%K": key D's root), or the number of the
    // failure refusing it; and the errors a key's medium gives, as the messages name them.
    void mapsDrivePathsAndErrors()
    {
        TempTree key;
        DriveTable drives;
        QCOMPARE(drives.assign(key.root(), "/dev/sdz1", "CLE"), u'D');
        const auto mapped = [&](const QString &text) {
            QString native;
            const int failure = failureOf([&] { native = DrivePath::toNative(text, drives); });
            return failure ? QString::number(failure)
                           : DrivePath::fromNative(native, drives) + " -> " + QString(native).replace(key.root(), "%K");
        };
        QCOMPARE(mapped("D:\\"), "D:\\ -> %K"); // the root
        QCOMPARE(mapped("d:\\\\a\\b.txt"), "D:\\a\\b.txt -> %K/a/b.txt"); // lower letter, doubled separator
        QCOMPARE(mapped("C:\\etc"), "C:\\etc -> /etc"); // the system drive
        QCOMPARE(mapped("e: [CLE USB]"), "68"); // a drive list's text, no such drive
        QCOMPARE(mapped(""), "68");
        QCOMPARE(mapped("/etc/passwd"), "52"); // a native path
        QCOMPARE(mapped("1:\\x"), "52"); // a digit for a letter
        QCOMPARE(mapped("E:\\..\\etc"), "52"); // a climb
        QCOMPARE(mapped("E:\\a/../../etc"), "52"); // a native separator
        // A native name holding '\' would read back as two names.
        QCOMPARE(DrivePath::fromNative(key.root() + "/a\\b", drives), QString());
        for (const auto &[err, failure] : {std::pair(EIO, "57 Erreur d'entrée/sortie de périphérique"),
                                           std::pair(ENOMEDIUM, "71 Disque non prêt"), std::pair(EBUSY, "75 Erreur d'accès au chemin/fichier")})
            QCOMPARE(QString::number(failureFromErrno(err).number()) + ' ' + failureFromErrno(err).description(), QString(failure));
    }

    // Readings of the table, after Base, through the watcher: a key is a whole volume on a USB bus
    // (here 8:17, and 253:1 built on it) or strictly below a media folder, and no kernel or system mount.
    // Volumes there at start are lettered silently; a removed volume keeps its letter until its handler ran.
    // Then the order of deliveries, and drives and the names of their volumes.
    void volumesComeGoAndAreNamed()
    {
        const TempTree dir; // the mountinfo file the test rewrites, a sysfs laid out as the kernel's, images
        const QString usb = dir.createDir("sys/devices/pci0000:00/usb2/2-1/host6/block/sdb/sdb1"), block = dir.createDir("sys/dev/block");
        const QString slaves = dir.createDir("sys/devices/virtual/block/dm-1/slaves");
        QVERIFY(QFile::link(usb, block + "/8:17") && QFile::link(usb, slaves + "/sdb1") && QFile::link(slaves + "/..", block + "/253:1")
                && QFile::link(dir.createDir("sys/devices/pci0000:00/virtio1/block/vdb"), block + "/254:16"));
        const auto follow = [&](const QByteArrayList &tables) {
            DriveTable drives;
            MountWatcher watcher(drives, {"/media", "/run/media"}, dir.createFile("mountinfo", Base + tables.first()));
            watcher.setSysfsRoot(dir.path("sys"));
            Recorder recorder(watcher, drives);
            const bool started = watcher.start();
            for (const QByteArray &next : tables.mid(1))
                dir.createFile("mountinfo", Base + next), watcher.rescan();
            return started ? recorder.lines : QStringList{"no start"};
        };
        // In one reading: a USB partition and an encrypted volume on a USB key outside the media folders, a key below
        // /run/media, a network share below a media folder; and no internal disk outside them, no media folder itself,
        // no folder of a volume, no volume also mounted outside the media folders.
        QCOMPARE(follow({"", UsbKey + KeyB + "64 26 8:33 / /srv rw - vfat b rw\n65 26 253:1 / /c rw - ext4 dm rw\n"
                         "66 26 254:16 / /d rw - ext4 v rw\n62 26 0:70 / /media/ rw - tmpfs t rw\n63 26 8:65 /d /media/F rw - vfat e rw\n"
                         "67 26 8:49 / /run/media/K rw - ext4 f rw\n71 26 0:81 / /media/s rw - cifs //s/s rw\n"}),
                 QStringList({"+D /dev/sdb1 0 /mnt/cle", "+E dm 0 /c", "+F f 0 /run/media/K", "+G //s/s 2 /media/s"}));
        // Lettered silently at start, a remount silent, a freed letter reused lowest first, a mount id reused by another volume.
        QCOMPARE(follow({UsbKey + KeyB, KeyB, "61 26 8:33 / /media/u/B ro - exfat /dev/sdc1 ro\n", KeyB + KeyC,
                         "61 26 8:49 / /media/u/B rw - vfat /dev/sdd1 rw\n" + KeyC}),
                 QStringList({"-D /dev/sdb1 0 /mnt/cle", "+D C 0 /media/u/C", "-E /dev/sdc1 0 /media/u/B", "+F /dev/sdd1 0 /media/u/B"}));
        QByteArray full; // D..Z taken: a further volume gets no letter and raises nothing, coming or going
        for (int i = 0; i < 23; ++i)
            full += QByteArray::number(100 + i) + " 26 0:" + QByteArray::number(90 + i) + " / /media/k" + QByteArray::number(i) + " rw - tmpfs tmpfs rw\n";
        QCOMPARE(follow({full, full + "200 26 0:200 / /media/x rw - tmpfs x rw\n", full}), QStringList());

        // Held, notifications wait in order; one raised inside a handler (as a message box's local loop lets the
        // watcher deliver) waits for the handler to end.
        ScriptedNotificationSource source;
        DriveTable drives;
        Recorder recorder(source, drives);
        recorder.onSeen = [&](const QString &line) {
            if (line == "+D  0")
                source.remove(u'G'), recorder.lines << "fin du gestionnaire";
        };
        source.hold();
        for (const QChar letter : {u'D', u'E', u'F'})
            letter == u'E' ? source.remove(letter) : source.arrive(letter);
        source.release();
        QCOMPARE(recorder.lines, QStringList({"+D  0", "fin du gestionnaire", "-E  0", "+F  0", "-G  0"}));
        QVERIFY(!MountWatcher(drives, {}, dir.path("absente")).start()); // no table to watch: start() says so

        // No such drive: 68. A drive whose volume went: 71, also from the objects handed out before.
        // The name of a volume: its superblock's label, else its mount point's.
        QCOMPARE(drives.assign(dir.createDir("cle"), {}), u'D');
        const LinuxFileSystemObject fs(drives);
        QCOMPARE(failureOf([&] { fs.getDrive(""); }) + failureOf([&] { fs.getDrive("q:\\"); }), 2 * 68);
        const auto d = fs.getDrive("d:");
        QVERIFY(QDir(dir.path("cle")).removeRecursively());
        QCOMPARE(failureOf([&] { fs.getDrive("D"); }) + failureOf([&] { d->totalSize(); }) + failureOf([&] { d->volumeName(); }), 3 * 71);
        QCOMPARE(volumeLabel(dir.path("cle/CLE1"), "tmpfs"), "CLE1");
        for (const QStringList &mkfs : QList<QStringList>{{"mkfs.fat", "-n", "ETIQUETTE"}, {"mkfs.ext4", "-q", "-F", "-L", "MACLE"}})
            QCOMPARE(Mounts::run(mkfs.first(), mkfs.mid(1) << dir.createFile(mkfs.first(), QByteArray(4 << 20, '\0')))
                         ? superblockLabel(dir.path(mkfs.first())) : QString(), mkfs.last());
    }
};

QTEST_GUILESS_MAIN(TestDrivesAndVolumes)
#include "test_drives_and_volumes.moc"
