#include "devices/LinuxDriveFacts.h"
#include "devices/VolumeLabel.h"
#include "drives/DriveTable.h"
#include "drives/Failure.h"
#include "support/Mounts.h"
#include "support/TempTree.h"

#include <QDir>
#include <QStandardPaths>
#include <QTest>

#include <functional>
#include <optional>

namespace {

// The number of the failure the call throws, 0 when it returns.
int failureOf(const std::function<void()> &call)
{
    try {
        call();
    } catch (const Failure &failure) {
        return failure.source() == QLatin1String("EssaimeurMV") ? failure.number() : -1;
    }
    return 0;
}

} // namespace

class TestDriveFacts : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        m_key.emplace();
        m_drives.emplace();
        QCOMPARE(m_drives->assign(m_key->root(), QString()), QLatin1Char('D'));
        m_fso.emplace(*m_drives);
    }

    void namesPaths_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("absolute");
        QTest::addColumn<QString>("driveName");
        QTest::newRow("drive alone") << "D:" << "D:\\" << "D:";
        QTest::newRow("drive list text") << "d: [CLE]" << "D:\\" << "d:";
        QTest::newRow("folder") << "d:\\Docs\\" << "D:\\Docs" << "d:";
        QTest::newRow("relative to current folder") << "D:Docs" << "D:\\Docs" << "D:";
    }
    void namesPaths()
    {
        QFETCH(QString, path);
        QFETCH(QString, absolute);
        QFETCH(QString, driveName);
        QCOMPARE(m_fso->getAbsolutePathName(path), absolute);
        QCOMPARE(m_fso->getDriveName(path), driveName);
    }

    void missingDrivesFail_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("isPath");
        QTest::newRow("empty") << "" << true;
        QTest::newRow("colon only") << ":" << true;
        QTest::newRow("unknown letter") << "Q" << false;
        QTest::newRow("unknown drive") << "Q:" << true;
        QTest::newRow("unknown root") << "Q:\\" << true;
    }
    void missingDrivesFail()
    {
        QFETCH(QString, name);
        QFETCH(bool, isPath);
        QCOMPARE(failureOf([&] { m_fso->getDrive(name); }), 68);
        if (isPath) {
            QCOMPARE(failureOf([&] { m_fso->getAbsolutePathName(name); }), 68);
            QCOMPARE(m_fso->getDriveName(name), name.size() < 2 ? QString() : QStringLiteral("Q:"));
        }
    }

    void drivesHaveSizesAndNames()
    {
        const auto drive = m_fso->getDrive(QStringLiteral("d:"));
        QVERIFY(drive->totalSize() > 0);
        QVERIFY(drive->availableSpace() > 0 && drive->availableSpace() <= drive->totalSize());
        // A folder, not a volume of its own: no label but its name.
        QCOMPARE(drive->volumeName(), QDir(m_key->root()).dirName());
    }

    void goneVolumesFail()
    {
        const auto kept = m_fso->getDrive(QStringLiteral("D"));
        const auto released = m_fso->getDrive(QStringLiteral("D"));
        QVERIFY(QDir(m_key->root()).removeRecursively());
        QCOMPARE(failureOf([&] { m_fso->getAbsolutePathName(QStringLiteral("D:")); }), 71);
        QCOMPARE(failureOf([&] { m_fso->getDrive(QStringLiteral("D:")); }), 71);
        QCOMPARE(failureOf([&] { kept->totalSize(); }), 71);
        QCOMPARE(failureOf([&] { kept->availableSpace(); }), 71);
        QCOMPARE(failureOf([&] { kept->volumeName(); }), 71);
        QDir().mkpath(m_key->root());
        m_drives->release(QLatin1Char('D'));
        QCOMPARE(failureOf([&] { released->totalSize(); }), 71);
        QCOMPARE(failureOf([&] { m_fso->getDrive(QStringLiteral("D:")); }), 68);
    }

    void readsSuperblockLabels_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("label");
        QTest::newRow("fat") << "fat" << "ETIQUETTE";
        QTest::newRow("ext4") << "ext4" << "MACLE";
        QTest::newRow("no file system") << "zeros" << "";
        QTest::newRow("no file") << "absent" << "";
    }
    void readsSuperblockLabels()
    {
        QFETCH(QString, kind);
        QFETCH(QString, label);
        TempTree dir;
        const QString image = dir.path(QStringLiteral("volume.img"));
        if (kind == QLatin1String("fat")) {
            const QString mkfs = QStandardPaths::findExecutable(QStringLiteral("mkfs.fat"), {QStringLiteral("/usr/sbin"), QStringLiteral("/sbin")});
            if (mkfs.isEmpty())
                QSKIP("mkfs.fat (dosfstools) is not installed");
            QVERIFY(Mounts::run(mkfs, {QStringLiteral("-C"), QStringLiteral("-n"), label, image, QStringLiteral("2048")}));
        } else if (kind == QLatin1String("ext4")) {
            QVERIFY(Mounts::makeExt4Image(image, 4, label));
        } else if (kind == QLatin1String("zeros")) {
            dir.createFile(QStringLiteral("volume.img"), QByteArray(1 << 20, '\0'));
        }
        QCOMPARE(superblockLabel(image), label);
    }

private:
    std::optional<TempTree> m_key;
    std::optional<DriveTable> m_drives;
    std::optional<LinuxFileSystemObject> m_fso;
};

QTEST_GUILESS_MAIN(TestDriveFacts)
#include "test_drive_facts.moc"
