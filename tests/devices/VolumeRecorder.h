#pragma once

#include "devices/NotificationSource.h"
#include "drives/DriveTable.h"

#include <QStringList>

#include <bit>
#include <functional>

// Records what a source hands its handlers: "+D /dev/sdb1 0" for an arrival, "-D ..." for
// a removal, '?' for a wrong device type or a mask that is not exactly one letter.
struct VolumeRecorder
{
    VolumeRecorder(NotificationSource &source, const DriveTable &drives)
    {
        const auto record = [this, &drives](QChar sign, const VolumeNotification &n) {
            const quint32 mask = quint32(n.unitMask);
            const QChar letter = n.deviceType == 2 && std::popcount(mask) == 1 ? QChar(char16_t(u'A' + std::countr_zero(mask))) : QChar(u'?');
            missing += drives.drive(letter) ? 0 : 1;
            lines << QStringLiteral("%1%2 %3 %4").arg(sign, letter, n.deviceName, QString::number(n.deviceData));
            if (onSeen)
                onSeen(lines.last());
        };
        source.setHandlers([=](const VolumeNotification &n) { record(u'+', n); }, [=](const VolumeNotification &n) { record(u'-', n); });
    }

    QStringList lines;
    int missing = 0; ///< handlers that found their letter missing from the drive table
    std::function<void(const QString &line)> onSeen;
};
