#pragma once

#include <QString>
#include <QtGlobal>

#include <functional>
#include <stop_token>

// What keeps a slot's writes on its own key: the device its folder must lie on,
// and what its deletion must leave.
struct KeyBounds
{
    quint64 device = 0; ///< the folder, as opened, lies on this device (0: anywhere)
    QString sparedName; ///< never deleted, case ignored as in the matching: the fresh copy
    QString sparedFile; ///< native path of a file never deleted, whatever its name: the source
};

// The copy and the deletion the copy run asks of the keys, behind one interface
// so that the run can be tested with a scripted double. Safe from any thread.
// A stop request ends either at its next block or file with Failure 18, leaving
// no temporary file.
class FileOperations
{
public:
    virtual ~FileOperations() = default;
    using Progress = std::function<void(qint64 done, qint64 total)>; // called from the copying thread
    // Copies the native file `source` to the native file path `target` (folder + name). Throws Failure.
    virtual void copyFile(const QString &source, const QString &target, const Progress &progress = {},
                          const KeyBounds &bounds = {}, std::stop_token stop = {}) = 0;
    // Deletes, in the native folder `folder`, the regular files whose names match `name`. Throws Failure.
    virtual void deleteMatching(const QString &folder, const QString &name, const KeyBounds &bounds = {},
                                std::stop_token stop = {}) = 0;
};
