#include "devices/MountTable.h"
#include "devices/MountWatcher.h"
#include "support/TempTree.h"

#include <QFile>
#include <QTest>

class TestMountTable : public QObject
{
    Q_OBJECT

private slots:
    void parsesMountInfo_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<QString>("parsed");
        QTest::newRow("usb key") << QByteArray("41 26 8:17 / /media/u/CLE rw,nosuid shared:3 - vfat /dev/sdb1 rw\n")
                                 << "41 8:17 /media/u/CLE vfat /dev/sdb1";
        QTest::newRow("escaped space") << QByteArray("42 26 8:33 / /media/u/MA\\040CLE rw - exfat /dev/sdc1 rw\n")
                                       << "42 8:33 /media/u/MA CLE exfat /dev/sdc1";
        QTest::newRow("subtype, no device") << QByteArray("51 26 0:62 / /run/media/u/ssh rw - fuse.sshfs u@hote:/ rw\n")
                                            << "51 0:62 /run/media/u/ssh fuse.sshfs u@hote:/";
        QTest::newRow("order kept, bad line skipped")
            << QByteArray("26 1 254:0 / / rw - ext4 /dev/vda rw\nnot a mount line\n60 26 0:70 / /media/t rw - tmpfs tmpfs rw\n")
            << "26 254:0 / ext4 /dev/vda | 60 0:70 /media/t tmpfs tmpfs";
    }
    void parsesMountInfo()
    {
        QFETCH(QByteArray, text);
        QFETCH(QString, parsed);
        QStringList described;
        for (const MountEntry &e : parseMountInfo(text))
            described << QStringLiteral("%1 %2:%3 %4 %5 %6").arg(e.id).arg(e.major).arg(e.minor).arg(e.mountPoint, e.fileSystemType, e.source);
        QCOMPARE(described.join(QLatin1String(" | ")), parsed);
    }

    void classifiesVolumes_data()
    {
        QTest::addColumn<QString>("type");
        QTest::addColumn<QString>("mountPoint");
        QTest::addColumn<bool>("onUsb");
        QTest::addColumn<bool>("key");
        QTest::newRow("usb partition at /mnt") << "vfat" << "/mnt/cle" << true << true;
        QTest::newRow("internal disk at /mnt") << "ext4" << "/mnt/data" << false << false;
        QTest::newRow("root") << "ext4" << "/" << false << false;
        QTest::newRow("root on usb") << "ext4" << "/" << true << false;
        QTest::newRow("boot on usb") << "vfat" << "/boot" << true << false;
        QTest::newRow("home") << "ext4" << "/home" << false << false;
        QTest::newRow("usr on usb") << "ext4" << "/usr" << true << false;
        QTest::newRow("var") << "ext4" << "/var" << false << false;
        QTest::newRow("proc") << "proc" << "/proc" << false << false;
        QTest::newRow("cgroup2 under media") << "cgroup2" << "/media/x" << false << false;
        QTest::newRow("sysfs under media") << "sysfs" << "/media/u/sys" << false << false;
        QTest::newRow("tmpfs in /dev") << "tmpfs" << "/dev/shm" << false << false;
        QTest::newRow("tmpfs under media") << "tmpfs" << "/media/x" << false << true;
        QTest::newRow("tmpfs at media itself") << "tmpfs" << "/media" << false << false;
        QTest::newRow("tmpfs at media, slash") << "tmpfs" << "/media/" << false << false;
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

    void findsUsbThroughSysfs_data()
    {
        QTest::addColumn<quint32>("major");
        QTest::addColumn<quint32>("minor");
        QTest::addColumn<bool>("onUsb");
        QTest::newRow("usb disk") << 8u << 16u << true;
        QTest::newRow("usb partition") << 8u << 17u << true;
        QTest::newRow("internal disk") << 254u << 0u << false;
        QTest::newRow("encrypted volume on usb") << 253u << 1u << true;
        QTest::newRow("encrypted volume on disk") << 253u << 2u << false;
        QTest::newRow("unknown device") << 9u << 9u << false;
        QTest::newRow("no device") << 0u << 45u << false;
    }
    void findsUsbThroughSysfs()
    {
        QFETCH(quint32, major);
        QFETCH(quint32, minor);
        QFETCH(bool, onUsb);
        // A sysfs tree laid out as the kernel's, links and all.
        TempTree sys;
        const QString usbDisk = sys.createDir(QStringLiteral("devices/pci0000:00/0000:00:14.0/usb2/2-1/host6/block/sdb"));
        const QString usbPart = sys.createDir(QStringLiteral("devices/pci0000:00/0000:00:14.0/usb2/2-1/host6/block/sdb/sdb1"));
        const QString disk = sys.createDir(QStringLiteral("devices/pci0000:00/0000:00:02.0/virtio1/block/vda"));
        const QString dmUsb = sys.createDir(QStringLiteral("devices/virtual/block/dm-1/slaves"));
        const QString dmDisk = sys.createDir(QStringLiteral("devices/virtual/block/dm-2/slaves"));
        sys.createDir(QStringLiteral("dev/block"));
        const QList<std::pair<QString, QString>> links{
            {usbDisk, sys.path(QStringLiteral("dev/block/8:16"))},  {usbPart, sys.path(QStringLiteral("dev/block/8:17"))},
            {disk, sys.path(QStringLiteral("dev/block/254:0"))},     {dmUsb + QLatin1String("/.."), sys.path(QStringLiteral("dev/block/253:1"))},
            {dmDisk + QLatin1String("/.."), sys.path(QStringLiteral("dev/block/253:2"))},
            {usbPart, dmUsb + QLatin1String("/sdb1")},               {disk, dmDisk + QLatin1String("/vda")}};
        for (const auto &[target, name] : links)
            QVERIFY(QFile::link(target, name));
        QCOMPARE(blockDeviceOnUsb(major, minor, sys.root()), onUsb);
    }
};

QTEST_GUILESS_MAIN(TestMountTable)
#include "test_mount_table.moc"
