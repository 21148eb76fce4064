#pragma once

#include "copy/Syscalls.h"

#include <QList>
#include <QMap>
#include <QSet>

#include <cerrno>
#include <fcntl.h>

// The real system calls, told apart by what they act on, with faults on demand:
// the Nth call of a kind fails with a chosen errno, writes can be cut short, and
// the data read back from the copy can be falsified.
class ScriptedCalls : public Syscalls
{
public:
    enum Kind {
        OpenSource, OpenFolder, CreateTemporary, Read, Write, SyncFileRange, Futimens, FsyncFile, SyncFs,
        Fadvise, ReadBackSource, ReadBack, CloseTemporary, Rename, FsyncFolder, Fstatat, Unlink, ReadDir,
    };

    void failCall(Kind kind, int nth, int err) { m_faults[kind] = {nth, err}; }
    void cutWritesShort() { m_shortWrites = true; }
    // Flips one bit of the byte at `offset` of the copy whenever it is read back.
    void corruptReadBack(qint64 offset) { m_corruptAt = offset; }

    int count(Kind kind) const { return m_counts.value(kind); }
    const QList<Kind> &log() const { return m_log; }
    const QList<QByteArray> &temporaryNames() const { return m_temporaryNames; }

    int openat(int dirfd, const char *path, int flags, mode_t mode) override
    {
        const Kind kind = (flags & O_CREAT) ? CreateTemporary : (flags & O_DIRECTORY) ? OpenFolder : OpenSource;
        if (kind == CreateTemporary)
            m_temporaryNames << QByteArray(path);
        if (injected(kind))
            return -1;
        const int fd = Syscalls::openat(dirfd, path, flags, mode);
        if (fd >= 0)
            m_kinds[fd] = kind;
        return fd;
    }
    int close(int fd) override
    {
        const Kind kind = m_kinds.take(fd);
        const int result = Syscalls::close(fd);
        if (kind == CreateTemporary && injected(CloseTemporary))
            return -1;
        return result;
    }
    ssize_t read(int fd, void *buffer, size_t count) override
    {
        return injected(Read) ? -1 : Syscalls::read(fd, buffer, count);
    }
    ssize_t pread(int fd, void *buffer, size_t count, off_t offset) override
    {
        const bool copy = m_kinds.value(fd) == CreateTemporary;
        if (injected(copy ? ReadBack : ReadBackSource))
            return -1;
        const ssize_t got = Syscalls::pread(fd, buffer, count, offset);
        if (copy && got > 0 && m_corruptAt >= offset && m_corruptAt < offset + got)
            static_cast<char *>(buffer)[m_corruptAt - offset] ^= 0x10;
        return got;
    }
    ssize_t write(int fd, const void *buffer, size_t count) override
    {
        if (injected(Write))
            return -1;
        return Syscalls::write(fd, buffer, m_shortWrites ? count / 3 + 1 : count);
    }
    int syncFileRange(int fd, off_t offset, off_t count, unsigned int flags) override
    {
        return injected(SyncFileRange) ? -1 : Syscalls::syncFileRange(fd, offset, count, flags);
    }
    int futimens(int fd, const struct timespec times[2]) override
    {
        return injected(Futimens) ? -1 : Syscalls::futimens(fd, times);
    }
    int fsync(int fd) override
    {
        return injected(m_kinds.value(fd) == OpenFolder ? FsyncFolder : FsyncFile) ? -1 : Syscalls::fsync(fd);
    }
    int syncfs(int fd) override
    {
        return injected(SyncFs) ? -1 : Syscalls::syncfs(fd);
    }
    int fadvise(int fd, off_t offset, off_t length, int advice) override
    {
        return injected(Fadvise) ? -1 : Syscalls::fadvise(fd, offset, length, advice);
    }
    int renameat(int fromDirfd, const char *from, int toDirfd, const char *to) override
    {
        return injected(Rename) ? -1 : Syscalls::renameat(fromDirfd, from, toDirfd, to);
    }
    int fstatat(int dirfd, const char *path, struct stat *status, int flags) override
    {
        return injected(Fstatat) ? -1 : Syscalls::fstatat(dirfd, path, status, flags);
    }
    int unlinkat(int dirfd, const char *path, int flags) override
    {
        return injected(Unlink) ? -1 : Syscalls::unlinkat(dirfd, path, flags);
    }
    struct dirent *readdir(DIR *folder) override
    {
        return injected(ReadDir) ? nullptr : Syscalls::readdir(folder);
    }

private:
    struct Fault
    {
        int nth = 0;
        int err = 0;
    };

    bool injected(Kind kind)
    {
        m_log << kind;
        const int n = ++m_counts[kind];
        const auto fault = m_faults.constFind(kind);
        if (fault == m_faults.cend() || fault->nth != n)
            return false;
        errno = fault->err;
        return true;
    }

    QMap<Kind, Fault> m_faults;
    QMap<Kind, int> m_counts;
    QMap<int, Kind> m_kinds;
    QList<Kind> m_log;
    QList<QByteArray> m_temporaryNames;
    bool m_shortWrites = false;
    qint64 m_corruptAt = -1;
};
