#pragma once

#include "devices/NotificationSource.h"
#include "drives/DriveTable.h"

#include <QObject>
#include <QStringList>

#include <bit>
#include <functional>
#include <initializer_list>

// The letter a unit mask names, '?' for a mask that is not exactly one letter.
inline QChar letterOfMask(qint32 mask)
{
    const auto bits = quint32(mask);
    return std::popcount(bits) == 1 ? QChar(char16_t(u'A' + std::countr_zero(bits))) : QLatin1Char('?');
}

// QStringList{"..."} for a build that forbids casts from ASCII.
inline QStringList strings(std::initializer_list<const char *> items)
{
    QStringList list;
    for (const char *item : items)
        list << QString::fromUtf8(item);
    return list;
}

// Records what a source hands its handlers, with the drive table as the handler found it.
class VolumeRecorder : public QObject
{
    Q_OBJECT
public:
    struct Seen
    {
        bool arrival = true;
        QChar letter;
        VolumeNotification notification;
        QString root; ///< the letter's root in the drive table during the handler, "" if none
    };

    VolumeRecorder(NotificationSource &source, const DriveTable &drives)
        : m_drives(drives)
    {
        source.setHandlers([this](const VolumeNotification &n) { record(true, n); },
                           [this](const VolumeNotification &n) { record(false, n); });
    }

    // "+D /dev/sdb1 0" for an arrival, "-D ..." for a removal; '?' for a wrong device type or mask.
    QStringList lines() const
    {
        QStringList result;
        for (const Seen &s : seen) {
            result << QString(s.arrival ? QLatin1Char('+') : QLatin1Char('-'))
                    + (s.notification.deviceType == 2 ? s.letter : QLatin1Char('?')) + QLatin1Char(' ')
                    + s.notification.deviceName + QLatin1Char(' ') + QString::number(s.notification.deviceData);
        }
        return result;
    }

    int lettersMissing() const
    {
        return int(std::count_if(seen.begin(), seen.end(), [](const Seen &s) { return s.root.isEmpty(); }));
    }

    QList<Seen> seen;
    std::function<void(const Seen &)> onSeen;

signals:
    void recorded();

private:
    void record(bool arrival, const VolumeNotification &n)
    {
        const QChar letter = letterOfMask(n.unitMask);
        const std::optional<Drive> drive = m_drives.drive(letter);
        seen.append(Seen{arrival, letter, n, drive ? drive->root : QString()});
        if (onSeen)
            onSeen(seen.last());
        emit recorded();
    }

    const DriveTable &m_drives;
};
