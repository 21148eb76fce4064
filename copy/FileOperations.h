#pragma once

#include <QString>
#include <QtGlobal>

#include <functional>

// The copy and the deletion the handlers ask of the keys, behind one interface
// so that the copy run can be tested with a scripted double.
class FileOperations {
public:
    virtual ~FileOperations() = default;
    using Progress = std::function<void(qint64 done, qint64 total)>; // called from the copying thread
    // Copies the native file `source` to the native file path `target` (folder + name). Throws Failure.
    virtual void copyFile(const QString &source, const QString &target, const Progress &progress = {}) = 0;
    // Deletes, in the native folder `folder`, the regular files whose names match `name`. Throws Failure.
    virtual void deleteMatching(const QString &folder, const QString &name) = 0;
};
