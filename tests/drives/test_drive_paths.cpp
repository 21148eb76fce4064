#include "drives/DrivePath.h"
#include "drives/DriveTable.h"
#include "support/FailureOf.h"
#include "support/TempTree.h"

#include <QScopeGuard>
#include <QTest>

#include <cerrno>

using namespace Qt::StringLiterals;

class TestDrivePaths : public QObject
{
    Q_OBJECT

private slots:
    // A drive path's normal form, or the failure refusing it; "%K" stands for key D's native root.
    void mapsDrivePaths_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("normalised");
        QTest::addColumn<bool>("rooted");
        QTest::addColumn<QString>("native");
        QTest::addColumn<int>("failure");
        QTest::newRow("root") << "D:\\" << "D:\\" << true << "%K" << 0;
        QTest::newRow("lower letter, doubled separator") << "d:\\\\a\\b.txt" << "D:\\a\\b.txt" << true << "%K/a/b.txt" << 0;
        QTest::newRow("system drive") << "C:\\etc" << "C:\\etc" << true << "/etc" << 0;
        QTest::newRow("drive list text") << "e: [CLE USB]" << "E:\\" << false << "" << 68;
        QTest::newRow("empty") << "" << "" << false << "" << 68;
        QTest::newRow("native path") << "/etc/passwd" << "" << false << "" << 52;
        QTest::newRow("digit letter") << "1:\\x" << "" << false << "" << 52;
        QTest::newRow("climb") << "E:\\..\\etc" << "" << false << "" << 52;
        QTest::newRow("native separator") << "E:\\a/../../etc" << "" << false << "" << 52;
    }
    void mapsDrivePaths()
    {
        QFETCH(QString, text);
        QFETCH(QString, normalised);
        QFETCH(bool, rooted);
        QFETCH(QString, native);
        QFETCH(int, failure);
        TempTree key;
        DriveTable drives;
        QCOMPARE(drives.assign(key.root(), u"/dev/sdz1"_s, u"CLE"_s), u'D');
        native.replace(u"%K"_s, key.root());
        if (!normalised.isEmpty()) {
            const DrivePath::Parsed parsed = DrivePath::parse(text);
            QCOMPARE(DrivePath::format(parsed.letter, parsed.parts), normalised);
            QCOMPARE(parsed.rooted, rooted);
        }
        QString mapped;
        QCOMPARE(failureOf([&] { mapped = DrivePath::toNative(text, drives); }), failure);
        QCOMPARE(mapped, native);
        if (!native.isEmpty() && rooted)
            QCOMPARE(DrivePath::fromNative(native, drives), normalised);
    }

    void nativeNamesReadBack()
    {
        TempTree key;
        DriveTable drives;
        drives.assign(key.root(), {});
        QCOMPARE(DrivePath::fromNative(u"/usr/lib"_s, drives), u"C:\\usr\\lib"_s);
        QCOMPARE(DrivePath::fromNative(key.root() + u"/a\\b"_s, drives), QString()); // would read back as two names
        QCOMPARE(DrivePath::fileName(u"D:\\a\\b.txt"_s), u"b.txt"_s);
    }

    void currentFolderFollowsWorkingFolder()
    {
        TempTree key;
        DriveTable drives;
        drives.assign(key.root(), {});
        const auto restore = qScopeGuard([saved = QDir::currentPath()] { QDir::setCurrent(saved); });
        QVERIFY(QDir::setCurrent(key.createDir(u"Docs"_s)));
        QCOMPARE(drives.currentFolder(u'D'), u"D:\\Docs"_s);
        QCOMPARE(drives.currentFolder(u'C'), u"C:\\"_s);
        QCOMPARE(DrivePath::resolve(u"d: [X]"_s, drives), u"D:\\Docs"_s);
    }

    // The errors a key's medium gives, as the messages name them; the copy tests meet the others.
    void errnoTable_data()
    {
        QTest::addColumn<int>("err");
        QTest::addColumn<int>("number");
        QTest::addColumn<QString>("description");
        QTest::newRow("EIO") << EIO << 57 << "Erreur d'entrée/sortie de périphérique";
        QTest::newRow("ENOMEDIUM") << ENOMEDIUM << 71 << "Disque non prêt";
        QTest::newRow("EBUSY") << EBUSY << 75 << "Erreur d'accès au chemin/fichier";
    }
    void errnoTable()
    {
        QFETCH(int, err);
        QFETCH(int, number);
        QFETCH(QString, description);
        QCOMPARE(failureFromErrno(err).number(), number);
        QCOMPARE(failureFromErrno(err).description(), description);
    }
};

QTEST_GUILESS_MAIN(TestDrivePaths)
#include "test_drive_paths.moc"
