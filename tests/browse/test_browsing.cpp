#include "support/WindowChecks.h"

#include <QScopeGuard>
#include <QTest>

using namespace Qt::StringLiterals;

// A source volume D and a key E, both temporary folders.
struct BrowseFixture : WindowFixture
{
    BrowseFixture()
    {
        for (const QString &name : {u"Data/name.txt"_s, u"Data/other.txt"_s, u"top.txt"_s})
            source.createFile(name);
        for (const QString &name : {u"Photos/plage.jpg"_s, u"Docs/lettre.odt"_s, u"old.txt"_s})
            key.createFile(name);
        addDrive(source);
        addDrive(key, u"CLE"_s);
    }
    TempTree source, key;
};

class TestBrowsing : public QObject
{
    Q_OBJECT

private slots:
    void slotDestinationFollowsTheLastChange_data()
    {
        QTest::addColumn<QString>("working"); // the working folder, in the key, during the drive change
        QTest::addColumn<QString>("folders"); // opened in Dir1(2) after the drive change
        QTest::addColumn<QString>("destination");
        QTest::addColumn<QString>("files");
        QTest::newRow("drive change to a root") << "" << "" << "E:\\" << "old.txt";
        QTest::newRow("drive change into the working folder") << "Docs" << "" << "E:\\Docs\\" << "lettre.odt";
        QTest::newRow("folder change to a subfolder") << "" << "E:\\Photos" << "E:\\Photos\\" << "plage.jpg";
        QTest::newRow("folder change back to the root") << "" << "E:\\Photos|E:\\" << "E:\\" << "old.txt";
    }
    void slotDestinationFollowsTheLastChange()
    {
        QFETCH(QString, working);
        QFETCH(QString, folders);
        QFETCH(QString, destination);
        QFETCH(QString, files);
        BrowseFixture fixture;
        {
            const auto restore = qScopeGuard([saved = QDir::currentPath()] { QDir::setCurrent(saved); });
            QVERIFY(working.isEmpty() || QDir::setCurrent(fixture.key.path(working)));
            fixture.controls().Drive1[2]->setDrive(u"E"_s);
        }
        for (const QString &path : folders.split(u'|', Qt::SkipEmptyParts))
            fixture.controls().Dir1[2]->setPath(path);
        QCOMPARE(fixture.bas().CheminDest[2], destination);
        QCOMPARE(fixture.controls().Destin->caption(), destination);
        QCOMPARE(entries(*fixture.controls().File1[2]), QStringList{files});
        QVERIFY(fixture.bas().CheminDest[1].isEmpty());
    }

    // The source is the file picked, in the folder the list shows; a folder or drive change writes no source.
    void sourceFileIsThePickedFileInTheShownFolder()
    {
        BrowseFixture fixture;
        fixture.controls().Drive1[0]->setDrive(u"D"_s);
        QCOMPARE(fixture.controls().Chemin->caption(), u"D:\\"_s);
        QVERIFY(pick(fixture, 0, u"top.txt"_s));
        QCOMPARE(fixture.bas().FichSource, u"D:\\top.txt"_s); // one separator, at a root too
        fixture.controls().Dir1[0]->setPath(u"D:\\Data"_s);
        QCOMPARE(fixture.controls().Chemin->caption(), u"top.txt"_s);
        QVERIFY(fixture.bas().CheminDest[0].isEmpty());

        fixture.controls().Dir1[0]->setListIndex(-2); // moved to the parent, not opened
        QVERIFY(pick(fixture, 0, u"name.txt"_s));
        QCOMPARE(fixture.bas().FichSource, u"D:\\Data\\name.txt"_s);
        QCOMPARE(fixture.controls().Chemin->caption(), u"name.txt"_s);
        fixture.controls().Drive1[0]->setDrive(u"E"_s);
        QCOMPARE(fixture.controls().Chemin->caption(), u"E:\\"_s);
        QCOMPARE(fixture.bas().FichSource, u"D:\\Data\\name.txt"_s);
    }

    void slotFileClickReplacesTheDeleteName()
    {
        BrowseFixture fixture;
        fixture.controls().Drive1[4]->setDrive(u"E"_s);
        fixture.controls().FichKill->setText(u"quelque chose.txt"_s);
        QVERIFY(pick(fixture, 4, u"old.txt"_s));
        QCOMPARE(fixture.bas().NomKill, u"old.txt"_s);
        QCOMPARE(fixture.controls().FichKill->text(), u"old.txt"_s);
        QVERIFY(fixture.bas().FichSource.isEmpty());
    }

    // A drive that cannot be read sends the slot back, silently, to the key's current folder;
    // when the key cannot be read either, the slot stays on the last folder it read.
    void unreadableDriveGoesBackSilently_data()
    {
        QTest::addColumn<bool>("keyReadable");
        QTest::addColumn<QString>("folder");
        QTest::addColumn<QString>("destination");
        QTest::newRow("back to the key's root") << true << "E:\\" << "E:\\";
        QTest::newRow("key unreadable too") << false << "E:\\Photos" << "E:\\Photos\\";
    }
    void unreadableDriveGoesBackSilently()
    {
        QFETCH(bool, keyReadable);
        QFETCH(QString, folder);
        QFETCH(QString, destination);
        BrowseFixture fixture;
        TempTree gone;
        const QChar letter = fixture.addDrive(gone);
        QVERIFY(QDir(gone.root()).removeRecursively());
        fixture.controls().Drive1[3]->setDrive(u"E"_s);
        fixture.controls().Dir1[3]->setPath(u"E:\\Photos"_s);
        QVERIFY(keyReadable || QDir(fixture.key.root()).removeRecursively());

        fixture.controls().Drive1[3]->setDrive(QString(letter));
        QVERIFY(fixture.controls().Drive1[3]->drive().startsWith(u"e:"_s));
        QCOMPARE(fixture.bas().CheminDest[3], destination);
        QCOMPARE(fixture.controls().Dir1[3]->path(), folder);
        QVERIFY(fixture.messages.shown.isEmpty());
    }
};

QTEST_MAIN(TestBrowsing)
#include "test_browsing.moc"
