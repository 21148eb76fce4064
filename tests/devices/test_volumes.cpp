#include "devices/LinuxDriveFacts.h"
#include "devices/MountTable.h"
#include "devices/MountWatcher.h"
#include "devices/VolumeLabel.h"
#include "drives/DriveTable.h"
#include "support/FailureOf.h"
#include "support/Mounts.h"
#include "support/TempTree.h"

#include <QTest>

using namespace Qt::StringLiterals;

// What makes a volume a key, and what the program reads of a key.
class TestVolumes : public QObject
{
    Q_OBJECT

private slots:
    // A key: on a USB bus or strictly below a media root, and neither a kernel nor a system mount.
    void classifiesVolumes_data()
    {
        QTest::addColumn<QString>("type");
        QTest::addColumn<QString>("mountPoint");
        QTest::addColumn<bool>("onUsb");
        QTest::addColumn<bool>("key");
        QTest::newRow("usb partition at /mnt") << "vfat" << "/mnt/cle" << true << true;
        QTest::newRow("root on usb") << "ext4" << "/" << true << false;
        QTest::newRow("boot on usb") << "vfat" << "/boot" << true << false;
        QTest::newRow("cgroup2 under media") << "cgroup2" << "/media/x" << false << false;
        QTest::newRow("tmpfs under media") << "tmpfs" << "/media/x" << false << true;
        QTest::newRow("tmpfs at media itself") << "tmpfs" << "/media/" << false << false;
        QTest::newRow("looks like media") << "tmpfs" << "/mediatheque/x" << false << false;
        QTest::newRow("run media") << "ext4" << "/run/media/u/KEY" << false << true;
        QTest::newRow("share under media") << "cifs" << "/media/partage" << false << true;
    }
    void classifiesVolumes()
    {
        QFETCH(QString, type);
        QFETCH(QString, mountPoint);
        QFETCH(bool, onUsb);
        QFETCH(bool, key);
        const MountEntry entry{1, 8, 17, mountPoint, type, u"/dev/sdb1"_s};
        QCOMPARE(isRemovableVolume(entry, onUsb, {u"/media"_s, u"/run/media"_s}), key);
    }

    // In a sysfs tree laid out as the kernel's, a device is on USB through its path, or through a device it is built on.
    void findsUsbThroughSysfs()
    {
        TempTree sys;
        const QString usb = sys.createDir(u"devices/pci0000:00/usb2/2-1/host6/block/sdb/sdb1"_s);
        const QString dm = sys.createDir(u"devices/virtual/block/dm-1/slaves"_s);
        QVERIFY(QFile::link(usb, sys.createDir(u"dev/block"_s) + u"/8:17"_s));
        QVERIFY(QFile::link(sys.createDir(u"devices/pci0000:00/virtio1/block/vda"_s), sys.path(u"dev/block/254:0"_s)));
        QVERIFY(QFile::link(dm + u"/.."_s, sys.path(u"dev/block/253:1"_s)));
        QVERIFY(QFile::link(usb, dm + u"/sdb1"_s));
        QVERIFY(blockDeviceOnUsb(8, 17, sys.root()));
        QVERIFY(!blockDeviceOnUsb(254, 0, sys.root()));
        QVERIFY(blockDeviceOnUsb(253, 1, sys.root())); // an encrypted volume on the key
        QVERIFY(!blockDeviceOnUsb(9, 9, sys.root()));
    }

    // No such drive: 68. A drive whose volume went: 71, also from the objects handed out before.
    void missingAndGoneDrivesFail()
    {
        TempTree key;
        DriveTable drives;
        QCOMPARE(drives.assign(key.root(), {}), u'D');
        const LinuxFileSystemObject fso(drives);
        for (const QString &name : {u""_s, u"Q"_s, u"q:\\"_s})
            QCOMPARE(failureOf([&] { fso.getDrive(name); }), 68);
        const auto kept = fso.getDrive(u"d:"_s);
        QVERIFY(QDir(key.root()).removeRecursively());
        QCOMPARE(failureOf([&] { fso.getDrive(u"D"_s); }), 71);
        QCOMPARE(failureOf([&] { kept->totalSize(); }), 71);
        QCOMPARE(failureOf([&] { kept->availableSpace(); }), 71);
        QCOMPARE(failureOf([&] { kept->volumeName(); }), 71);
    }

    // The label blkid reads in a FAT and in an ext4 image; none where there is no file system.
    void readsSuperblockLabels()
    {
        const TempTree dir;
        for (const QStringList &mkfs : {QStringList{"mkfs.fat", "-n", "ETIQUETTE"}, QStringList{"mkfs.ext4", "-q", "-F", "-L", "MACLE"}}) {
            const QString image = dir.createFile(mkfs.first(), QByteArray(4 << 20, '\0'));
            QCOMPARE(superblockLabel(image), QString());
            QVERIFY(Mounts::run(mkfs.first(), mkfs.mid(1) << image));
            QCOMPARE(superblockLabel(image), mkfs.last());
        }
    }
};

QTEST_GUILESS_MAIN(TestVolumes)
#include "test_volumes.moc"
