#include "copy/LinuxFileOperations.h"

#include "copy/DeleteName.h"
#include "copy/KeyFormat.h"
#include "copy/TemporaryFiles.h"
#include "drives/Failure.h"

#include <QFile>
#include <QRandomGenerator>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <optional>
#include <sys/file.h>
#include <utility>
#include <vector>

namespace {

constexpr size_t BufferSize = 1 << 20;
// Written data is pushed to the device window by window, so that the dirty pages
// stay few and the progress follows the key rather than the cache.
constexpr off_t WritebackWindow = off_t(16) << 20;
constexpr int TemporaryNameAttempts = 100;
constexpr char TemporaryPrefix[] = ".essaimeur-";
constexpr char TemporarySuffix[] = ".tmp";

[[noreturn]] void fail(int err)
{
    throw failureFromErrno(err);
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
    explicit OnExit(Action action)
        : m_action(std::move(action))
    { }
    ~OnExit() { m_action(); }
    OnExit(const OnExit &) = delete;
    OnExit &operator=(const OnExit &) = delete;

private:
    Action m_action;
};

class Descriptor
{
public:
    Descriptor(Syscalls &calls, int fd)
        : m_calls(calls)
        , m_fd(fd)
    { }
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

struct StatedFile
{
    int fd = -1;
    struct stat status = {};
};

// Opens a folder, after links, and makes sure it lies on the bounds' device: a link
// or a bind mount on a key must not lead a write or a deletion off it.
StatedFile openFolder(Syscalls &calls, const QByteArray &path, quint64 device)
{
    StatedFile folder;
    folder.fd =
        retrying([&] { return calls.openat(AT_FDCWD, path.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC, 0); });
    if (folder.fd < 0) {
        if (errno == ENOENT || errno == ENOTDIR)
            throw failureFor(FailureNumber::PathNotFound);
        fail(errno);
    }
    const bool stated = calls.fstat(folder.fd, &folder.status) == 0;
    if (device != 0 && (!stated || quint64(folder.status.st_dev) != device)) {
        calls.close(folder.fd);
        throw failureFor(FailureNumber::PathNotFound);
    }
    return folder;
}

StatedFile openSource(Syscalls &calls, const QByteArray &path)
{
    StatedFile source;
    // Non-blocking so that a FIFO given as the source is refused, not waited on.
    source.fd = retrying(
        [&] { return calls.openat(AT_FDCWD, path.constData(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK, 0); });
    if (source.fd < 0)
        fail(errno);
    if (calls.fstat(source.fd, &source.status) == -1) {
        const int err = errno;
        calls.close(source.fd);
        fail(err);
    }
    if (!S_ISREG(source.status.st_mode)) {
        calls.close(source.fd);
        throw failureFor(FailureNumber::PathFileAccess);
    }
    return source;
}

bool isTemporaryName(const QByteArray &name)
{
    return name.startsWith(TemporaryPrefix) && name.endsWith(TemporarySuffix);
}

QByteArray temporaryName()
{
    static constexpr char Alphabet[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    QByteArray name(TemporaryPrefix);
    for (int i = 0; i < 12; ++i)
        name += Alphabet[QRandomGenerator::system()->bounded(int(sizeof Alphabet - 1))];
    return name + TemporarySuffix;
}

// Reads a folder's names through its descriptor, all of them before anything is
// removed: entries removed while the folder is read may make readdir skip others.
std::vector<QByteArray> namesIn(Syscalls &calls, int folderFd, const std::function<bool(const QByteArray &)> &wanted)
{
    const int listFd = retrying([&] { return calls.openat(folderFd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC, 0); });
    if (listFd < 0)
        fail(errno);
    DIR *const folder = calls.fdopendir(listFd);
    if (!folder) {
        const int err = errno;
        calls.close(listFd);
        fail(err);
    }
    OnExit closeFolder([&] { calls.closedir(folder); });
    std::vector<QByteArray> names;
    for (;;) {
        errno = 0;
        const struct dirent *entry = calls.readdir(folder);
        if (!entry) {
            if (errno != 0)
                fail(errno);
            return names;
        }
        const QByteArray name(entry->d_name);
        if (name != "." && name != ".." && wanted(name))
            names.push_back(name);
    }
}

// The temporary files of copies that ended without cleaning up (the machine
// stopped, the program was killed): a running copy holds a lock on its own.
void removeStaleTemporaries(Syscalls &calls, int folderFd)
{
    std::vector<QByteArray> stale;
    try {
        stale = namesIn(calls, folderFd, isTemporaryName);
    } catch (const Failure &) {
        return; // the copy itself will say what is wrong with the folder
    }
    for (const QByteArray &name : stale) {
        const int fd =
            calls.openat(folderFd, name.constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY, 0);
        if (fd < 0)
            continue;
        struct stat status = {};
        if (calls.fstat(fd, &status) == 0 && S_ISREG(status.st_mode) && calls.flock(fd, LOCK_EX | LOCK_NB) == 0)
            calls.unlinkat(folderFd, name.constData(), 0);
        calls.close(fd);
    }
}

// An overwrite in place needs room for the new file only; ours needs it beside the
// old one. When only the first fits, the old file goes first, as it would in place;
// when neither fits, nothing is written.
void makeRoom(Syscalls &calls, int folderFd, const QByteArray &name, const std::optional<struct stat> &existing,
              qint64 size)
{
    struct statvfs volume = {};
    if (calls.fstatvfs(folderFd, &volume) != 0 || volume.f_blocks == 0 || volume.f_frsize == 0
        || (volume.f_flag & ST_RDONLY))
        return; // the volume does not say, or refuses writes anyway: its writes will tell
    const quint64 unit = volume.f_frsize;
    const quint64 blocks = (quint64(size) + unit - 1) / unit * unit;
    const quint64 needed = blocks + blocks / 64 + (quint64(256) << 10); // room for the volume's own records
    const quint64 available = quint64(volume.f_bavail) * unit;
    if (needed <= available)
        return;
    const quint64 freed = existing && S_ISREG(existing->st_mode) ? quint64(existing->st_blocks) * 512 : 0;
    if (blocks > available + freed)
        throw failureFor(FailureNumber::DiskFull);
    if (freed > 0 && calls.unlinkat(folderFd, name.constData(), 0) == -1 && errno != ENOENT)
        fail(errno);
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

bool changedSince(Syscalls &calls, int fd, const struct stat &before)
{
    struct stat now = {};
    return calls.fstat(fd, &now) != 0 || now.st_size != before.st_size || now.st_mtim.tv_sec != before.st_mtim.tv_sec
        || now.st_mtim.tv_nsec != before.st_mtim.tv_nsec;
}

Failure sourceChanged()
{
    return Failure(FailureNumber::PathFileAccess, QStringLiteral("Le fichier source a changé pendant la copie"));
}

class Writeback
{
public:
    Writeback(Syscalls &calls, int fd)
        : m_calls(calls)
        , m_fd(fd)
    { }

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

// The hidden file a copy is written to, locked while it lives so that no other
// copy takes it for a leftover, and removed unless it was placed.
class TemporaryFile
{
public:
    TemporaryFile(Syscalls &calls, int folderFd, const QByteArray &folderPath)
        : m_calls(calls)
        , m_folderFd(folderFd)
        , m_file(calls, create())
    {
        m_calls.flock(m_file.get(), LOCK_EX);
        m_registration = TemporaryFiles::remember(folderPath + '/' + m_name);
    }
    ~TemporaryFile()
    {
        m_file.closeQuietly();
        if (!m_placed)
            m_calls.unlinkat(m_folderFd, m_name.constData(), 0);
        TemporaryFiles::forget(m_registration);
    }
    TemporaryFile(const TemporaryFile &) = delete;
    TemporaryFile &operator=(const TemporaryFile &) = delete;

    int get() const { return m_file.get(); }

    void placeAs(const QByteArray &name)
    {
        m_file.close();
        if (m_calls.renameat(m_folderFd, m_name.constData(), m_folderFd, name.constData()) == -1)
            fail(errno);
        m_placed = true;
    }

private:
    int create()
    {
        for (int attempt = 1;; ++attempt) {
            m_name = temporaryName();
            // Read and write: the read-back goes through this descriptor, not through a name.
            const int fd = retrying([&] {
                return m_calls.openat(m_folderFd, m_name.constData(),
                                      O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY, 0644);
            });
            if (fd >= 0)
                return fd;
            if (errno != EEXIST || attempt == TemporaryNameAttempts)
                fail(errno);
        }
    }

    Syscalls &m_calls;
    int m_folderFd;
    QByteArray m_name;
    Descriptor m_file;
    int m_registration = -1;
    bool m_placed = false;
};

// Copies the source to the temporary file, pushing it to the device as it goes.
qint64 writeCopy(Syscalls &calls, int input, int output, char *buffer, qint64 expected, int factor,
                 const FileOperations::Progress &progress)
{
    qint64 copied = 0;
    Writeback writeback(calls, output);
    for (;;) {
        const ssize_t got = retrying([&] { return calls.read(input, buffer, BufferSize); });
        if (got < 0)
            fail(errno);
        if (got == 0)
            break;
        writeAll(calls, output, buffer, size_t(got));
        copied += got;
        writeback.advance(off_t(copied));
        if (progress)
            progress(copied, factor * std::max(expected, copied));
    }
    if (progress && copied == 0)
        progress(0, 0);
    return copied;
}

void makeDurable(Syscalls &calls, int output, int folder, const struct stat &source)
{
    const struct timespec times[2] = {source.st_atim, source.st_mtim};
    if (calls.futimens(output, times) == -1)
        fail(errno);
    if (retrying([&] { return calls.fsync(output); }) == -1)
        fail(errno);
    if (retrying([&] { return calls.syncfs(folder); }) == -1)
        fail(errno);
}

// Reads the copy back from the device and compares it with the source.
void verifyCopy(Syscalls &calls, int input, int output, char *buffers, qint64 copied,
                const FileOperations::Progress &progress)
{
    // Without the drop the comparison would read the cache, not the key.
    if (calls.fadvise(output, 0, 0, POSIX_FADV_DONTNEED) == -1)
        fail(errno);
    char *const original = buffers;
    char *const copy = buffers + BufferSize;
    for (off_t offset = 0;;) {
        const size_t originalSize = readFully(calls, input, original, BufferSize, offset);
        const size_t copySize = readFully(calls, output, copy, BufferSize, offset);
        if (originalSize != copySize || std::memcmp(original, copy, copySize) != 0)
            throw failureFor(FailureNumber::DeviceIO);
        if (copySize == 0)
            return;
        offset += off_t(copySize);
        if (progress)
            progress(copied + offset, 2 * copied);
    }
}

} // namespace

LinuxFileOperations::LinuxFileOperations(Syscalls &calls)
    : m_calls(calls)
{ }

// Order of the copy: temporary file written, dated and fsynced, volume synced,
// cache dropped, copy read back and compared, and only then renamed over the
// target and the folder fsynced. Every failure up to the comparison removes the
// temporary file and leaves the target as it was: a copy that reads back wrong
// never takes the target's name. The folder's fsync is the only step after the
// rename; when it fails the target already holds the new, verified content.
void LinuxFileOperations::copyFile(const QString &source, const QString &target, const Progress &progress,
                                   const KeyBounds &bounds)
{
    const qsizetype slash = target.lastIndexOf(u'/');
    const QString name = target.mid(slash + 1);
    if (name.isEmpty() || name == u"." || name == u"..")
        throw failureFor(FailureNumber::BadFileName);
    const QByteArray folderPath = slash < 0 ? QByteArray(".")
        : slash == 0                        ? QByteArray("/")
                                            : QFile::encodeName(target.left(slash));
    const QByteArray nativeName = QFile::encodeName(name);

    const StatedFile sourceFile = openSource(m_calls, QFile::encodeName(source));
    Descriptor input(m_calls, sourceFile.fd);
    const struct stat &sourceStatus = sourceFile.status;
    const StatedFile folderFile = openFolder(m_calls, folderPath, bounds.device);
    Descriptor folder(m_calls, folderFile.fd);

    std::optional<struct stat> existing;
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
        existing = targetStatus;
    } else if (errno != ENOENT) {
        fail(errno);
    }

    if (folderFile.status.st_dev != 0)
        KeyFormat::requireStorable(KeyFormat::ofDevice(folderFile.status.st_dev), name, sourceStatus.st_size);
    removeStaleTemporaries(m_calls, folder.get());
    makeRoom(m_calls, folder.get(), nativeName, existing, sourceStatus.st_size);

    TemporaryFile output(m_calls, folder.get(), folderPath);
    const auto buffers = std::make_unique_for_overwrite<char[]>(2 * BufferSize);
    const qint64 copied =
        writeCopy(m_calls, input.get(), output.get(), buffers.get(), sourceStatus.st_size, m_verify ? 2 : 1, progress);
    makeDurable(m_calls, output.get(), folder.get(), sourceStatus);
    if (m_verify) {
        try {
            verifyCopy(m_calls, input.get(), output.get(), buffers.get(), copied, progress);
        } catch (const Failure &) {
            if (changedSince(m_calls, input.get(), sourceStatus))
                throw sourceChanged();
            throw;
        }
    }
    if (copied != sourceStatus.st_size || changedSince(m_calls, input.get(), sourceStatus))
        throw sourceChanged();

    output.placeAs(nativeName);
    // EINVAL: the file system cannot sync a folder, and says so.
    if (retrying([&] { return m_calls.fsync(folder.get()); }) == -1 && errno != EINVAL)
        fail(errno);
}

void LinuxFileOperations::deleteMatching(const QString &folderPath, const QString &name, const KeyBounds &bounds)
{
    if (!DeleteName::isAcceptable(name))
        throw failureFor(FailureNumber::BadFileName);
    const DeleteName::Matcher matcher = DeleteName::matcher(name);
    const QString spared = bounds.sparedName.toCaseFolded();
    struct stat sparedFile = {};
    const bool sparesFile = !bounds.sparedFile.isEmpty()
        && m_calls.fstatat(AT_FDCWD, QFile::encodeName(bounds.sparedFile).constData(), &sparedFile, 0) == 0;

    const StatedFile folderFile = openFolder(m_calls, QFile::encodeName(folderPath), bounds.device);
    Descriptor folder(m_calls, folderFile.fd);
    const std::vector<QByteArray> names = namesIn(m_calls, folder.get(), [&](const QByteArray &entryName) {
        // Neither a copy being written nor the run's own fresh copy is what the operator meant.
        return !isTemporaryName(entryName) && DeleteName::matches(matcher, entryName)
            && (spared.isEmpty() || DeleteName::decodeNative(entryName).toCaseFolded() != spared);
    });

    int deleted = 0;
    std::optional<Failure> lastFailure;
    for (const QByteArray &entryName : names) {
        struct stat status = {};
        if (m_calls.fstatat(folder.get(), entryName.constData(), &status, AT_SYMLINK_NOFOLLOW) == -1) {
            if (errno != ENOENT)
                lastFailure = failureFromErrno(errno);
            continue;
        }
        if (!S_ISREG(status.st_mode)
            || (sparesFile && status.st_dev == sparedFile.st_dev && status.st_ino == sparedFile.st_ino))
            continue;
        if (m_calls.unlinkat(folder.get(), entryName.constData(), 0) == -1 && errno != ENOENT)
            lastFailure = failureFromErrno(errno);
        else
            ++deleted;
    }
    if (lastFailure)
        throw *lastFailure;
    if (deleted == 0)
        throw failureFor(FailureNumber::FileNotFound);
}
