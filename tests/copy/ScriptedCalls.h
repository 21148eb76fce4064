#pragma once

#include "copy/Syscalls.h"

#include <QByteArray>
#include <QList>
#include <QMap>

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <fcntl.h>
#include <mutex>

// The real system calls, told apart by what they act on, with faults on demand:
// the Nth call of a kind fails with a chosen errno, in one folder or in any; calls
// of a kind in one folder can be held until released; writes can be cut short and
// the data read back from the copy falsified. Safe to share between workers.
class ScriptedCalls : public Syscalls
{
public:
    enum Kind {
        OpenSource, OpenFolder, CreateTemporary, Read, Write, SyncFileRange, Futimens, FsyncFile, SyncFs,
        Fadvise, ReadBackSource, ReadBack, CloseTemporary, Rename, FsyncFolder, Fstatat, Unlink, ReadDir,
    };

    // nth counts from 1; a negative nth fails every call.
    void failCall(Kind kind, int nth, int err, const QByteArray &folder = {})
    {
        const std::lock_guard locked(m_lock);
        m_faults.append({kind, folder, nth, err, 0});
    }
    void holdCalls(Kind kind, const QByteArray &folder)
    {
        const std::lock_guard locked(m_lock);
        m_held = {kind, folder, 0, 0, 0};
    }
    void releaseCalls()
    {
        const std::lock_guard locked(m_lock);
        m_held.nth = -1; // held no more
        m_released.notify_all();
    }
    void cutWritesShort() { m_shortWrites = true; }
    // Flips one bit of the byte at `offset` of the copy whenever it is read back.
    void corruptReadBack(qint64 offset) { m_corruptAt = offset; }
    int count(Kind kind)
    {
        const std::lock_guard locked(m_lock);
        return m_counts.value(kind);
    }

    int openat(int dirfd, const char *path, int flags, mode_t mode) override
    {
        const Kind kind = (flags & O_CREAT) ? CreateTemporary : (flags & O_DIRECTORY) ? OpenFolder : OpenSource;
        const QByteArray folder = kind == OpenFolder && dirfd == AT_FDCWD ? QByteArray(path) : folderOf(dirfd);
        const int fd = injected(kind, folder) ? -1 : Syscalls::openat(dirfd, path, flags, mode);
        const std::lock_guard locked(m_lock);
        m_fds[fd] = {kind, kind == OpenSource ? QByteArray() : folder}; // -1 included: nothing is asked of it
        return fd;
    }
    int close(int fd) override
    {
        const Open open = take(fd);
        const int result = Syscalls::close(fd);
        return open.kind == CreateTemporary && injected(CloseTemporary, open.folder) ? -1 : result;
    }
    ssize_t pread(int fd, void *buffer, size_t count, off_t offset) override
    {
        const bool copy = kindOf(fd) == CreateTemporary;
        const ssize_t got = injected(copy ? ReadBack : ReadBackSource, folderOf(fd)) ? -1
                                                                                      : Syscalls::pread(fd, buffer, count, offset);
        if (copy && got > 0 && m_corruptAt >= offset && m_corruptAt < offset + got)
            static_cast<char *>(buffer)[m_corruptAt - offset] ^= 0x10;
        return got;
    }
    ssize_t write(int fd, const void *buffer, size_t count) override
    {
        return injected(Write, folderOf(fd)) ? -1 : Syscalls::write(fd, buffer, m_shortWrites ? count / 3 + 1 : count);
    }
    int fsync(int fd) override
    {
        return injected(kindOf(fd) == OpenFolder ? FsyncFolder : FsyncFile, folderOf(fd)) ? -1 : Syscalls::fsync(fd);
    }
    ssize_t read(int fd, void *buffer, size_t n) override { return injected(Read, {}) ? -1 : Syscalls::read(fd, buffer, n); }
    int futimens(int fd, const struct timespec t[2]) override { return injected(Futimens, folderOf(fd)) ? -1 : Syscalls::futimens(fd, t); }
    int syncfs(int fd) override { return injected(SyncFs, folderOf(fd)) ? -1 : Syscalls::syncfs(fd); }
    int syncFileRange(int fd, off_t at, off_t n, unsigned f) override { return injected(SyncFileRange, folderOf(fd)) ? -1 : Syscalls::syncFileRange(fd, at, n, f); }
    int fadvise(int fd, off_t at, off_t n, int advice) override { return injected(Fadvise, folderOf(fd)) ? -1 : Syscalls::fadvise(fd, at, n, advice); }
    int renameat(int fd, const char *from, int toFd, const char *to) override { return injected(Rename, folderOf(fd)) ? -1 : Syscalls::renameat(fd, from, toFd, to); }
    int fstatat(int fd, const char *path, struct stat *s, int flags) override { return injected(Fstatat, folderOf(fd)) ? -1 : Syscalls::fstatat(fd, path, s, flags); }
    int unlinkat(int fd, const char *path, int flags) override { return injected(Unlink, folderOf(fd)) ? -1 : Syscalls::unlinkat(fd, path, flags); }
    DIR *fdopendir(int fd) override
    {
        DIR *const folder = Syscalls::fdopendir(fd);
        const std::lock_guard locked(m_lock);
        m_streams[folder] = m_fds.value(fd).folder;
        return folder;
    }
    struct dirent *readdir(DIR *folder) override
    {
        m_lock.lock();
        const QByteArray path = m_streams.value(folder);
        m_lock.unlock();
        return injected(ReadDir, path) ? nullptr : Syscalls::readdir(folder);
    }

private:
    struct Open
    {
        Kind kind = OpenSource;
        QByteArray folder;
    };
    struct Fault
    {
        Kind kind;
        QByteArray folder; ///< empty: any folder
        int nth;           ///< calls count from 1; negative: every call
        int err;
        int seen;
    };

    Kind kindOf(int fd)
    {
        const std::lock_guard locked(m_lock);
        return m_fds.value(fd).kind;
    }
    QByteArray folderOf(int fd)
    {
        const std::lock_guard locked(m_lock);
        return m_fds.value(fd).folder;
    }
    Open take(int fd)
    {
        const std::lock_guard locked(m_lock);
        return m_fds.take(fd);
    }

    // Counts the call; true, with errno set, when it is one to fail. A held call waits here.
    bool injected(Kind kind, const QByteArray &folder)
    {
        std::unique_lock locked(m_lock);
        ++m_counts[kind];
        if (m_held.nth == 0 && m_held.kind == kind && m_held.folder == folder)
            m_released.wait_for(locked, std::chrono::seconds(20), [this] { return m_held.nth != 0; });
        for (Fault &fault : m_faults) {
            if (fault.kind == kind && (fault.folder.isEmpty() || fault.folder == folder) && (++fault.seen == fault.nth || fault.nth < 0)) {
                errno = fault.err;
                return true;
            }
        }
        return false;
    }

    std::mutex m_lock;
    std::condition_variable m_released;
    QList<Fault> m_faults;
    Fault m_held{Read, {}, -1, 0, 0};
    QMap<Kind, int> m_counts;
    QMap<int, Open> m_fds;
    QMap<DIR *, QByteArray> m_streams;
    bool m_shortWrites = false;
    qint64 m_corruptAt = -1;
};
