#pragma once

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QString>
#include <QTemporaryDir>

// A throw-away folder tree for file-system tests.
class TempTree
{
public:
    TempTree() { Q_ASSERT(m_dir.isValid()); }

    QString root() const { return m_dir.path(); }
    QString path(const QString &relative) const { return m_dir.filePath(relative); }

    QString createDir(const QString &relative) const
    {
        QDir().mkpath(path(relative));
        return path(relative);
    }

    QString createFile(const QString &relative, const QByteArray &content = QByteArrayLiteral("x")) const
    {
        const QString full = path(relative);
        QDir().mkpath(QFileInfo(full).absolutePath());
        QFile file(full);
        if (file.open(QIODevice::WriteOnly))
            file.write(content);
        return full;
    }

    static QByteArray read(const QString &full)
    {
        QFile file(full);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

private:
    QTemporaryDir m_dir;
};
