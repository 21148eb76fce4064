#include "copy/Syscalls.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

Syscalls &Syscalls::real()
{
    static Syscalls calls;
    return calls;
}

int Syscalls::openat(int dirfd, const char *path, int flags, mode_t mode)
{
    return ::openat(dirfd, path, flags, mode);
}

int Syscalls::close(int fd)
{
    return ::close(fd);
}

ssize_t Syscalls::read(int fd, void *buffer, size_t count)
{
    return ::read(fd, buffer, count);
}

ssize_t Syscalls::pread(int fd, void *buffer, size_t count, off_t offset)
{
    return ::pread(fd, buffer, count, offset);
}

ssize_t Syscalls::write(int fd, const void *buffer, size_t count)
{
    return ::write(fd, buffer, count);
}

int Syscalls::fstat(int fd, struct stat *status)
{
    return ::fstat(fd, status);
}

int Syscalls::fstatat(int dirfd, const char *path, struct stat *status, int flags)
{
    return ::fstatat(dirfd, path, status, flags);
}

int Syscalls::futimens(int fd, const struct timespec times[2])
{
    return ::futimens(fd, times);
}

int Syscalls::fsync(int fd)
{
    return ::fsync(fd);
}

int Syscalls::syncfs(int fd)
{
    return ::syncfs(fd);
}

int Syscalls::syncFileRange(int fd, off_t offset, off_t count, unsigned int flags)
{
    return ::sync_file_range(fd, offset, count, flags);
}

int Syscalls::fadvise(int fd, off_t offset, off_t length, int advice)
{
    const int err = ::posix_fadvise(fd, offset, length, advice);
    if (err == 0)
        return 0;
    errno = err;
    return -1;
}

int Syscalls::renameat(int fromDirfd, const char *from, int toDirfd, const char *to)
{
    return ::renameat(fromDirfd, from, toDirfd, to);
}

int Syscalls::unlinkat(int dirfd, const char *path, int flags)
{
    return ::unlinkat(dirfd, path, flags);
}

DIR *Syscalls::fdopendir(int fd)
{
    return ::fdopendir(fd);
}

struct dirent *Syscalls::readdir(DIR *folder)
{
    return ::readdir(folder);
}

int Syscalls::closedir(DIR *folder)
{
    return ::closedir(folder);
}

int Syscalls::flock(int fd, int operation)
{
    return ::flock(fd, operation);
}

int Syscalls::fstatvfs(int fd, struct statvfs *status)
{
    return ::fstatvfs(fd, status);
}
