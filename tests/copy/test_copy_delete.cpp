#include "copy/LinuxFileOperations.h"
#include "CopyChecks.h"
#include "ScriptedCalls.h"
#include "support/TempTree.h"

#include <QTest>

#include <fcntl.h>
#include <unistd.h>

const QString NotUtf8 = QFile::decodeName("\xff\xfe.txt");

// A key folder holding files, a folder, a subfolder, a link out and a copy being written.
struct KeyFolder
{
    KeyFolder()
    {
        for (const char *name : {"a.txt", "B.TXT", "ab.txt", "c.doc", "noext", ".hidden", "readme.md", "README.MD", "été.txt",
                                 ".essaimeur-encours.tmp", "sub/inner.txt"})
            tree.createFile(QStringLiteral("keys/") + QString::fromUtf8(name));
        tree.createDir(QStringLiteral("keys/dir.txt"));
        QFile::link(tree.createFile(QStringLiteral("outside/secret.txt")), tree.path(QStringLiteral("keys/link.txt")));
        ::close(::open(QFile::encodeName(tree.path(QStringLiteral("keys/") + NotUtf8)).constData(), O_CREAT | O_WRONLY, 0644));
        initial = entries();
    }
    QString keys() const { return tree.path(QStringLiteral("keys")); }
    QStringList entries() const { return QDir(keys()).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot); }
    TempTree tree;
    QStringList initial;
};

class TestCopyDelete : public QObject
{
    Q_OBJECT

private slots:
    // Only the regular files of the folder whose names match, case ignored, are deleted: not
    // folders, links, what subfolders hold, copies being written or the spared name.
    void deletesMatchingFiles_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("spared");
        QTest::addColumn<int>("number");
        QTest::addColumn<QStringList>("deleted");
        QTest::newRow("case variants") << "README.md" << "" << 0 << QStringList{"readme.md", "README.MD"};
        QTest::newRow("accents, case") << "ÉTÉ.TXT" << "" << 0 << QStringList{"été.txt"};
        QTest::newRow("star") << "*.TXT" << "" << 0 << QStringList{"a.txt", "B.TXT", "ab.txt", "été.txt", NotUtf8};
        QTest::newRow("question mark") << "A?.txt" << "" << 0 << QStringList{"ab.txt"};
        QTest::newRow("star dot star") << "*.*" << "" << 0
            << QStringList{"a.txt", "B.TXT", "ab.txt", "c.doc", "noext", ".hidden", "readme.md", "README.MD", "été.txt", NotUtf8};
        QTest::newRow("spared, exact") << "a.txt" << "a.txt" << 53 << QStringList();
        QTest::newRow("spared, by a wildcard") << "*.txt" << "a.txt" << 0 << QStringList{"B.TXT", "ab.txt", "été.txt", NotUtf8};
        QTest::newRow("spared, other case") << "README.*" << "readme.MD" << 53 << QStringList();
        QTest::newRow("no match") << "nothing*" << "" << 53 << QStringList();
        for (const char *refused : {".", "..\\*", "sub/*", "", "\x01*"})
            QTest::addRow("refused \"%s\"", QByteArray(refused).toPercentEncoding("*/\\").constData())
                << QString::fromUtf8(refused) << "" << 52 << QStringList();
    }
    void deletesMatchingFiles()
    {
        QFETCH(QString, name);
        QFETCH(QString, spared);
        QFETCH(int, number);
        QFETCH(QStringList, deleted);
        const KeyFolder key;
        QCOMPARE(failureOf([&] { LinuxFileOperations().deleteMatching(key.keys(), name, {0, spared, {}}); }), number);
        QStringList left = key.initial;
        for (const QString &gone : deleted)
            QVERIFY(left.removeOne(gone));
        QCOMPARE(key.entries(), left);
    }

    void failedRemovalDoesNotStopTheOthers()
    {
        const KeyFolder key;
        ScriptedCalls calls;
        calls.failCall(ScriptedCalls::Unlink, 1, EACCES);
        QCOMPARE(failureOf([&] { LinuxFileOperations(calls).deleteMatching(key.keys(), QStringLiteral("readme.md")); }), 70);
        QCOMPARE(key.entries().size(), key.initial.size() - 1); // the other one is deleted
    }
};

QTEST_GUILESS_MAIN(TestCopyDelete)
#include "test_copy_delete.moc"
