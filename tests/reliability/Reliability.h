#pragma once

#include "copy/LinuxFileOperations.h"
#include "support/WindowFixture.h"

#include <QByteArray>
#include <QCryptographicHash>
#include <QFile>
#include <QMap>
#include <QRandomGenerator>
#include <QTest>

#include <functional>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace Reliability {

// Every entry below a folder, by relative native path (bytes, so that names that are
// not UTF-8 stay apart): "d" folder, "f <size> <sha1>" file, "l <target>" link, "o" other.
// Follows no link, crosses mount points.
inline QMap<QByteArray, QByteArray> snapshot(const QByteArray &root)
{
    QMap<QByteArray, QByteArray> entries;
    std::function<void(const QByteArray &)> walk = [&](const QByteArray &relative) {
        DIR *dir = opendir((relative.isEmpty() ? root : root + '/' + relative).constData());
        if (!dir)
            return;
        while (const dirent *entry = readdir(dir)) {
            const QByteArray name(entry->d_name);
            if (name == "." || name == "..")
                continue;
            const QByteArray rel = relative.isEmpty() ? name : relative + '/' + name;
            const QByteArray full = root + '/' + rel;
            struct stat status = {};
            if (lstat(full.constData(), &status) != 0) {
                entries.insert(rel, "?");
            } else if (S_ISDIR(status.st_mode)) {
                entries.insert(rel, "d");
                walk(rel);
            } else if (S_ISLNK(status.st_mode)) {
                char target[4096];
                const ssize_t n = readlink(full.constData(), target, sizeof target);
                entries.insert(rel, "l " + QByteArray(target, n < 0 ? 0 : qsizetype(n)));
            } else if (S_ISREG(status.st_mode)) {
                QFile file(QFile::decodeName(full));
                QCryptographicHash hash(QCryptographicHash::Sha1);
                if (file.open(QIODevice::ReadOnly))
                    hash.addData(&file);
                entries.insert(rel, "f " + QByteArray::number(qint64(status.st_size)) + ' ' + hash.result().toHex());
            } else {
                entries.insert(rel, "o");
            }
        }
        closedir(dir);
    };
    walk({});
    return entries;
}

inline QMap<QByteArray, QByteArray> snapshot(const QString &root)
{
    return snapshot(QFile::encodeName(root));
}

// How snapshot() records a file holding `content`.
inline QByteArray fileEntry(const QByteArray &content)
{
    return "f " + QByteArray::number(content.size()) + ' '
        + QCryptographicHash::hash(content, QCryptographicHash::Sha1).toHex();
}

// The copy's temporary files among the entries.
inline QList<QByteArray> temporaries(const QMap<QByteArray, QByteArray> &entries)
{
    QList<QByteArray> found;
    for (const QByteArray &path : entries.keys()) {
        const QByteArray name = path.mid(path.lastIndexOf('/') + 1);
        if (name.startsWith(".essaimeur-") && name.endsWith(".tmp"))
            found << path;
    }
    return found;
}

// The real file operations, with hooks a test uses to break things while a copy runs.
// The hooks run on the copying thread.
class FaultingFiles : public FileOperations
{
public:
    // Called before the n-th copy (from 1).
    std::function<void(int copy)> beforeCopy;
    // Called once per copy, when a quarter of its progress is reached: half of the writing.
    std::function<void(int copy)> duringCopy;

    int copies() const { return m_copies; }

    void copyFile(const QString &source, const QString &target, const Progress &progress) override
    {
        const int copy = ++m_copies;
        if (beforeCopy)
            beforeCopy(copy);
        bool fired = false;
        m_real.copyFile(source, target, [&](qint64 done, qint64 total) {
            if (progress)
                progress(done, total);
            if (!fired && duringCopy && done * 4 >= total && total > 0) {
                fired = true;
                duringCopy(copy);
            }
        });
    }
    void deleteMatching(const QString &folder, const QString &name) override { m_real.deleteMatching(folder, name); }

private:
    LinuxFileOperations m_real;
    int m_copies = 0;
};

// Picks a file in the source list (index 0), as the operator's click does.
inline bool pickSource(WindowFixture &fixture, const QString &name)
{
    FileList &files = *fixture.controls().File1[0];
    for (int n = 0; n < files.listCount(); ++n) {
        if (files.list(n) == name) {
            files.setListIndex(n);
            fixture.window->File1_Click(0);
            return true;
        }
    }
    return false;
}

inline QStringList listed(FileList &files)
{
    QStringList names;
    for (int n = 0; n < files.listCount(); ++n)
        names << files.list(n);
    return names;
}

inline QByteArray randomContent(qsizetype size, quint32 seed)
{
    QByteArray bytes(size, Qt::Uninitialized);
    QRandomGenerator generator(seed);
    generator.fillRange(reinterpret_cast<quint32 *>(bytes.data()), size / 4);
    for (qsizetype i = size / 4 * 4; i < size; ++i)
        bytes[i] = char(generator.generate());
    return bytes;
}

} // namespace Reliability
