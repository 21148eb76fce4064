#pragma once

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QRandomGenerator>
#include <QTemporaryDir>

// A throw-away folder tree for file-system tests.
class TempTree
{
public:
    QString root() const { return m_dir.path(); }
    QString path(const QString &relative) const { return m_dir.filePath(relative); }
    QString createDir(const QString &relative) const
    {
        QDir().mkpath(path(relative));
        return path(relative);
    }
    QString createFile(const QString &relative, const QByteArray &content = "x") const
    {
        QDir().mkpath(QFileInfo(path(relative)).absolutePath());
        QFile file(path(relative));
        return file.open(QIODevice::WriteOnly) && file.write(content) == content.size() ? path(relative) : QString();
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

private:
    QTemporaryDir m_dir;
};
