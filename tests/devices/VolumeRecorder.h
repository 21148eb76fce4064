#pragma once

#include "devices/NotificationSource.h"
#include "drives/DriveTable.h"

#include <QStringList>

#include <bit>
#include <functional>

// The letter a unit mask names, '?' for a mask that is not exactly one letter.
inline QChar letterOfMask(qint32 mask)
{
    return std::popcount(quint32(mask)) == 1 ? QChar(char16_t(u'A' + std::countr_zero(quint32(mask)))) : QChar(u'?');
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
    {
        const auto record = [this, &drives](bool arrival, const VolumeNotification &n) {
            const QChar letter = letterOfMask(n.unitMask);
            seen.append(Seen{arrival, letter, n, drives.drive(letter).value_or(Drive()).root});
            if (onSeen)
                onSeen(seen.last());
            emit recorded();
        };
        source.setHandlers([=](const VolumeNotification &n) { record(true, n); }, [=](const VolumeNotification &n) { record(false, n); });
    }

    // "+D /dev/sdb1 0" for an arrival, "-D ..." for a removal; '?' for a wrong device type or mask.
    QStringList lines() const
    {
        QStringList result;
        for (const Seen &s : seen)
            result << QStringLiteral("%1%2 %3 %4").arg(QChar(s.arrival ? u'+' : u'-'), s.notification.deviceType == 2 ? s.letter : QChar(u'?'),
                                                       s.notification.deviceName, QString::number(s.notification.deviceData));
        return result;
    }

    // Handlers that found their letter missing from the drive table.
    int lettersMissing() const { return int(std::count_if(seen.begin(), seen.end(), [](const Seen &s) { return s.root.isEmpty(); })); }

    QList<Seen> seen;
    std::function<void(const Seen &)> onSeen;

signals:
    void recorded();
};
