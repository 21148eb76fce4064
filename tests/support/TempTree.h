#pragma once

#include <QDir>
#include <QFile>
#include <QRandomGenerator>
#include <QTemporaryDir>

// A throw-away folder tree for file-system tests.
struct TempTree : private QTemporaryDir
{
    QString root() const { return QTemporaryDir::path(); }
    QString path(const QString &relative) const { return filePath(relative); }
    QString createDir(const QString &relative) const
    {
        return QDir().mkpath(path(relative)) ? path(relative) : QString();
    }
    QString createFile(const QString &relative, const QByteArray &content = "x") const
    {
        QFile file(path(relative));
        const bool made = QDir().mkpath(QFileInfo(file).path()) && file.open(QIODevice::WriteOnly);
        return made && file.write(content) == content.size() ? file.fileName() : QString();
    }
    static QByteArray read(const QString &full)
    {
        QFile file(full);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }
    static QByteArray random(qsizetype size, quint32 seed = 1)
    {
        QByteArray bytes(size + 3, Qt::Uninitialized);
        QRandomGenerator(seed).fillRange(reinterpret_cast<quint32 *>(bytes.data()), bytes.size() / 4);
        return bytes.left(size);
    }
};
