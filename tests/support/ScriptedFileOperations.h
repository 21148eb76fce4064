#pragma once

#include "copy/FileOperations.h"
#include "drives/Failure.h"

#include <QMap>
#include <QStringList>

#include <mutex>
#include <semaphore>

// Records, from any worker, the native targets of the copies and the folder/name of the
// deletions, and fails the copies it is told to, or throws for one; a copy to the held
// target waits until the test lets it go or the run stops.
struct ScriptedFileOperations : FileOperations
{
    QStringList copies, deletions;
    QMap<QString, Failure> failCopyTo; ///< by native target
    QString held, exhausted;           ///< a copy to `exhausted` throws std::bad_alloc
    std::binary_semaphore letGo{0};
    std::mutex lock;

    void copyFile(const QString &, const QString &target, const Progress &, const KeyBounds &,
                  std::stop_token stop) override
    {
        while (target == held && !letGo.try_acquire_for(std::chrono::milliseconds(10)))
            if (stop.stop_requested())
                throw failureFor(FailureNumber::Interrupted);
        if (target == exhausted)
            throw std::bad_alloc();
        const std::lock_guard locked(lock);
        copies << target;
        if (failCopyTo.contains(target))
            throw failCopyTo.find(target).value();
    }
    void deleteMatching(const QString &folder, const QString &name, const KeyBounds &, std::stop_token) override
    {
        const std::lock_guard locked(lock);
        deletions << folder + u'/' + name;
    }
};
