#include "copy/DeleteName.h"
#include "copy/LinuxFileOperations.h"
#include "CopyChecks.h"
#include "ScriptedCalls.h"
#include "support/TempTree.h"

#include <QFile>
#include <QTest>

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

using namespace CopyChecks;
using Kind = ScriptedCalls::Kind;

namespace {

const QByteArray NotUtf8 = QByteArrayLiteral("\xff\xfe.txt");

// Every entry of a folder, names as stored.
QSet<QByteArray> entriesOf(const QString &folder)
{
    QSet<QByteArray> names;
    if (DIR *dir = opendir(QFile::encodeName(folder).constData())) {
        while (const dirent *entry = readdir(dir))
            names << QByteArray(entry->d_name);
        closedir(dir);
    }
    names -= QSet<QByteArray>{".", ".."};
    return names;
}

// A key folder holding files, folders and links whose names the patterns may reach.
struct KeyFolder
{
    KeyFolder()
    {
        for (const char *name : {"a.txt", "B.TXT", "ab.txt", "[x].txt", "x.txt", "c.doc", "noext", ".hidden",
                                 "readme.md", "README.MD", "ReadMe.md", "été.txt"})
            tree.createFile(QStringLiteral("keys/") + QString::fromUtf8(name));
        tree.createFile(QStringLiteral("keys/sub/inner.txt"));
        tree.createDir(QStringLiteral("keys/dir.txt"));
        tree.createFile(QStringLiteral("outside/secret.txt"));
        QFile::link(tree.path(QStringLiteral("outside/secret.txt")), tree.path(QStringLiteral("keys/link.txt")));
        QFile::link(tree.path(QStringLiteral("keys/sub")), tree.path(QStringLiteral("keys/dirlink.txt")));
        const QByteArray odd = QFile::encodeName(tree.path(QStringLiteral("keys/"))) + NotUtf8;
        ::close(::open(odd.constData(), O_CREAT | O_WRONLY, 0644));
        initial = entriesOf(keys());
    }
    QString keys() const { return tree.path(QStringLiteral("keys")); }

    TempTree tree;
    QSet<QByteArray> initial;
};

} // namespace

class TestCopyDelete : public QObject
{
    Q_OBJECT

private slots:
    void matchesNames_data()
    {
        QTest::addColumn<QString>("pattern");
        QTest::addColumn<QByteArray>("name");
        QTest::addColumn<bool>("matches");
        QTest::newRow("case") << "Readme.TXT" << QByteArray("README.txt") << true;
        QTest::newRow("accents case") << "ÉTÉ.TXT" << QByteArray("été.txt") << true;
        QTest::newRow("star extension") << "*.txt" << QByteArray("a.TXT") << true;
        QTest::newRow("star other extension") << "*.txt" << QByteArray("a.txt.doc") << false;
        QTest::newRow("question one char") << "A?.TXT" << QByteArray("ab.txt") << true;
        QTest::newRow("question not two") << "A?.TXT" << QByteArray("abc.txt") << false;
        QTest::newRow("question not none") << "A?.TXT" << QByteArray("a.txt") << false;
        QTest::newRow("question one code point") << "?" << QByteArray("é") << true;
        QTest::newRow("star dot star no dot") << "*.*" << QByteArray("noext") << true;
        QTest::newRow("stem dot star bare stem") << "a.*" << QByteArray("a") << true;
        QTest::newRow("stem dot star longer stem") << "a.*" << QByteArray("ab") << false;
        QTest::newRow("star hidden") << "*" << QByteArray(".hidden") << true;
        QTest::newRow("star newline") << "*" << QByteArray("a\nb") << true;
        QTest::newRow("brackets literal") << "[x].txt" << QByteArray("[X].TXT") << true;
        QTest::newRow("brackets no class") << "[x].txt" << QByteArray("x.txt") << false;
        QTest::newRow("regex characters literal") << "a+b(1)$^.txt" << QByteArray("a+b(1)$^.txt") << true;
        QTest::newRow("dot literal") << "a.txt" << QByteArray("abtxt") << false;
        QTest::newRow("not utf-8 by star") << "*.txt" << NotUtf8 << true;
        QTest::newRow("not utf-8 by questions") << "??.txt" << NotUtf8 << true;
        QTest::newRow("not utf-8 by replacement") << "\uFFFD\uFFFD.txt" << NotUtf8 << false;
        QTest::newRow("not utf-8 by latin-1") << "ÿþ.txt" << NotUtf8 << false;
        QTest::newRow("overlong two bytes") << "?.txt" << QByteArray("\xc0\xaf.txt") << false;
        QTest::newRow("overlong three bytes") << "?.txt" << QByteArray("\xe0\x80\xaf.txt") << false;
        QTest::newRow("encoded surrogate") << "???.txt" << QByteArray("\xed\xa0\x80.txt") << true;
        QTest::newRow("truncated sequence") << "?.txt" << QByteArray("\xe2\x82.txt") << false;
        QTest::newRow("four-byte code point") << "?.txt" << QByteArray("\xf0\x9f\x98\x80.txt") << true;
    }
    void matchesNames()
    {
        QFETCH(QString, pattern);
        QFETCH(QByteArray, name);
        QFETCH(bool, matches);
        QVERIFY(DeleteName::isAcceptable(pattern));
        QCOMPARE(DeleteName::matches(DeleteName::matcher(pattern), name), matches);
    }

    void deletesMatchingFiles_data()
    {
        QTest::addColumn<QString>("folder");
        QTest::addColumn<QString>("name");
        QTest::addColumn<int>("number");
        QTest::addColumn<QList<QByteArray>>("deleted");
        const QString keys = QStringLiteral("keys");
        const QList<QByteArray> none;
        const QList<QByteArray> allFiles = {"a.txt", "B.TXT", "ab.txt", "[x].txt", "x.txt", "c.doc", "noext", ".hidden",
                                            "readme.md", "README.MD", "ReadMe.md", "été.txt", NotUtf8};
        QTest::newRow("exact name") << keys << "c.doc" << 0 << QList<QByteArray>{"c.doc"};
        QTest::newRow("case variants") << keys << "readme.md" << 0 << QList<QByteArray>{"readme.md", "README.MD", "ReadMe.md"};
        QTest::newRow("accents case") << keys << "ÉTÉ.TXT" << 0 << QList<QByteArray>{"été.txt"};
        QTest::newRow("star extension") << keys << "*.txt" << 0
            << QList<QByteArray>{"a.txt", "B.TXT", "ab.txt", "[x].txt", "x.txt", "été.txt", NotUtf8};
        QTest::newRow("question") << keys << "A?.TXT" << 0 << QList<QByteArray>{"ab.txt"};
        QTest::newRow("brackets") << keys << "[x].txt" << 0 << QList<QByteArray>{"[x].txt"};
        QTest::newRow("no extension by dot star") << keys << "noext.*" << 0 << QList<QByteArray>{"noext"};
        QTest::newRow("star dot star") << keys << "*.*" << 0 << allFiles;
        QTest::newRow("star") << keys << "*" << 0 << allFiles;
        QTest::newRow("nothing matches") << keys << "nothing*" << 53 << none;
        QTest::newRow("only a folder") << keys << "sub" << 53 << none;
        QTest::newRow("only a link") << keys << "link.txt" << 53 << none;
        QTest::newRow("not in subfolders") << keys << "inner.txt" << 53 << none;
        QTest::newRow("missing folder") << "nokeys" << "*" << 76 << none;
        QTest::newRow("folder is a file") << "keys/c.doc" << "*" << 76 << none;
        for (const char *refused : {"..", ".", "a..b", "a\\b", "a/b", "/etc/passwd", "..\\*", "\x01name", "x\x7f", ""})
            QTest::addRow("refused %s", refused) << keys << QString::fromUtf8(refused) << 52 << none;
    }
    void deletesMatchingFiles()
    {
        QFETCH(QString, folder);
        QFETCH(QString, name);
        QFETCH(int, number);
        QFETCH(QList<QByteArray>, deleted);
        const KeyFolder key;
        LinuxFileOperations files;

        QCOMPARE(deleteOutcome(files, key.tree.path(folder), name), number);
        QCOMPARE(entriesOf(key.keys()), key.initial - QSet<QByteArray>(deleted.cbegin(), deleted.cend()));
        QVERIFY(QFile::exists(key.tree.path(QStringLiteral("keys/sub/inner.txt"))));
        QVERIFY(QFile::exists(key.tree.path(QStringLiteral("outside/secret.txt"))));
    }

    void failedRemovalsDoNotStopTheOthers_data()
    {
        QTest::addColumn<int>("kind");
        QTest::addColumn<int>("err");
        QTest::addColumn<int>("number");
        QTest::addColumn<qsizetype>("left");
        QTest::newRow("unlink refused") << int(Kind::Unlink) << EACCES << 70 << qsizetype(1);
        QTest::newRow("unlink fails") << int(Kind::Unlink) << EIO << 57 << qsizetype(1);
        QTest::newRow("status unreadable") << int(Kind::Fstatat) << EIO << 57 << qsizetype(1);
        QTest::newRow("folder unreadable") << int(Kind::ReadDir) << EIO << 57 << qsizetype(3);
    }
    void failedRemovalsDoNotStopTheOthers()
    {
        QFETCH(int, kind);
        QFETCH(int, err);
        QFETCH(int, number);
        QFETCH(qsizetype, left);
        const KeyFolder key;
        ScriptedCalls calls;
        calls.failCall(Kind(kind), 1, err);
        LinuxFileOperations files(calls);

        QCOMPARE(deleteOutcome(files, key.keys(), QStringLiteral("readme.md")), number);
        const QSet<QByteArray> readmes = {"readme.md", "README.MD", "ReadMe.md"};
        QCOMPARE((entriesOf(key.keys()) & readmes).size(), left);
        QCOMPARE(entriesOf(key.keys()) - readmes, key.initial - readmes);
    }
};

QTEST_GUILESS_MAIN(TestCopyDelete)
#include "test_copy_delete.moc"
