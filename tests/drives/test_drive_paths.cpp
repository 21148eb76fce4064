#include "drives/DrivePath.h"
#include "drives/DriveTable.h"
#include "support/FailureOf.h"
#include "support/TempTree.h"

#include <QTest>

#include <cerrno>

class TestDrivePaths : public QObject
{
    Q_OBJECT

private slots:
    // The drive path read back from the native path it maps to ("%K": key D's root), or the number of
    // the failure refusing it.
    void mapsDrivePaths_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("mapped");
        QTest::newRow("root") << "D:\\" << "D:\\ -> %K";
        QTest::newRow("lower letter, doubled separator") << "d:\\\\a\\b.txt" << "D:\\a\\b.txt -> %K/a/b.txt";
        QTest::newRow("system drive") << "C:\\etc" << "C:\\etc -> /etc";
        QTest::newRow("drive list text") << "e: [CLE USB]" << "68";
        QTest::newRow("empty") << "" << "68";
        QTest::newRow("native path") << "/etc/passwd" << "52";
        QTest::newRow("digit letter") << "1:\\x" << "52";
        QTest::newRow("climb") << "E:\\..\\etc" << "52";
        QTest::newRow("native separator") << "E:\\a/../../etc" << "52";
    }
    void mapsDrivePaths()
    {
        QFETCH(QString, text);
        QFETCH(QString, mapped);
        TempTree key;
        DriveTable drives;
        QCOMPARE(drives.assign(key.root(), "/dev/sdz1", "CLE"), u'D');
        QString native;
        const int failure = failureOf([&] { native = DrivePath::toNative(text, drives); });
        QCOMPARE(failure ? QString::number(failure) : DrivePath::fromNative(native, drives) + " -> " + native, mapped.replace("%K", key.root()));
        // A native name holding '\' would read back as two names.
        QCOMPARE(DrivePath::fromNative(key.root() + "/a\\b", drives), QString());
    }

    // The errors a key's medium gives, as the messages name them; the copy tests meet the others.
    void errnoTable()
    {
        for (const auto &[err, failure] : {std::pair(EIO, "57 Erreur d'entrée/sortie de périphérique"),
                                           std::pair(ENOMEDIUM, "71 Disque non prêt"), std::pair(EBUSY, "75 Erreur d'accès au chemin/fichier")})
            QCOMPARE(QString::number(failureFromErrno(err).number()) + ' ' + failureFromErrno(err).description(), QString(failure));
    }
};

QTEST_GUILESS_MAIN(TestDrivePaths)
#include "test_drive_paths.moc"
