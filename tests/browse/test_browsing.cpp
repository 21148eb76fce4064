#include "support/WindowFixture.h"

#include <QTest>

// A source volume D and a key E, both temporary folders.
class BrowseFixture : public WindowFixture
{
public:
    BrowseFixture()
    {
        source.createFile(QStringLiteral("Data/name.txt"));
        source.createFile(QStringLiteral("Data/other.txt"));
        source.createFile(QStringLiteral("top.txt"));
        key.createFile(QStringLiteral("Photos/plage.jpg"));
        key.createFile(QStringLiteral("Docs/lettre.odt"));
        key.createFile(QStringLiteral("old.txt"));
        addDrive(source);
        addDrive(key, QStringLiteral("CLE"));
    }

    void pick(int index, const QString &name)
    {
        FileList &files = *controls().File1[index];
        for (int n = 0; n < files.listCount(); ++n) {
            if (files.list(n) == name)
                files.setListIndex(n);
        }
        window->File1_Click(index);
    }

    TempTree source, key;
};

class TestBrowsing : public QObject
{
    Q_OBJECT

private slots:
    void slotDestinationFollowsTheLastChange_data()
    {
        QTest::addColumn<QString>("folder"); // opened in Dir1(2) after the drive change, "" for none
        QTest::addColumn<QString>("destination");
        QTest::newRow("drive change to a root") << "" << "E:\\";
        QTest::newRow("folder change to a subfolder") << "E:\\Photos" << "E:\\Photos\\";
        QTest::newRow("folder change back to the root") << "E:\\Photos|E:\\" << "E:\\\\";
    }
    void slotDestinationFollowsTheLastChange()
    {
        QFETCH(QString, folder);
        QFETCH(QString, destination);
        BrowseFixture fixture;
        fixture.controls().Drive1[2]->setDrive(QStringLiteral("E"));
        for (const QString &path : folder.split(QLatin1Char('|'), Qt::SkipEmptyParts))
            fixture.controls().Dir1[2]->setPath(path);
        QCOMPARE(fixture.bas().CheminDest[2], destination);
        QCOMPARE(fixture.controls().Destin->caption(), destination);
        QVERIFY(fixture.bas().CheminDest[1].isEmpty());
        if (folder == QLatin1String("E:\\Photos")) {
            QCOMPARE(fixture.controls().File1[2]->listCount(), 1);
            QCOMPARE(fixture.controls().File1[2]->list(0), QStringLiteral("plage.jpg"));
        }
    }

    void driveChangeIntoASubfolderEndsWithASeparator()
    {
        BrowseFixture fixture;
        const QString saved = QDir::currentPath();
        QDir::setCurrent(fixture.key.path(QStringLiteral("Docs")));
        fixture.controls().Drive1[3]->setDrive(QStringLiteral("E"));
        QDir::setCurrent(saved);
        QCOMPARE(fixture.controls().Dir1[3]->path(), QStringLiteral("E:\\Docs"));
        QCOMPARE(fixture.bas().CheminDest[3], QStringLiteral("E:\\Docs\\"));
    }

    void sourceFileIsThePickedFileInTheShownFolder()
    {
        BrowseFixture fixture;
        fixture.controls().Drive1[0]->setDrive(QStringLiteral("D"));
        QCOMPARE(fixture.controls().Chemin->caption(), QStringLiteral("D:\\"));
        fixture.controls().Dir1[0]->setPath(QStringLiteral("D:\\Data"));
        QCOMPARE(fixture.controls().Chemin->caption(), QStringLiteral("D:\\")); // a folder change writes no label
        QVERIFY(fixture.bas().CheminDest[0].isEmpty());

        fixture.controls().Dir1[0]->setListIndex(-2); // moved to the parent, not opened
        fixture.pick(0, QStringLiteral("name.txt"));
        QCOMPARE(fixture.bas().FichSource, QStringLiteral("D:\\Data\\name.txt"));
        QCOMPARE(fixture.controls().Chemin->caption(), QStringLiteral("name.txt"));

        // Another drive on the source side shows its folder but keeps the source file.
        fixture.controls().Drive1[0]->setDrive(QStringLiteral("E"));
        QCOMPARE(fixture.controls().Chemin->caption(), QStringLiteral("E:\\"));
        QCOMPARE(fixture.bas().FichSource, QStringLiteral("D:\\Data\\name.txt"));
    }

    void sourceFileAtARootHasTwoSeparators()
    {
        BrowseFixture fixture;
        fixture.controls().Drive1[0]->setDrive(QStringLiteral("D"));
        fixture.pick(0, QStringLiteral("top.txt"));
        QCOMPARE(fixture.bas().FichSource, QStringLiteral("D:\\\\top.txt"));
    }

    void slotFileClickReplacesTheDeleteName()
    {
        BrowseFixture fixture;
        fixture.controls().Drive1[4]->setDrive(QStringLiteral("E"));
        fixture.controls().FichKill->setText(QStringLiteral("quelque chose.txt"));
        fixture.pick(4, QStringLiteral("old.txt"));
        QCOMPARE(fixture.bas().NomKill, QStringLiteral("old.txt"));
        QCOMPARE(fixture.controls().FichKill->text(), QStringLiteral("old.txt"));
        QVERIFY(fixture.bas().FichSource.isEmpty());
    }

    void clickWithoutAnEntryRecordsNothing()
    {
        BrowseFixture fixture;
        fixture.controls().Drive1[0]->setDrive(QStringLiteral("D"));
        fixture.controls().Drive1[5]->setDrive(QStringLiteral("E"));
        fixture.window->File1_Click(0);
        fixture.window->File1_Click(5);
        QVERIFY(fixture.bas().FichSource.isEmpty());
        QVERIFY(fixture.bas().NomKill.isEmpty());
        QCOMPARE(fixture.controls().Chemin->caption(), QStringLiteral("D:\\"));
    }

    void unreadableDriveGoesBackSilently()
    {
        BrowseFixture fixture;
        TempTree gone;
        const QChar letter = fixture.addDrive(gone);
        QVERIFY(QDir(gone.root()).removeRecursively());
        fixture.controls().Drive1[3]->setDrive(QStringLiteral("E"));
        fixture.controls().Dir1[3]->setPath(QStringLiteral("E:\\Docs"));

        fixture.controls().Drive1[3]->setDrive(QString(letter));
        QVERIFY(fixture.controls().Drive1[3]->drive().startsWith(QLatin1String("e:")));
        // The nested drive change opens the restored drive's current folder and records it,
        // as any drive change does.
        QCOMPARE(fixture.controls().Dir1[3]->path(), QStringLiteral("E:\\"));
        QCOMPARE(fixture.bas().CheminDest[3], QStringLiteral("E:\\"));
        QVERIFY(fixture.messages.shown.isEmpty());
    }

    void failedRecoveryStopsOnTheLastReadableFolder()
    {
        BrowseFixture fixture;
        TempTree gone;
        const QChar letter = fixture.addDrive(gone);
        QVERIFY(QDir(gone.root()).removeRecursively());
        fixture.controls().Drive1[3]->setDrive(QStringLiteral("E"));
        fixture.controls().Dir1[3]->setPath(QStringLiteral("E:\\Photos"));
        QVERIFY(QDir(fixture.key.root()).removeRecursively()); // the key's volume can no longer be read

        fixture.controls().Drive1[3]->setDrive(QString(letter));
        QCOMPARE(fixture.controls().Dir1[3]->path(), QStringLiteral("E:\\Photos"));
        QCOMPARE(fixture.bas().CheminDest[3], QStringLiteral("E:\\Photos\\"));
        QVERIFY(fixture.messages.shown.isEmpty());
    }
};

QTEST_MAIN(TestBrowsing)
#include "test_browsing.moc"
