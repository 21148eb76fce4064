#pragma once

#include "devices/NotificationSource.h"

// A notification source driven by the test, through the same queue, hold and order as the watcher.
struct ScriptedNotificationSource : NotificationSource
{
    void arrive(QChar letter) { deliverArrival({VolumeDeviceType, unitMaskOf(letter)}); }
};
