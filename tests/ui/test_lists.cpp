#include "drives/DriveTable.h"
#include "drives/Failure.h"
#include "support/TempTree.h"
#include "ui/DriveList.h"
#include "ui/EventGuard.h"
#include "ui/FileList.h"
#include "ui/FolderList.h"
#include "ui/FolderReading.h"

#include <QScopeGuard>
#include <QTest>

#include <algorithm>
#include <cerrno>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace {

// A temp tree that is drive D; names ending with '/' are made as folders.
struct KeyD
{
    explicit KeyD(const QStringList &names = {})
    {
        drives.assign(tree.root(), {}, u"CLE"_s);
        for (const QString &name : names) {
            if (name.endsWith(u'/'))
                tree.createDir(name);
            else
                tree.createFile(name);
        }
    }
    TempTree tree;
    DriveTable drives;
};

// The failure number f throws, 0 when it throws none.
template<typename F>
int failureOf(F &&f)
{
    try {
        f();
    } catch (const Failure &failure) {
        return failure.number();
    }
    return 0;
}

QStringList entries(const DriveList &list)
{
    QStringList texts;
    for (int i = 0; i < list.count(); ++i)
        texts << list.itemText(i);
    return texts;
}

// Through the window, as the platform delivers them: two quick clicks make a double click.
void clickRow(QListView &view, int row, bool twice = false)
{
    const QPoint centre = view.visualRect(view.model()->index(row, 0)).center();
    const QPoint at = view.viewport()->mapTo(view.window(), centre);
    if (twice)
        QTest::mouseDClick(view.window()->windowHandle(), Qt::LeftButton, {}, at);
    else
        QTest::mouseClick(view.window()->windowHandle(), Qt::LeftButton, {}, at);
}

} // namespace

class TestLists : public QObject
{
    Q_OBJECT

private:
    QList<int> m_reported;

private slots:
    void initTestCase()
    {
        setUnhandledFailureReporter([this](const Failure &failure) { m_reported << failure.number(); });
    }
    void init() { m_reported.clear(); }

    void nestedChangesRunInsideTheSet()
    {
        KeyD key;
        DriveList drive(key.drives);
        FolderList folder(key.drives);
        QCOMPARE(drive.drive(), u"c:"_s); // the working folder is not on the key
        QStringList calls;
        folder.setChangeHandler([&] { calls << u"folder "_s + folder.path(); });
        drive.setChangeHandler([&] {
            calls << u"drive "_s + drive.drive();
            folder.setPath(drive.drive());
            calls << u"drive done"_s;
        });
        drive.setDrive(u"D"_s);
        calls << u"returned"_s;
        QCOMPARE(calls, QStringList({u"drive d: [CLE]"_s, u"folder D:\\"_s, u"drive done"_s, u"returned"_s}));
    }

    void changesRaiseOnce_data()
    {
        QTest::addColumn<bool>("driveList");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("value");
        QTest::addColumn<QString>("sameValue");
        QTest::newRow("letter, then a path") << true << u"d"_s << u"d: [CLE]"_s << u"D:\\Other"_s;
        QTest::newRow("letter, then the entry text") << true << u"D"_s << u"d: [CLE]"_s << u"d: [CLE]"_s;
        QTest::newRow("root") << false << u"d:\\"_s << u"D:\\"_s << u"D:"_s;
        QTest::newRow("drive text") << false << u"d: [CLE]"_s << u"D:\\"_s << u"D:\\"_s;
        QTest::newRow("subfolder") << false << u"D:\\Docs"_s << u"D:\\Docs"_s << u"d:\\\\Docs\\"_s;
        QTest::newRow("normalised") << false << u"D:\\\\Docs\\.\\Sub\\"_s << u"D:\\Docs\\Sub"_s << u"D:\\Docs\\Sub"_s;
    }
    void changesRaiseOnce()
    {
        QFETCH(bool, driveList);
        QFETCH(QString, text);
        QFETCH(QString, value);
        QFETCH(QString, sameValue);
        KeyD key({u"Docs/Sub/"_s});
        DriveList drive(key.drives);
        FolderList folder(key.drives);
        int changes = 0;
        const auto fail = [&] {
            ++changes;
            throw failureFor(FailureNumber::DeviceIO);
        };
        drive.setChangeHandler(fail);
        folder.setChangeHandler(fail);
        const auto set = [&](const QString &to) { driveList ? drive.setDrive(to) : folder.setPath(to); };
        QCOMPARE(failureOf([&] { set(text); }), FailureNumber::DeviceIO);
        QCOMPARE(driveList ? drive.drive() : folder.path(), value); // set before the handler ran
        QCOMPARE(failureOf([&] { set(sameValue); }), 0);
        QCOMPARE(changes, 1);
    }

    void folderEntries_data()
    {
        QTest::addColumn<int>("n");
        QTest::addColumn<QString>("path");
        QTest::newRow("above the root") << -4 << u""_s;
        QTest::newRow("root") << -3 << u"D:\\"_s;
        QTest::newRow("parent") << -2 << u"D:\\Docs"_s;
        QTest::newRow("open folder") << -1 << u"D:\\Docs\\Sub"_s;
        QTest::newRow("first subfolder, lower case") << 0 << u"D:\\Docs\\Sub\\alpha"_s;
        QTest::newRow("second subfolder") << 1 << u"D:\\Docs\\Sub\\Beta"_s;
        QTest::newRow("link to a folder") << 3 << u"D:\\Docs\\Sub\\linked"_s;
        QTest::newRow("past the end") << 4 << u""_s;
    }
    void folderEntries()
    {
        QFETCH(int, n);
        QFETCH(QString, path);
        KeyD key({u"Docs/Sub/Gamma/"_s, u"Docs/Sub/Beta/"_s, u"Docs/Sub/alpha/"_s, u"Docs/Sub/.hidden/"_s,
                  u"Docs/Sub/back\\slash/"_s, u"Docs/Sub/file.txt"_s});
        QVERIFY(QFile::link(key.tree.path(u"Docs"_s), key.tree.path(u"Docs/Sub/linked"_s)));
        FolderList folder(key.drives);
        folder.setPath(u"D:\\Docs\\Sub"_s);
        QCOMPARE(folder.listCount(), 4);
        QCOMPARE(folder.listIndex(), -1);
        QCOMPARE(folder.model()->index(0, 0).data().toString(), u"d:\\"_s);
        QCOMPARE(folder.list(n), path);
        folder.setListIndex(n);
        QCOMPARE(folder.listIndex(), path.isEmpty() ? -1 : n);
    }

    void unreadableFolders_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("number");
        QTest::newRow("no text") << u""_s << 68;
        QTest::newRow("letter with no drive") << u"Q:\\"_s << 68;
        QTest::newRow("missing folder") << u"D:\\Nope\\Deeper"_s << 76;
        QTest::newRow("a file") << u"D:\\file.txt"_s << 76;
        QTest::newRow("root gone") << u"E:\\"_s << 71;
        QTest::newRow("below a root gone") << u"E:\\Docs"_s << 71;
    }
    void unreadableFolders()
    {
        QFETCH(QString, text);
        QFETCH(int, number);
        KeyD key({u"file.txt"_s});
        QCOMPARE(key.drives.assign(key.tree.path(u"gone"_s), {}), QLatin1Char('E'));
        FolderList folder(key.drives);
        folder.setChangeHandler([] { QFAIL("no change expected"); });
        const QString before = folder.path();
        QCOMPARE(failureOf([&] { folder.setPath(text); }), number);
        QCOMPARE(folder.path(), before);

        FileList files(key.drives);
        files.setPath(u"D:\\"_s);
        QCOMPARE(files.listCount(), 1);
        files.setPath(text);
        QCOMPARE(files.listCount(), 0);
        QCOMPARE(files.listIndex(), -1);
        QCOMPARE(failureOf([&] { files.refresh(); }), number);
    }

    // Being root, the tests cannot be refused a folder: the errno is given instead.
    void failureNumbers_data()
    {
        QTest::addColumn<int>("err");
        QTest::addColumn<bool>("rootListable");
        QTest::addColumn<int>("number");
        QTest::newRow("a file on the way") << ENOTDIR << true << 76;
        QTest::newRow("refused") << EACCES << true << 70;
        QTest::newRow("input/output") << EIO << true << 57;
        QTest::newRow("root refused") << EACCES << false << 71;
    }
    void failureNumbers()
    {
        QFETCH(int, err);
        QFETCH(bool, rootListable);
        QFETCH(int, number);
        QCOMPARE(FolderReading::failureNumber(err, rootListable), number);
    }

    void sortOrder_data()
    {
        QTest::addColumn<QStringList>("names");
        QTest::addColumn<QStringList>("sorted");
        QTest::newRow("case folded") << QStringList{u"b.txt"_s, u"A.txt"_s, u"c.TXT"_s}
                                     << QStringList{u"A.txt"_s, u"b.txt"_s, u"c.TXT"_s};
        QTest::newRow("ties by exact name") << QStringList{u"b"_s, u"B"_s, u"a"_s} << QStringList{u"a"_s, u"B"_s, u"b"_s};
        QTest::newRow("prefix first") << QStringList{u"abc"_s, u"ab"_s, u"A"_s} << QStringList{u"A"_s, u"ab"_s, u"abc"_s};
        QTest::newRow("accents folded") << QStringList{u"été"_s, u"Été"_s, u"étude"_s, u"Eta"_s}
                                        << QStringList{u"Eta"_s, u"étude"_s, u"Été"_s, u"été"_s};
    }
    void sortOrder()
    {
        QFETCH(QStringList, names);
        QFETCH(QStringList, sorted);
        FolderReading::sortNames(names);
        QCOMPARE(names, sorted);
        // refresh() searches the sorted names with lessByName: both must agree.
        QVERIFY(std::is_sorted(sorted.cbegin(), sorted.cend(), FolderReading::lessByName));
        QVERIFY(FolderReading::lessByName(sorted.first(), sorted.last()));
    }

    void eachListShowsItsKind()
    {
        KeyD key({u"b.txt"_s, u"A.txt"_s, u"c.TXT"_s, u"B.txt"_s, u".hidden"_s, u"back\\slash.txt"_s, u"Dir/"_s,
                  u"dir2/"_s, u".git/"_s, u"x\\y/"_s});
        const TempTree &tree = key.tree;
        QVERIFY(QFile::link(tree.path(u"A.txt"_s), tree.path(u"link.txt"_s)));
        QVERIFY(QFile::link(tree.path(u"nowhere"_s), tree.path(u"dangling"_s)));
        QVERIFY(QFile::link(tree.path(u"Dir"_s), tree.path(u"dirlink"_s)));
        QCOMPARE(mkfifo(QFile::encodeName(tree.path(u"pipe"_s)).constData(), 0600), 0);
        // Not UTF-8: it would not read back as itself. QTemporaryDir cannot remove it either.
        const QByteArray badName = QFile::encodeName(tree.root()).append("/bad\xff.txt");
        const int fd = ::open(badName.constData(), O_CREAT | O_WRONLY, 0600);
        QVERIFY(fd >= 0);
        ::close(fd);
        const auto removeBadName = qScopeGuard([&] { ::unlink(badName.constData()); });

        FileList files(key.drives);
        files.setPath(u"D:"_s);
        QStringList names;
        for (int i = -1; i <= files.listCount(); ++i)
            names << files.list(i);
        QCOMPARE(names, QStringList({u""_s, u"A.txt"_s, u"B.txt"_s, u"b.txt"_s, u"c.TXT"_s, u"link.txt"_s, u""_s}));
        FolderList folder(key.drives);
        folder.setPath(u"D:"_s);
        QCOMPARE(folder.listCount(), 3);
        QCOMPARE(folder.list(0), u"D:\\Dir"_s);
        QCOMPARE(folder.list(2), u"D:\\dirlink"_s);
    }

    void refreshKeepsTheCurrentEntryByName()
    {
        KeyD key({u"Box/b"_s, u"Box/d"_s, u"Box/F/e/"_s});
        FileList files(key.drives);
        files.setPath(u"D:\\Box"_s);
        files.setListIndex(1);
        FolderList folder(key.drives);
        folder.setPath(u"D:\\Box\\F"_s);
        folder.setListIndex(0);

        key.tree.createFile(u"Box/a"_s);
        key.tree.createFile(u"Box/c"_s);
        key.tree.createDir(u"Box/F/a"_s);
        files.refresh();
        folder.refresh();
        QCOMPARE(files.list(files.listIndex()), u"d"_s);
        QCOMPARE(folder.list(folder.listIndex()), u"D:\\Box\\F\\e"_s);

        QVERIFY(QFile::remove(key.tree.path(u"Box/d"_s)));
        files.refresh();
        QCOMPARE(files.listIndex(), -1);
        QCOMPARE(files.listCount(), 3);

        QVERIFY(QDir(key.tree.path(u"Box"_s)).removeRecursively());
        QCOMPARE(failureOf([&] { files.refresh(); }), FailureNumber::PathNotFound);
        QCOMPARE(files.listCount(), 0);
        QCOMPARE(files.path(), u"D:\\Box"_s);
        QCOMPARE(failureOf([&] { folder.refresh(); }), FailureNumber::PathNotFound);
        QCOMPARE(folder.path(), u"D:\\Box\\F"_s);
    }

    void operatorPicksAFile()
    {
        KeyD key({u"a"_s, u"b"_s, u"c"_s});
        FileList files(key.drives);
        QList<int> clicks;
        files.setClickHandler([&] {
            clicks << files.listIndex();
            throw failureFor(FailureNumber::FileNotFound);
        });
        files.setPath(u"D:\\"_s);
        files.show();
        QVERIFY(QTest::qWaitForWindowExposed(&files));

        clickRow(files, 1);
        QTest::keyClick(&files, Qt::Key_Down);
        QCOMPARE(clicks, QList<int>({1, 2}));
        QCOMPARE(m_reported, QList<int>({53, 53}));
        files.setListIndex(0);
        files.setPath(u"D:\\"_s);
        clickRow(files, 0, true);
        QCOMPARE(clicks, QList<int>({1, 2, 0}));
    }

    void operatorOpensAFolder()
    {
        KeyD key({u"Docs/A/"_s, u"Docs/B/"_s});
        FolderList folder(key.drives);
        folder.setPath(u"D:\\Docs"_s);
        QStringList changes;
        folder.setChangeHandler([&] { changes << folder.path(); });
        folder.show();
        QVERIFY(QTest::qWaitForWindowExposed(&folder));

        // Rows 0 and 1 are D:\ and Docs, the subfolders follow.
        clickRow(folder, 3);
        QCOMPARE(folder.listIndex(), 1);
        clickRow(folder, 2, true);
        QCOMPARE(changes, QStringList({u"D:\\Docs\\A"_s}));
        QCOMPARE(folder.listIndex(), -1);
        QTest::keyClick(&folder, Qt::Key_Up);
        QTest::keyClick(&folder, Qt::Key_Return);
        QCOMPARE(changes, QStringList({u"D:\\Docs\\A"_s, u"D:\\Docs"_s}));

        folder.setListIndex(1);
        QVERIFY(QDir(key.tree.path(u"Docs/B"_s)).removeRecursively());
        QTest::keyClick(&folder, Qt::Key_Enter);
        QCOMPARE(m_reported, QList<int>({76}));
        QCOMPARE(folder.path(), u"D:\\Docs"_s);
        QCOMPARE(changes.size(), 2);
    }

    void setDriveTakesTheFirstCharacter_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("drive");
        QTest::addColumn<int>("number");
        QTest::newRow("letter") << u"d"_s << u"d: [CLE]"_s << 0;
        QTest::newRow("folder path") << u"E:\\Docs"_s << u"e:"_s << 0;
        QTest::newRow("entry text") << u"e: [OLD]"_s << u"e:"_s << 0;
        QTest::newRow("no text") << u""_s << u"c:"_s << 68;
        QTest::newRow("letter with no drive") << u"Q"_s << u"c:"_s << 68;
        QTest::newRow("path on no drive") << u"q:\\x"_s << u"c:"_s << 68;
    }
    void setDriveTakesTheFirstCharacter()
    {
        QFETCH(QString, text);
        QFETCH(QString, drive);
        QFETCH(int, number);
        KeyD key;
        TempTree other;
        key.drives.assign(other.root(), {});
        DriveList list(key.drives);
        int changes = 0;
        list.setChangeHandler([&] { ++changes; });
        QCOMPARE(entries(list), QStringList({u"c:"_s, u"d: [CLE]"_s, u"e:"_s}));
        QCOMPARE(failureOf([&] { list.setDrive(text); }), number);
        QCOMPARE(list.drive(), drive);
        QCOMPARE(list.currentText(), drive);
        QCOMPARE(changes, number == 0 ? 1 : 0);
    }

    void driveListKeepsAVanishedCurrentDrive()
    {
        KeyD key;
        TempTree e;
        TempTree f;
        key.drives.assign(e.root(), {}, u"PARTIE"_s);
        key.drives.assign(f.root(), {});
        DriveList list(key.drives);
        list.setDrive(u"E"_s);
        key.drives.release(QLatin1Char('E'));
        const QStringList all{u"c:"_s, u"d: [CLE]"_s, u"e: [PARTIE]"_s, u"f:"_s};
        QCOMPARE(entries(list), all);
        QCOMPARE(list.drive(), u"e: [PARTIE]"_s);
        QCOMPARE(failureOf([&] { list.setDrive(u"e"_s); }), FailureNumber::DeviceUnavailable);

        list.setDrive(u"D"_s);
        QCOMPARE(entries(list), all);
        key.drives.release(QLatin1Char('F'));
        QCOMPARE(entries(list), QStringList({u"c:"_s, u"d: [CLE]"_s}));
    }

    void operatorPicksADrive()
    {
        KeyD key;
        DriveList list(key.drives);
        QStringList changes;
        list.setChangeHandler([&] {
            changes << list.drive();
            throw failureFor(FailureNumber::DiskNotReady);
        });
        QTest::keyClick(&list, Qt::Key_Down);
        QCOMPARE(changes, QStringList({u"d: [CLE]"_s}));
        QCOMPARE(m_reported, QList<int>({71}));
    }
};

QTEST_MAIN(TestLists)
#include "test_lists.moc"
