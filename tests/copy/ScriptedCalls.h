#pragma once

#include "copy/Syscalls.h"

#include <QMap> // and QList, std::string

#include <cerrno>
#include <condition_variable>
#include <fcntl.h>
#include <mutex>

// The real system calls, told apart by what they act on, with faults on demand: the
// nth call of a kind (every one for a negative nth) fails with a chosen errno, in one
// folder or in any; calls of a kind in one folder can be held until released; writes
// can be cut short and the copy read back falsified. Safe to share between workers.
class ScriptedCalls : public Syscalls
{
public:
    enum Kind { OpenSource, OpenFolder, CreateTemporary, Read, Write, SyncFileRange, Futimens, FsyncFile, SyncFs, Fadvise,
                ReadBackSource, ReadBack, CloseTemporary, Rename, FsyncFolder, Fstatat, Unlink, ReadDir };
    struct Fault
    {
        Kind kind;
        int nth, err; ///< nth: the calls left up to the one to fail, 0 once it has failed
        std::string folder; ///< empty: any folder; a deep copy, never shared between threads
    };

    void failCall(Kind kind, int nth, int err, const std::string &in = {}) { locked([&] { m_faults.append({kind, nth, err, in}); }); }
    void holdCalls(Kind kind, const std::string &folder) { locked([&] { m_held = {kind, 0, 0, folder}; }); }
    void releaseCalls() { locked([&] { m_held.nth = -1; }), m_released.notify_all(); }
    void cutWritesShort() { m_shortWrites = true; }
    void corruptReadBack(qint64 offset) { m_corruptAt = offset; } ///< flips a bit of that byte of the copy

    int openat(int dirfd, const char *path, int flags, mode_t mode) override
    {
        const Kind kind = (flags & O_CREAT) ? CreateTemporary : (flags & O_DIRECTORY) ? OpenFolder : OpenSource;
        const Fault open{kind, 0, 0, kind == OpenFolder && dirfd == AT_FDCWD ? std::string(path) : of(dirfd).folder};
        const int fd = injected(kind, open.folder) ? -1 : Syscalls::openat(dirfd, path, flags, mode);
        return fd < 0 ? fd : locked([&] { return m_fds.insert(fd, open).key(); });
    }
    int close(int fd) override
    {
        const Fault open = locked([&] { return m_fds.take(fd); });
        return Syscalls::close(fd) < 0 || (open.kind == CreateTemporary && injected(CloseTemporary, open.folder)) ? -1 : 0;
    }
    ssize_t pread(int fd, void *buffer, size_t count, off_t at) override
    {
        const bool copy = of(fd).kind == CreateTemporary;
        const ssize_t got = injected(copy ? ReadBack : ReadBackSource, of(fd).folder) ? -1 : Syscalls::pread(fd, buffer, count, at);
        if (copy && m_corruptAt >= at && m_corruptAt < at + got)
            static_cast<char *>(buffer)[m_corruptAt - at] ^= 0x10;
        return got;
    }
    ssize_t write(int fd, const void *b, size_t n) override { return injected(Write, of(fd).folder) ? -1 : Syscalls::write(fd, b, m_shortWrites ? n / 3 + 1 : n); }
    int fsync(int fd) override { return injected(of(fd).kind == OpenFolder ? FsyncFolder : FsyncFile, of(fd).folder) ? -1 : Syscalls::fsync(fd); }
    ssize_t read(int fd, void *buffer, size_t n) override { return injected(Read, {}) ? -1 : Syscalls::read(fd, buffer, n); }
    int futimens(int fd, const struct timespec t[2]) override { return injected(Futimens, of(fd).folder) ? -1 : Syscalls::futimens(fd, t); }
    int syncfs(int fd) override { return injected(SyncFs, of(fd).folder) ? -1 : Syscalls::syncfs(fd); }
    int syncFileRange(int fd, off_t at, off_t n, unsigned f) override { return injected(SyncFileRange, of(fd).folder) ? -1 : Syscalls::syncFileRange(fd, at, n, f); }
    int fadvise(int fd, off_t at, off_t n, int advice) override { return injected(Fadvise, of(fd).folder) ? -1 : Syscalls::fadvise(fd, at, n, advice); }
    int renameat(int fd, const char *from, int toFd, const char *to) override { return injected(Rename, of(fd).folder) ? -1 : Syscalls::renameat(fd, from, toFd, to); }
    int fstatat(int fd, const char *path, struct stat *s, int flags) override { return injected(Fstatat, of(fd).folder) ? -1 : Syscalls::fstatat(fd, path, s, flags); }
    int unlinkat(int fd, const char *path, int flags) override { return injected(Unlink, of(fd).folder) ? -1 : Syscalls::unlinkat(fd, path, flags); }
    struct dirent *readdir(DIR *folder) override { return injected(ReadDir, of(::dirfd(folder)).folder) ? nullptr : Syscalls::readdir(folder); }

private:
    auto locked(auto action) -> decltype(action())
    {
        const std::lock_guard hold(m_lock);
        return action();
    }
    Fault of(int fd) { return locked([&] { return m_fds.value(fd, {OpenSource, 0, 0}); }); }

    // True, with errno set, when the call is one to fail. A held call waits here for its release.
    bool injected(Kind kind, const std::string &folder)
    {
        std::unique_lock hold(m_lock);
        m_released.wait_for(hold, std::chrono::seconds(20), [&] { return m_held.nth || m_held.kind != kind || m_held.folder != folder; });
        for (Fault &f : m_faults)
            if (f.kind == kind && (f.folder.empty() || f.folder == folder) && (f.nth < 0 || (f.nth > 0 && --f.nth == 0)))
                return errno = f.err, true;
        return false;
    }

    std::mutex m_lock;
    std::condition_variable m_released;
    QList<Fault> m_faults;
    Fault m_held{Read, -1, 0};
    QMap<int, Fault> m_fds; ///< what each descriptor is: its kind and folder
    bool m_shortWrites = false;
    qint64 m_corruptAt = -1;
};
