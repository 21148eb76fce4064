#pragma once

#include "copy/FileOperations.h"
#include "copy/Syscalls.h"

// The file operations on Linux. A copy is written to a hidden, locked temporary
// file, made durable, read back from the device and compared with the source
// before it replaces the target; a deletion reaches regular files only and follows
// no link. Both act only in a folder that lies on the bounds' device.
// The progress total is twice the size while copies are read back, the size
// otherwise (0 for an empty file); it follows what the key has written and read,
// not the cache. Holds no mutable state: one object serves any thread.
class LinuxFileOperations : public FileOperations
{
public:
    explicit LinuxFileOperations(Syscalls &calls = Syscalls::real());

    // Whether a copy is read back and compared (on by default). Set it before copying.
    void setVerify(bool verify) { m_verify = verify; }

    void copyFile(const QString &source, const QString &target, const Progress &progress = {},
                  const KeyBounds &bounds = {}, std::stop_token stop = {}) override;
    void deleteMatching(const QString &folder, const QString &name, const KeyBounds &bounds = {},
                        std::stop_token stop = {}) override;

private:
    Syscalls &m_calls;
    bool m_verify = true;
};
