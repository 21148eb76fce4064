#include "drives/DrivePath.h"
#include "drives/DriveTable.h"
#include "drives/Failure.h"
#include "support/TempTree.h"

#include <QSignalSpy>
#include <QTest>

#include <cerrno>

class TestDrivePaths : public QObject
{
    Q_OBJECT

private slots:
    void parsesAndNormalises_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("normalised");
        QTest::addColumn<bool>("rooted");
        QTest::newRow("root") << "E:\\" << "E:\\" << true;
        QTest::newRow("lower letter") << "e:\\Docs" << "E:\\Docs" << true;
        QTest::newRow("doubled separator") << "E:\\\\name.txt" << "E:\\name.txt" << true;
        QTest::newRow("drive only") << "E:" << "E:\\" << false;
        QTest::newRow("drive list text") << "e: [CLE USB]" << "E:\\" << false;
    }
    void parsesAndNormalises()
    {
        QFETCH(QString, text);
        QFETCH(QString, normalised);
        QFETCH(bool, rooted);
        const DrivePath::Parsed parsed = DrivePath::parse(text);
        QCOMPARE(DrivePath::format(parsed.letter, parsed.parts), normalised);
        QCOMPARE(parsed.rooted, rooted);
    }

    void refusesBadPaths_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("number");
        QTest::newRow("empty") << "" << 68;
        QTest::newRow("no letter") << ":" << 68;
        QTest::newRow("native path") << "/etc/passwd" << 52;
        QTest::newRow("digit letter") << "1:\\x" << 52;
        QTest::newRow("climb") << "E:\\..\\etc" << 52;
        QTest::newRow("native separator") << "E:\\a/../../etc" << 52;
    }
    void refusesBadPaths()
    {
        QFETCH(QString, text);
        QFETCH(int, number);
        try {
            DrivePath::parse(text);
            QFAIL("no failure raised");
        } catch (const Failure &failure) {
            QCOMPARE(failure.number(), number);
            QCOMPARE(failure.source(), QStringLiteral("EssaimeurMV"));
            QVERIFY(!failure.description().isEmpty());
        }
    }

    void mapsToNativeAndBack()
    {
        TempTree key;
        DriveTable drives;
        QSignalSpy changed(&drives, &DriveTable::changed);
        QCOMPARE(drives.assign(key.root(), QStringLiteral("/dev/sdz1"), QStringLiteral("CLE")), QLatin1Char('D'));
        QCOMPARE(changed.count(), 1);

        QCOMPARE(DrivePath::toNative(QStringLiteral("D:\\\\a\\b.txt"), drives), key.root() + QStringLiteral("/a/b.txt"));
        QCOMPARE(DrivePath::toNative(QStringLiteral("D:\\"), drives), key.root());
        QCOMPARE(DrivePath::toNative(QStringLiteral("C:\\etc"), drives), QStringLiteral("/etc"));
        QCOMPARE(DrivePath::fromNative(key.root() + QStringLiteral("/a/b.txt"), drives), QStringLiteral("D:\\a\\b.txt"));
        QCOMPARE(DrivePath::fromNative(QStringLiteral("/usr/lib"), drives), QStringLiteral("C:\\usr\\lib"));
        // A name holding '\' would read back as two names: it has no drive path.
        QCOMPARE(DrivePath::fromNative(key.root() + QStringLiteral("/a\\b"), drives), QString());
        QCOMPARE(DrivePath::fileName(QStringLiteral("D:\\a\\b.txt")), QStringLiteral("b.txt"));
    }

    void unknownLetterIsUnavailable()
    {
        DriveTable drives;
        try {
            DrivePath::toNative(QStringLiteral("Q:\\x"), drives);
            QFAIL("no failure raised");
        } catch (const Failure &failure) {
            QCOMPARE(failure.number(), 68);
            QCOMPARE(failure.description(), QStringLiteral("Périphérique non disponible"));
        }
    }

    void currentFolderFollowsWorkingFolder()
    {
        TempTree key;
        key.createDir(QStringLiteral("Docs"));
        DriveTable drives;
        drives.assign(key.root(), {});
        const QString saved = QDir::currentPath();
        QDir::setCurrent(key.path(QStringLiteral("Docs")));
        QCOMPARE(drives.currentFolder(QLatin1Char('D')), QStringLiteral("D:\\Docs"));
        QCOMPARE(drives.currentFolder(QLatin1Char('C')), QStringLiteral("C:\\"));
        QCOMPARE(DrivePath::resolve(QStringLiteral("d: [X]"), drives), QStringLiteral("D:\\Docs"));
        QDir::setCurrent(saved);
    }

    void errnoTable_data()
    {
        QTest::addColumn<int>("err");
        QTest::addColumn<int>("number");
        QTest::addColumn<QString>("description");
        QTest::newRow("ENOENT") << ENOENT << 53 << "Fichier introuvable";
        QTest::newRow("EACCES") << EACCES << 70 << "Permission refusée";
        QTest::newRow("ENOSPC") << ENOSPC << 61 << "Disque plein";
        QTest::newRow("EIO") << EIO << 57 << "Erreur d'entrée/sortie de périphérique";
        QTest::newRow("ENOMEDIUM") << ENOMEDIUM << 71 << "Disque non prêt";
        QTest::newRow("EBUSY") << EBUSY << 75 << "Erreur d'accès au chemin/fichier";
    }
    void errnoTable()
    {
        QFETCH(int, err);
        QFETCH(int, number);
        QFETCH(QString, description);
        const Failure failure = failureFromErrno(err);
        QCOMPARE(failure.number(), number);
        QCOMPARE(failure.description(), description);
    }
};

QTEST_GUILESS_MAIN(TestDrivePaths)
#include "test_drive_paths.moc"
