#pragma once

#include "copy/Syscalls.h"

#include <QMap>

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

    int openat(int dirfd, const char *path, int flags, mode_t mode) override
    {
        const Kind kind = (flags & O_CREAT) ? CreateTemporary : (flags & O_DIRECTORY) ? OpenFolder : OpenSource;
        const int fd = injected(kind) ? -1 : Syscalls::openat(dirfd, path, flags, mode);
        m_kinds[fd] = kind; // -1 included: nothing is asked of it
        return fd;
    }
    int close(int fd) override
    {
        const int result = Syscalls::close(fd);
        return m_kinds.take(fd) == CreateTemporary && injected(CloseTemporary) ? -1 : result;
    }
    ssize_t pread(int fd, void *buffer, size_t count, off_t offset) override
    {
        const bool copy = m_kinds.value(fd) == CreateTemporary;
        const ssize_t got = injected(copy ? ReadBack : ReadBackSource) ? -1 : Syscalls::pread(fd, buffer, count, offset);
        if (copy && got > 0 && m_corruptAt >= offset && m_corruptAt < offset + got)
            static_cast<char *>(buffer)[m_corruptAt - offset] ^= 0x10;
        return got;
    }
    ssize_t write(int fd, const void *buffer, size_t count) override
    {
        return injected(Write) ? -1 : Syscalls::write(fd, buffer, m_shortWrites ? count / 3 + 1 : count);
    }
    int fsync(int fd) override
    {
        return injected(m_kinds.value(fd) == OpenFolder ? FsyncFolder : FsyncFile) ? -1 : Syscalls::fsync(fd);
    }
    ssize_t read(int fd, void *buffer, size_t n) override { return injected(Read) ? -1 : Syscalls::read(fd, buffer, n); }
    int futimens(int fd, const struct timespec t[2]) override { return injected(Futimens) ? -1 : Syscalls::futimens(fd, t); }
    int syncfs(int fd) override { return injected(SyncFs) ? -1 : Syscalls::syncfs(fd); }
    int syncFileRange(int fd, off_t at, off_t n, unsigned f) override { return injected(SyncFileRange) ? -1 : Syscalls::syncFileRange(fd, at, n, f); }
    int fadvise(int fd, off_t at, off_t n, int advice) override { return injected(Fadvise) ? -1 : Syscalls::fadvise(fd, at, n, advice); }
    int renameat(int fd, const char *from, int toFd, const char *to) override { return injected(Rename) ? -1 : Syscalls::renameat(fd, from, toFd, to); }
    int fstatat(int fd, const char *path, struct stat *s, int flags) override { return injected(Fstatat) ? -1 : Syscalls::fstatat(fd, path, s, flags); }
    int unlinkat(int fd, const char *path, int flags) override { return injected(Unlink) ? -1 : Syscalls::unlinkat(fd, path, flags); }
    struct dirent *readdir(DIR *folder) override { return injected(ReadDir) ? nullptr : Syscalls::readdir(folder); }

private:
    // Counts the call; true, with errno set, when it is the one to fail.
    bool injected(Kind kind)
    {
        const std::pair<int, int> fault = m_faults.value(kind); // none: {0, 0}, and calls count from 1
        const bool fails = ++m_counts[kind] == fault.first;
        errno = fails ? fault.second : errno;
        return fails;
    }

    QMap<Kind, std::pair<int, int>> m_faults; ///< nth call, errno
    QMap<Kind, int> m_counts;
    QMap<int, Kind> m_kinds;
    bool m_shortWrites = false;
    qint64 m_corruptAt = -1;
};
