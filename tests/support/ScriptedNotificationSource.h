#pragma once

#include "devices/NotificationSource.h"

#include <QChar>

#include <functional>

// A notification source driven by the test: it delivers what the test says,
// through the same queue, hold and order as the real watcher.
class ScriptedNotificationSource : public NotificationSource
{
public:
    using NotificationSource::NotificationSource;

    static VolumeNotification volume(QChar letter, const QString &deviceName = {}, qint32 deviceData = 0)
    {
        return VolumeNotification{2, unitMaskOf(letter), deviceName, deviceData};
    }

    void arrive(const VolumeNotification &n) { deliverArrival(n); }
    void arrive(QChar letter, const QString &deviceName = {}, qint32 deviceData = 0)
    {
        deliverArrival(volume(letter, deviceName, deviceData));
    }

    void remove(const VolumeNotification &n, std::function<void()> after = {}) { deliverRemoval(n, std::move(after)); }
    void remove(QChar letter, const QString &deviceName = {}, qint32 deviceData = 0, std::function<void()> after = {})
    {
        deliverRemoval(volume(letter, deviceName, deviceData), std::move(after));
    }
};
