#include "copy/LinuxFileOperations.h"
#include "CopyChecks.h"
#include "support/Mounts.h"
#include "support/TempTree.h"

#include <QTest>

// Real volumes, mounted in the test's private mount namespace.
class TestCopyVolumes : public QObject
{
    Q_OBJECT

private slots:
    void init() { REQUIRE_PRIVATE_MOUNTS(); }

    // A key too small for the file, and a key mounted read-only: the old file stays, alone.
    void failedCopyKeepsThePreviousFile_data()
    {
        QTest::addColumn<bool>("readOnly");
        QTest::addColumn<int>("number");
        QTest::newRow("volume full") << false << 61;
        QTest::newRow("read-only volume") << true << 70;
    }
    void failedCopyKeepsThePreviousFile()
    {
        QFETCH(bool, readOnly);
        QFETCH(int, number);
        const TempTree tree;
        const QString key = tree.createDir(QStringLiteral("key"));
        QVERIFY(Mounts::mountTmpfs(key, QStringLiteral("1m")));
        const QByteArray old = QByteArrayLiteral("the previous file, which must survive");
        const QString target = tree.createFile(QStringLiteral("key/data.bin"), old);
        if (readOnly)
            QVERIFY(Mounts::run(QStringLiteral("mount"), {QStringLiteral("-o"), QStringLiteral("remount,ro"), key}));
        const QString source = tree.createFile(QStringLiteral("data.bin"), randomBytes(3 << 20));
        LinuxFileOperations files;
        const int copied = failureOf([&] { files.copyFile(source, target); });
        const QByteArray left = TempTree::read(target);
        const QStringList temporaries = leftovers(key);
        const int deleted = failureOf([&] { files.deleteMatching(key, QStringLiteral("*")); });
        QVERIFY(Mounts::unmount(key)); // before any check can return
        QCOMPARE(copied, number);
        QCOMPARE(left, old);
        QCOMPARE(temporaries, QStringList());
        QCOMPARE(deleted, readOnly ? 70 : 0);
    }
};

QTEST_GUILESS_MAIN(TestCopyVolumes)
#include "test_copy_volumes.moc"
