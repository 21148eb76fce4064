#pragma once

#include <QChar>
#include <QList>
#include <QObject>
#include <QString>

#include <optional>

// One lettered drive: its letter, the native folder it stands for, and what
// the mount table said of it.
struct Drive
{
    QChar letter;       ///< 'C'..'Z'
    QString root;       ///< native mount point, "/" for C
    QString source;     ///< the mount's source, e.g. /dev/sdb1
    QString label;      ///< volume label, possibly empty
    quint64 device = 0; ///< the root's device number when the letter was given
    quint64 serial = 0; ///< which giving of a letter this is: a volume that comes back is another
};

// The device a native path lies on, after links; 0 with errno set when it cannot be read.
quint64 deviceOf(const QString &path);

// Linux has no drive letters, so we hand them out: C is the root file system,
// each removable volume takes the lowest free letter from D when it is seen.
class DriveTable : public QObject
{
    Q_OBJECT
public:
    explicit DriveTable(QObject *parent = nullptr);

    // Gives the volume mounted at root the lowest free letter; a null QChar when D..Z are taken.
    // Without its device number, the root is looked at to find it.
    QChar assign(const QString &root, const QString &source, const QString &label = {}, quint64 device = 0);
    void release(QChar letter);

    std::optional<Drive> drive(QChar letter) const;
    quint64 serialOf(QChar letter) const; ///< 0 for C, or for a letter with no drive
    QList<Drive> drives() const; ///< by letter
    QChar letterOfRoot(const QString &root) const;

    // The drive whose root holds the native path (longest root wins); C at worst.
    QChar letterHolding(const QString &nativePath) const;

    // The drive's current folder as a drive path: the program's working folder for
    // the volume that held it at start, the root for every other volume.
    QString currentFolder(QChar letter) const;
    // Where the lists start: the working folder, as a drive path.
    QString startFolder() const { return currentFolder(letterHolding(m_workingFolder)); }

signals:
    void changed();

private:
    QList<Drive> m_drives;
    quint64 m_given = 0;
    QString m_workingFolder; ///< native, as the program started
    quint64 m_workingVolume = 0; ///< the serial of the drive that held it then
};
