#include "drives/DriveTable.h"

#include "drives/DrivePath.h"

#include <QDir>
#include <QFile>

#include <sys/stat.h>

#include <algorithm>

quint64 deviceOf(const QString &path)
{
    struct stat status = {};
    return ::stat(QFile::encodeName(path).constData(), &status) == 0 ? quint64(status.st_dev) : 0;
}

DriveTable::DriveTable(QObject *parent)
    : QObject(parent)
    , m_workingFolder(QDir::currentPath())
{
    m_drives.append(Drive{QLatin1Char('C'), QStringLiteral("/"), QString(), QString()});
}

QChar DriveTable::assign(const QString &root, const QString &source, const QString &label, quint64 device)
{
    for (char16_t c = u'D'; c <= u'Z'; ++c) {
        const QChar letter(c);
        if (drive(letter))
            continue;
        const Drive added{letter, QDir::cleanPath(root), source, label, device ? device : deviceOf(root), ++m_given};
        const auto at = std::lower_bound(m_drives.begin(), m_drives.end(), letter,
                                         [](const Drive &d, QChar l) { return d.letter < l; });
        m_drives.insert(at, added);
        if (m_workingVolume == 0 && letterHolding(m_workingFolder) == letter)
            m_workingVolume = added.serial;
        emit changed();
        return letter;
    }
    return {};
}

void DriveTable::release(QChar letter)
{
    if (letter == QLatin1Char('C'))
        return;
    const auto removed = m_drives.removeIf([letter](const Drive &d) { return d.letter == letter; });
    if (removed > 0)
        emit changed();
}

std::optional<Drive> DriveTable::drive(QChar letter) const
{
    const QChar upper = letter.toUpper();
    for (const Drive &d : m_drives) {
        if (d.letter == upper)
            return d;
    }
    return std::nullopt;
}

quint64 DriveTable::serialOf(QChar letter) const
{
    return drive(letter).value_or(Drive()).serial;
}

QList<Drive> DriveTable::drives() const
{
    return m_drives;
}

QChar DriveTable::letterOfRoot(const QString &root) const
{
    const QString clean = QDir::cleanPath(root);
    for (const Drive &d : m_drives) {
        if (d.root == clean)
            return d.letter;
    }
    return {};
}

QChar DriveTable::letterHolding(const QString &nativePath) const
{
    const QString clean = QDir::cleanPath(nativePath);
    QChar best = QLatin1Char('C');
    qsizetype bestLength = 0;
    for (const Drive &d : m_drives) {
        const bool holds =
            d.root == QLatin1String("/") || clean == d.root || clean.startsWith(d.root + QLatin1Char('/'));
        if (holds && d.root.size() > bestLength) {
            best = d.letter;
            bestLength = d.root.size();
        }
    }
    return best;
}

QString DriveTable::currentFolder(QChar letter) const
{
    if (letterHolding(m_workingFolder) == letter.toUpper() && serialOf(letter) == m_workingVolume) {
        const QString asDrivePath = DrivePath::fromNative(m_workingFolder, *this);
        if (!asDrivePath.isEmpty())
            return asDrivePath;
    }
    return DrivePath::format(letter.toUpper(), {});
}
