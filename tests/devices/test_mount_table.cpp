#include "devices/MountTable.h"
#include "devices/MountWatcher.h"
#include "support/TempTree.h"

#include <QTest>

class TestMountTable : public QObject
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
        QTest::newRow("internal disk at /mnt") << "ext4" << "/mnt/data" << false << false;
        QTest::newRow("root on usb") << "ext4" << "/" << true << false;
        QTest::newRow("boot on usb") << "vfat" << "/boot" << true << false;
        QTest::newRow("proc") << "proc" << "/proc" << false << false;
        QTest::newRow("cgroup2 under media") << "cgroup2" << "/media/x" << false << false;
        QTest::newRow("tmpfs under media") << "tmpfs" << "/media/x" << false << true;
        QTest::newRow("tmpfs at media itself") << "tmpfs" << "/media/" << false << false;
        QTest::newRow("looks like media") << "tmpfs" << "/mediatheque/x" << false << false;
        QTest::newRow("run media") << "ext4" << "/run/media/u/KEY" << false << true;
        QTest::newRow("run user") << "tmpfs" << "/run/user/1000" << false << false;
        QTest::newRow("share under media") << "cifs" << "/media/partage" << false << true;
    }
    void classifiesVolumes()
    {
        QFETCH(QString, type);
        QFETCH(QString, mountPoint);
        QFETCH(bool, onUsb);
        QFETCH(bool, key);
        const MountEntry entry{1, 8, 17, mountPoint, type, QStringLiteral("/dev/sdb1")};
        QCOMPARE(isRemovableVolume(entry, onUsb, {QStringLiteral("/media"), QStringLiteral("/run/media")}), key);
    }

    // In a sysfs tree laid out as the kernel's, a device is on USB through its path, or through a device it is built on.
    void findsUsbThroughSysfs()
    {
        TempTree sys;
        const QString usb = sys.createDir(QStringLiteral("devices/pci0000:00/usb2/2-1/host6/block/sdb/sdb1"));
        const QString disk = sys.createDir(QStringLiteral("devices/pci0000:00/virtio1/block/vda"));
        const QString dm = sys.createDir(QStringLiteral("devices/virtual/block/dm-1/slaves"));
        QVERIFY(QFile::link(usb, sys.createDir(QStringLiteral("dev/block")) + QStringLiteral("/8:17")));
        QVERIFY(QFile::link(disk, sys.path(QStringLiteral("dev/block/254:0"))));
        QVERIFY(QFile::link(dm + QStringLiteral("/.."), sys.path(QStringLiteral("dev/block/253:1"))));
        QVERIFY(QFile::link(usb, dm + QStringLiteral("/sdb1")));
        QVERIFY(blockDeviceOnUsb(8, 17, sys.root()));
        QVERIFY(!blockDeviceOnUsb(254, 0, sys.root()));
        QVERIFY(blockDeviceOnUsb(253, 1, sys.root())); // an encrypted volume on the key
        QVERIFY(!blockDeviceOnUsb(9, 9, sys.root()));
    }
};

QTEST_GUILESS_MAIN(TestMountTable)
#include "test_mount_table.moc"
