#include "copy/LinuxFileOperations.h"

#include "copy/DeleteName.h"
#include "drives/Failure.h"

#include <QFile>
#include <QRandomGenerator>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

namespace {

constexpr size_t BufferSize = 1 << 20;
// Written data is pushed to the device window by window, so that the dirty pages
// stay few and the progress follows the key rather than the cache.
constexpr off_t WritebackWindow = off_t(16) << 20;
constexpr int TemporaryNameAttempts = 100;

[[noreturn]] void fail(int err)
{
    throw failureFromErrno(err);
}

[[noreturn]] void failOpeningFolder(int err)
{
    if (err == ENOENT || err == ENOTDIR)
        throw failureFor(FailureNumber::PathNotFound);
    fail(err);
}

template<typename Call>
auto retrying(Call call)
{
    decltype(call()) result;
    do {
        result = call();
    } while (result == -1 && errno == EINTR);
    return result;
}

template<typename Action>
class OnExit
{
public:
    explicit OnExit(Action action) : m_action(std::move(action)) {}
    ~OnExit() { m_action(); }
    OnExit(const OnExit &) = delete;
    OnExit &operator=(const OnExit &) = delete;

private:
    Action m_action;
};

class Descriptor
{
public:
    Descriptor(Syscalls &calls, int fd) : m_calls(calls), m_fd(fd) {}
    ~Descriptor() { closeQuietly(); }
    Descriptor(const Descriptor &) = delete;
    Descriptor &operator=(const Descriptor &) = delete;

    int get() const { return m_fd; }

    // Some file systems report a failed write only here.
    void close()
    {
        // Linux frees the descriptor even when close() is interrupted: never retry it.
        if (m_calls.close(std::exchange(m_fd, -1)) == -1 && errno != EINTR)
            fail(errno);
    }

    void closeQuietly()
    {
        if (m_fd >= 0)
            m_calls.close(std::exchange(m_fd, -1));
    }

private:
    Syscalls &m_calls;
    int m_fd = -1;
};

int openFolder(Syscalls &calls, const QByteArray &path)
{
    const int fd = retrying([&] { return calls.openat(AT_FDCWD, path.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC, 0); });
    if (fd < 0)
        failOpeningFolder(errno);
    return fd;
}

QByteArray temporaryName()
{
    static constexpr char Alphabet[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    QByteArray name(".essaimeur-");
    for (int i = 0; i < 12; ++i)
        name += Alphabet[QRandomGenerator::system()->bounded(int(sizeof Alphabet - 1))];
    return name + ".tmp";
}

void writeAll(Syscalls &calls, int fd, const char *data, size_t size)
{
    while (size > 0) {
        const ssize_t written = retrying([&] { return calls.write(fd, data, size); });
        if (written < 0)
            fail(errno);
        if (written == 0)
            fail(EIO);
        data += written;
        size -= size_t(written);
    }
}

// Reads up to `size` bytes at `offset`, fewer only at the end of the file.
size_t readFully(Syscalls &calls, int fd, char *data, size_t size, off_t offset)
{
    size_t got = 0;
    while (got < size) {
        const ssize_t n = retrying([&] { return calls.pread(fd, data + got, size - got, offset + off_t(got)); });
        if (n < 0)
            fail(errno);
        if (n == 0)
            break;
        got += size_t(n);
    }
    return got;
}

class Writeback
{
public:
    Writeback(Syscalls &calls, int fd) : m_calls(calls), m_fd(fd) {}

    // Starts the writeback of the whole windows below `written`, then waits for
    // the windows started before and drops them from the cache.
    void advance(off_t written)
    {
        const off_t end = written / WritebackWindow * WritebackWindow;
        if (!m_enabled || end <= m_started)
            return;
        if (!rangeCall(m_started, end - m_started, SYNC_FILE_RANGE_WRITE))
            return;
        if (m_started > m_done) {
            const unsigned int wait = SYNC_FILE_RANGE_WAIT_BEFORE | SYNC_FILE_RANGE_WRITE | SYNC_FILE_RANGE_WAIT_AFTER;
            if (!rangeCall(m_done, m_started - m_done, wait))
                return;
            m_calls.fadvise(m_fd, m_done, m_started - m_done, POSIX_FADV_DONTNEED);
            m_done = m_started;
        }
        m_started = end;
    }

private:
    bool rangeCall(off_t offset, off_t count, unsigned int flags)
    {
        if (retrying([&] { return m_calls.syncFileRange(m_fd, offset, count, flags); }) == 0)
            return true;
        // A file system without the call leaves the whole flush to fsync; a write
        // error must be raised now: waiting here consumes it, fsync would not see it.
        if (errno == EINVAL || errno == ENOSYS || errno == EOPNOTSUPP || errno == ESPIPE) {
            m_enabled = false;
            return false;
        }
        fail(errno);
    }

    Syscalls &m_calls;
    int m_fd = -1;
    bool m_enabled = true;
    off_t m_started = 0;
    off_t m_done = 0;
};

} // namespace

LinuxFileOperations::LinuxFileOperations(Syscalls &calls)
    : m_calls(calls)
{
}

// Order of the copy: temporary file written, dated and fsynced, volume synced,
// cache dropped, copy read back and compared, and only then renamed over the
// target and the folder fsynced. Every failure up to the comparison removes the
// temporary file and leaves the target as it was: a copy that reads back wrong
// never takes the target's name. The folder's fsync is the only step after the
// rename; when it fails the target already holds the new, verified content.
void LinuxFileOperations::copyFile(const QString &source, const QString &target, const Progress &progress)
{
    const qsizetype slash = target.lastIndexOf(u'/');
    const QString name = target.mid(slash + 1);
    if (name.isEmpty() || name == u"." || name == u"..")
        throw failureFor(FailureNumber::BadFileName);
    const QByteArray folderPath = slash < 0 ? QByteArray(".")
                                  : slash == 0 ? QByteArray("/")
                                               : QFile::encodeName(target.left(slash));
    const QByteArray nativeName = QFile::encodeName(name);
    const QByteArray sourcePath = QFile::encodeName(source);

    // Non-blocking so that a FIFO given as the source is refused, not waited on.
    const int sourceFd = retrying([&] {
        return m_calls.openat(AT_FDCWD, sourcePath.constData(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK, 0);
    });
    if (sourceFd < 0)
        fail(errno);
    Descriptor input(m_calls, sourceFd);
    struct stat sourceStatus = {};
    if (m_calls.fstat(input.get(), &sourceStatus) == -1)
        fail(errno);
    if (!S_ISREG(sourceStatus.st_mode))
        throw failureFor(FailureNumber::PathFileAccess);

    Descriptor folder(m_calls, openFolder(m_calls, folderPath));
    struct stat targetStatus = {};
    if (m_calls.fstatat(folder.get(), nativeName.constData(), &targetStatus, AT_SYMLINK_NOFOLLOW) == 0) {
        if (targetStatus.st_dev == sourceStatus.st_dev && targetStatus.st_ino == sourceStatus.st_ino) {
            const qint64 total = m_verify ? 2 * qint64(sourceStatus.st_size) : qint64(sourceStatus.st_size);
            if (progress)
                progress(total, total);
            return;
        }
        if (S_ISDIR(targetStatus.st_mode))
            throw failureFor(FailureNumber::PathFileAccess);
    } else if (errno != ENOENT) {
        fail(errno);
    }

    QByteArray tempName;
    int tempFd = -1;
    for (int attempt = 1; tempFd < 0; ++attempt) {
        tempName = temporaryName();
        // Read and write: the read-back goes through this descriptor, not through a name.
        tempFd = retrying([&] {
            return m_calls.openat(folder.get(), tempName.constData(),
                                  O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY, 0644);
        });
        if (tempFd < 0 && (errno != EEXIST || attempt == TemporaryNameAttempts))
            fail(errno);
    }
    Descriptor output(m_calls, tempFd);
    bool placed = false;
    OnExit removeTemporary([&] {
        output.closeQuietly();
        if (!placed)
            m_calls.unlinkat(folder.get(), tempName.constData(), 0);
    });

    const auto buffers = std::make_unique_for_overwrite<char[]>(2 * BufferSize);
    char *const data = buffers.get();
    const int factor = m_verify ? 2 : 1;
    const qint64 expected = sourceStatus.st_size;
    qint64 copied = 0;
    Writeback writeback(m_calls, output.get());
    for (;;) {
        const ssize_t got = retrying([&] { return m_calls.read(input.get(), data, BufferSize); });
        if (got < 0)
            fail(errno);
        if (got == 0)
            break;
        writeAll(m_calls, output.get(), data, size_t(got));
        copied += got;
        writeback.advance(off_t(copied));
        if (progress)
            progress(copied, factor * std::max(expected, copied));
    }
    if (progress && copied == 0)
        progress(0, 0);

    const struct timespec times[2] = {sourceStatus.st_atim, sourceStatus.st_mtim};
    if (m_calls.futimens(output.get(), times) == -1)
        fail(errno);
    if (retrying([&] { return m_calls.fsync(output.get()); }) == -1)
        fail(errno);
    if (retrying([&] { return m_calls.syncfs(folder.get()); }) == -1)
        fail(errno);

    if (m_verify) {
        // Without the drop the comparison would read the cache, not the key.
        if (m_calls.fadvise(output.get(), 0, 0, POSIX_FADV_DONTNEED) == -1)
            fail(errno);
        char *const readBack = data + BufferSize;
        for (off_t offset = 0;;) {
            const size_t original = readFully(m_calls, input.get(), data, BufferSize, offset);
            const size_t copy = readFully(m_calls, output.get(), readBack, BufferSize, offset);
            if (original != copy || std::memcmp(data, readBack, copy) != 0)
                throw failureFor(FailureNumber::DeviceIO);
            if (copy == 0)
                break;
            offset += off_t(copy);
            if (progress)
                progress(copied + offset, 2 * copied);
        }
    }

    output.close();
    if (m_calls.renameat(folder.get(), tempName.constData(), folder.get(), nativeName.constData()) == -1)
        fail(errno);
    placed = true;
    // EINVAL: the file system cannot sync a folder, and says so.
    if (retrying([&] { return m_calls.fsync(folder.get()); }) == -1 && errno != EINVAL)
        fail(errno);
}

void LinuxFileOperations::deleteMatching(const QString &folderPath, const QString &name)
{
    if (!DeleteName::isAcceptable(name))
        throw failureFor(FailureNumber::BadFileName);
    const DeleteName::Matcher matcher = DeleteName::matcher(name);

    const int folderFd = openFolder(m_calls, QFile::encodeName(folderPath));
    DIR *const folder = m_calls.fdopendir(folderFd);
    if (!folder) {
        const int err = errno;
        m_calls.close(folderFd);
        fail(err);
    }
    OnExit closeFolder([&] { m_calls.closedir(folder); });

    // All names first: entries removed while the folder is being read may make
    // readdir skip others.
    std::vector<QByteArray> names;
    for (;;) {
        errno = 0;
        const struct dirent *entry = m_calls.readdir(folder);
        if (!entry) {
            if (errno != 0)
                fail(errno);
            break;
        }
        const QByteArray entryName(entry->d_name);
        if (entryName != "." && entryName != ".." && DeleteName::matches(matcher, entryName))
            names.push_back(entryName);
    }

    int deleted = 0;
    std::optional<Failure> lastFailure;
    for (const QByteArray &entryName : names) {
        struct stat status = {};
        if (m_calls.fstatat(folderFd, entryName.constData(), &status, AT_SYMLINK_NOFOLLOW) == -1) {
            if (errno != ENOENT)
                lastFailure = failureFromErrno(errno);
            continue;
        }
        if (!S_ISREG(status.st_mode))
            continue;
        if (m_calls.unlinkat(folderFd, entryName.constData(), 0) == -1 && errno != ENOENT)
            lastFailure = failureFromErrno(errno);
        else
            ++deleted;
    }
    if (lastFailure)
        throw *lastFailure;
    if (deleted == 0)
        throw failureFor(FailureNumber::FileNotFound);
}
