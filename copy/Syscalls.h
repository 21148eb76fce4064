#pragma once

#include <dirent.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/types.h>

// The system calls the file operations make, one virtual method each, so that a
// test can fail or falsify any one of them. Every method reports a failure as the
// C library does: -1 (nullptr for the folder streams) with errno set.
class Syscalls
{
public:
    virtual ~Syscalls() = default;

    // The calls themselves, shared: the class holds no state.
    static Syscalls &real();

    virtual int openat(int dirfd, const char *path, int flags, mode_t mode);
    virtual int close(int fd);
    virtual ssize_t read(int fd, void *buffer, size_t count);
    virtual ssize_t pread(int fd, void *buffer, size_t count, off_t offset);
    virtual ssize_t write(int fd, const void *buffer, size_t count);
    virtual int fstat(int fd, struct stat *status);
    virtual int fstatat(int dirfd, const char *path, struct stat *status, int flags);
    virtual int futimens(int fd, const struct timespec times[2]);
    virtual int fsync(int fd);
    virtual int syncfs(int fd);
    virtual int syncFileRange(int fd, off_t offset, off_t count, unsigned int flags);
    // posix_fadvise, with its error moved to errno like the others.
    virtual int fadvise(int fd, off_t offset, off_t length, int advice);
    virtual int renameat(int fromDirfd, const char *from, int toDirfd, const char *to);
    virtual int unlinkat(int dirfd, const char *path, int flags);
    virtual DIR *fdopendir(int fd);
    virtual struct dirent *readdir(DIR *folder);
    virtual int closedir(DIR *folder);
    virtual int flock(int fd, int operation);
    virtual int fstatvfs(int fd, struct statvfs *status);
};
