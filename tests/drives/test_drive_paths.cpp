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
};

QTEST_GUILESS_MAIN(TestDrivePaths)
#include "test_drive_paths.moc"
