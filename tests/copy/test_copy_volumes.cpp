#include "copy/LinuxFileOperations.h"
#include "CopyChecks.h"
#include "support/Mounts.h"
#include "support/TempTree.h"

#include <QTest>

using namespace CopyChecks;

namespace {

constexpr qsizetype MiB = 1 << 20;
const QByteArray OldContent = QByteArrayLiteral("the previous file, which must survive");

} // namespace

// Real volumes, mounted in the test's private mount namespace.
class TestCopyVolumes : public QObject
{
    Q_OBJECT

private slots:
    void fullVolumeKeepsThePreviousFile()
    {
        REQUIRE_PRIVATE_MOUNTS();
        const TempTree tree;
        const QString key = tree.createDir(QStringLiteral("key"));
        QVERIFY(Mounts::mountTmpfs(key, QStringLiteral("1m")));
        const QString source = tree.createFile(QStringLiteral("data.bin"), randomBytes(3 * MiB));
        const QString target = tree.createFile(QStringLiteral("key/data.bin"), OldContent);
        LinuxFileOperations files;

        const int number = copyOutcome(files, source, target);
        const QByteArray left = TempTree::read(target);
        const QStringList temporaries = leftovers(key);
        QVERIFY(Mounts::unmount(key));
        QCOMPARE(number, 61);
        QCOMPARE(left, OldContent);
        QCOMPARE(temporaries, QStringList());
    }

    void readOnlyVolumeRefusesChanges()
    {
        REQUIRE_PRIVATE_MOUNTS();
        const TempTree tree;
        const QString key = tree.createDir(QStringLiteral("key"));
        QVERIFY(Mounts::mountTmpfs(key));
        const QString source = tree.createFile(QStringLiteral("data.bin"), randomBytes(MiB));
        const QString target = tree.createFile(QStringLiteral("key/data.bin"), OldContent);
        QVERIFY(Mounts::run(QStringLiteral("mount"), {QStringLiteral("-o"), QStringLiteral("remount,ro"), key}));
        LinuxFileOperations files;

        const int copyNumber = copyOutcome(files, source, target);
        const int deleteNumber = deleteOutcome(files, key, QStringLiteral("*"));
        const QByteArray left = TempTree::read(target);
        QVERIFY(Mounts::unmount(key));
        QCOMPARE(copyNumber, 70);
        QCOMPARE(deleteNumber, 70);
        QCOMPARE(left, OldContent);
    }

    // A block device, where the read-back really comes from the device.
    void copiesOntoABlockDevice()
    {
        REQUIRE_PRIVATE_MOUNTS();
        const TempTree tree;
        const QString key = tree.createDir(QStringLiteral("key"));
        const QString image = tree.path(QStringLiteral("key.img"));
        QVERIFY(Mounts::makeExt4Image(image, 64, QStringLiteral("KEY")));
        QVERIFY(Mounts::mountImage(image, key));
        const QByteArray content = randomBytes(20 * MiB + 3);
        const QString source = tree.createFile(QStringLiteral("data.bin"), content);
        tree.createFile(QStringLiteral("key/data.bin"), OldContent);
        LinuxFileOperations files;

        const int number = copyOutcome(files, source, key + QStringLiteral("/data.bin"));
        QVERIFY(Mounts::unmount(key));
        QCOMPARE(number, 0);
        QVERIFY(Mounts::mountImage(image, key));
        const QByteArray copied = TempTree::read(key + QStringLiteral("/data.bin"));
        const QStringList temporaries = leftovers(key);
        QVERIFY(Mounts::unmount(key));
        QCOMPARE(copied, content);
        QCOMPARE(temporaries, QStringList());
    }
};

QTEST_GUILESS_MAIN(TestCopyVolumes)
#include "test_copy_volumes.moc"
