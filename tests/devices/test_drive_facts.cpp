#include "devices/LinuxDriveFacts.h"
#include "devices/VolumeLabel.h"
#include "drives/DriveTable.h"
#include "drives/Failure.h"
#include "support/FailureOf.h"
#include "support/Mounts.h"
#include "support/TempTree.h"

#include <QTest>

using namespace Qt::StringLiterals;

class TestDriveFacts : public QObject
{
    Q_OBJECT

private slots:
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

QTEST_GUILESS_MAIN(TestDriveFacts)
#include "test_drive_facts.moc"
