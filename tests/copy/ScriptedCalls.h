#pragma once

#include "copy/Syscalls.h"

#include <QList>
#include <QMap>
#include <QMetaType>

#include <cerrno>
#include <fcntl.h>
#include <functional>
#include <sys/file.h>

// The real system calls, told apart by what they act on, with faults on demand: the nth
// call of a kind (every one for nth -1) fails with an errno, or runs an action first;
// writes are cut short; the copy can read back wrong; the volume can have little room.
class ScriptedCalls : public Syscalls
{
public:
    enum Kind {
        OpenSource,
        OpenFolder,
        CreateTemporary,
        LockTemporary,
        Read,
        Write,
        SyncFileRange,
        FsyncFile,
        Fadvise,
        ReadBackSource,
        ReadBack,
        Rename,
        FsyncFolder,
        Unlink
    };
    struct Fault
    {
        Kind kind;
        int nth = 1; ///< the calls left up to the one it strikes; 0 once struck
        int err = 0;
        std::function<void()> action = {};
    };

    void add(Fault fault) { m_faults.append(std::move(fault)); }
    void corruptReadBack(qint64 offset) { m_corruptAt = offset; } ///< flips a bit of that byte of the copy
    void limitRoom(qint64 bytes) { m_room = bytes; }

    int openat(int dirfd, const char *path, int flags, mode_t mode) override
    {
        const Kind kind = (flags & O_CREAT) ? CreateTemporary : (flags & O_DIRECTORY) ? OpenFolder : OpenSource;
        const int fd = strike(kind) ? -1 : Syscalls::openat(dirfd, path, flags, mode);
        m_fds.insert(fd, kind);
        return fd;
    }
    ssize_t pread(int fd, void *buffer, size_t count, off_t at) override
    {
        const bool copy = m_fds.value(fd) == CreateTemporary;
        const ssize_t got = strike(copy ? ReadBack : ReadBackSource) ? -1 : Syscalls::pread(fd, buffer, count, at);
        if (copy && m_corruptAt >= at && m_corruptAt < at + got)
            static_cast<char *>(buffer)[m_corruptAt - at] ^= 0x10;
        return got;
    }
    int flock(int fd, int operation) override
    {
        const bool temporary = m_fds.value(fd) == CreateTemporary && operation != LOCK_UN;
        return temporary && strike(LockTemporary) ? -1 : Syscalls::flock(fd, operation);
    }
    int fsync(int fd) override
    {
        return strike(m_fds.value(fd) == OpenFolder ? FsyncFolder : FsyncFile) ? -1 : Syscalls::fsync(fd);
    }
    int fstatvfs(int fd, struct statvfs *status) override
    {
        const int done = Syscalls::fstatvfs(fd, status);
        if (m_room >= 0)
            status->f_bavail = fsblkcnt_t(m_room) / status->f_frsize;
        return done;
    }
    // clang-format off
    ssize_t read(int fd, void *data, size_t n) override { return strike(Read) ? -1 : Syscalls::read(fd, data, n); }
    ssize_t write(int fd, const void *data, size_t n) override { return strike(Write) ? -1 : Syscalls::write(fd, data, n / 3 + 1); }
    int syncFileRange(int fd, off_t at, off_t n, unsigned f) override { return strike(SyncFileRange) ? -1 : Syscalls::syncFileRange(fd, at, n, f); }
    int fadvise(int fd, off_t at, off_t n, int advice) override { return strike(Fadvise) ? -1 : Syscalls::fadvise(fd, at, n, advice); }
    int renameat(int fd, const char *from, int to, const char *name) override { return strike(Rename) ? -1 : Syscalls::renameat(fd, from, to, name); }
    int unlinkat(int fd, const char *path, int flags) override { return strike(Unlink) ? -1 : Syscalls::unlinkat(fd, path, flags); }
    // clang-format on

private:
    // True, with errno set, when the call is one to fail; an action runs instead, and may
    // make calls itself.
    bool strike(Kind kind)
    {
        for (Fault &fault : m_faults) {
            if (fault.kind != kind || !(fault.nth < 0 || (fault.nth > 0 && --fault.nth == 0)))
                continue;
            if (const std::function<void()> action = fault.action) {
                action();
                return false;
            }
            errno = fault.err;
            return true;
        }
        return false;
    }

    QList<Fault> m_faults;
    QMap<int, Kind> m_fds; ///< what each descriptor was opened as
    qint64 m_corruptAt = -1;
    qint64 m_room = -1;
};

Q_DECLARE_METATYPE(ScriptedCalls::Kind)
Q_DECLARE_METATYPE(ScriptedCalls::Fault)
