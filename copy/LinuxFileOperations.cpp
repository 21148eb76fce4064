#include "copy/LinuxFileOperations.h"

#include "copy/DeleteName.h"
#include "copy/KeyFormat.h"
#include "drives/Failure.h"
#include "drives/FolderReading.h"

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

constexpr qint64 BufferSize = 1 << 20;
constexpr int TemporaryNameAttempts = 100;
constexpr char TemporaryPrefix[] = ".essaimeur-";
constexpr char TemporarySuffix[] = ".tmp";

[[noreturn]] void fail(int err)
{
    throw failureFromErrno(err);
}

void requireNotStopped(const std::stop_token &stop)
{
    if (stop.stop_requested())
        throw failureFor(FailureNumber::Interrupted);
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
    ~Descriptor() { close(); }
    Descriptor(const Descriptor &) = delete;
    Descriptor &operator=(const Descriptor &) = delete;

    int get() const { return m_fd; }
    int release() { return std::exchange(m_fd, -1); }
    void close()
    {
        if (m_fd >= 0)
            m_calls.close(release());
    }

private:
    Syscalls &m_calls;
    int m_fd = -1;
};

void lock(Syscalls &calls, int fd, int operation)
{
    if (retrying([&] { return calls.flock(fd, operation); }) == -1)
        fail(errno);
}

struct StatedFile
{
    int fd = -1;
    struct stat status = {};
};

// Opens a folder, after links, and makes sure it lies on the bounds' device: a link
// or a bind mount on a key must not lead a write or a deletion off it.
StatedFile openFolder(Syscalls &calls, const QByteArray &path, quint64 device)
{
    Descriptor folder(calls, retrying([&] {
                          return calls.openat(AT_FDCWD, path.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC, 0);
                      }));
    if (folder.get() < 0) {
        if (errno == ENOENT || errno == ENOTDIR)
            throw failureFor(FailureNumber::PathNotFound);
        fail(errno);
    }
    StatedFile stated;
    const bool known = calls.fstat(folder.get(), &stated.status) == 0;
    if (device != 0 && (!known || quint64(stated.status.st_dev) != device))
        throw failureFor(FailureNumber::PathNotFound);
    stated.fd = folder.release();
    return stated;
}

StatedFile openSource(Syscalls &calls, const QByteArray &path)
{
    // Non-blocking so that a FIFO given as the source is refused, not waited on.
    Descriptor source(calls, retrying([&] {
                          return calls.openat(AT_FDCWD, path.constData(),
                                              O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK, 0);
                      }));
    if (source.get() < 0)
        fail(errno);
    StatedFile stated;
    if (calls.fstat(source.get(), &stated.status) == -1)
        fail(errno);
    if (!S_ISREG(stated.status.st_mode))
        throw failureFor(FailureNumber::PathFileAccess);
    stated.fd = source.release();
    return stated;
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
    Descriptor listFd(calls,
                      retrying([&] { return calls.openat(folderFd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC, 0); }));
    if (listFd.get() < 0)
        fail(errno);
    DIR *const folder = calls.fdopendir(listFd.get());
    if (!folder)
        fail(errno);
    listFd.release();
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

// The temporary files of copies that ended without cleaning up (the machine stopped,
// the program was killed, a stuck key was abandoned). A copy locks its file before
// any sweep can see it: it creates it under the folder's shared lock, and the sweep
// runs only under the exclusive one.
void removeStaleTemporaries(Syscalls &calls, int folderFd)
{
    if (retrying([&] { return calls.flock(folderFd, LOCK_EX | LOCK_NB); }) != 0)
        return; // a copy is creating its file here: the leftovers go next time
    OnExit unlockFolder([&] { calls.flock(folderFd, LOCK_UN); });
    std::vector<QByteArray> stale;
    try {
        stale = namesIn(calls, folderFd, isTemporaryName);
    } catch (const Failure &) {
        return; // the copy itself will say what is wrong with the folder
    }
    for (const QByteArray &name : stale) {
        Descriptor file(calls, calls.openat(folderFd, name.constData(),
                                            O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY, 0));
        struct stat status = {};
        if (file.get() >= 0 && calls.fstat(file.get(), &status) == 0 && S_ISREG(status.st_mode)
            && calls.flock(file.get(), LOCK_EX | LOCK_NB) == 0)
            calls.unlinkat(folderFd, name.constData(), 0);
    }
}

// Whether the old file must go before the new one is written: an overwrite in place
// needs room for the new file only, ours needs it beside the old one. Throws 61 when
// even in place the new file would not fit.
bool mustMakeRoom(Syscalls &calls, int folderFd, const std::optional<struct stat> &existing, qint64 size)
{
    struct statvfs volume = {};
    if (calls.fstatvfs(folderFd, &volume) != 0 || volume.f_blocks == 0 || volume.f_frsize == 0
        || (volume.f_flag & ST_RDONLY))
        return false; // the volume does not say, or refuses writes anyway: its writes will tell
    const quint64 unit = volume.f_frsize;
    const quint64 blocks = (quint64(size) + unit - 1) / unit * unit;
    const quint64 needed = blocks + blocks / 64 + (quint64(256) << 10); // room for the volume's own records
    const quint64 available = quint64(volume.f_bavail) * unit;
    if (needed <= available)
        return false;
    const quint64 freed = existing && S_ISREG(existing->st_mode) ? quint64(existing->st_blocks) * 512 : 0;
    if (blocks > available + freed)
        throw failureFor(FailureNumber::DiskFull);
    return freed > 0;
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

// The block read and written at a time, and the writeback window, grow with the file:
// a few large windows would let a small file fill the cache at once, and the bar would
// run ahead of the key. At most three of them lie between the bar and the key.
struct Pace
{
    qint64 block;
    off_t window;
};

Pace paceFor(qint64 size)
{
    const qint64 step = size / 32 & ~qint64(4095);
    return {std::clamp<qint64>(step, 32 << 10, BufferSize), off_t(std::clamp<qint64>(step, 32 << 10, 16 << 20))};
}

class Writeback
{
public:
    Writeback(Syscalls &calls, int fd, off_t window)
        : m_calls(calls)
        , m_fd(fd)
        , m_window(window)
    { }

    // Starts the writeback of the whole windows below `written`, then waits for
    // the windows started before and drops them from the cache.
    void advance(off_t written)
    {
        const off_t end = written / m_window * m_window;
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
    off_t m_window;
    bool m_enabled = true;
    off_t m_started = 0;
    off_t m_done = 0;
};

// The hidden file a copy is written to, locked from before any sweep can see it until
// it has taken its name, and removed unless it took it.
class TemporaryFile
{
public:
    TemporaryFile(Syscalls &calls, int folderFd)
        : m_calls(calls)
        , m_folderFd(folderFd)
        , m_file(calls, createLocked())
    { }
    ~TemporaryFile()
    {
        if (!m_placed)
            m_calls.unlinkat(m_folderFd, m_name.constData(), 0);
    }
    TemporaryFile(const TemporaryFile &) = delete;
    TemporaryFile &operator=(const TemporaryFile &) = delete;

    int get() const { return m_file.get(); }

    // False, with errno set, when the file cannot take the name.
    bool placeAs(const QByteArray &name)
    {
        if (m_calls.renameat(m_folderFd, m_name.constData(), m_folderFd, name.constData()) == -1)
            return false;
        m_placed = true;
        m_file.close(); // the lock goes only now
        return true;
    }

private:
    int createLocked()
    {
        lock(m_calls, m_folderFd, LOCK_SH);
        OnExit unlockFolder([&] { m_calls.flock(m_folderFd, LOCK_UN); });
        Descriptor file(m_calls, create());
        try {
            lock(m_calls, file.get(), LOCK_EX | LOCK_NB);
        } catch (const Failure &) {
            m_calls.unlinkat(m_folderFd, m_name.constData(), 0);
            throw;
        }
        return file.release();
    }

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
    bool m_placed = false;
};

// One copy from an open source into an open folder.
class Copy
{
public:
    Copy(Syscalls &calls, int input, const struct stat &source, const FileOperations::Progress &progress,
         const std::stop_token &stop, bool verify)
        : m_calls(calls)
        , m_input(input)
        , m_source(source)
        , m_pace(paceFor(source.st_size))
        , m_buffers(std::make_unique_for_overwrite<char[]>(2 * BufferSize))
        , m_progress(progress)
        , m_stop(stop)
        , m_factor(verify ? 2 : 1)
    { }

    // Reads the whole source once and checks it has not changed: done before the old
    // file is removed, so that a source that cannot be read whole costs nothing.
    void checkSource()
    {
        off_t offset = 0;
        for (size_t got = 1; got > 0; offset += off_t(got)) {
            requireNotStopped(m_stop);
            got = readFully(m_calls, m_input, m_buffers.get(), size_t(m_pace.block), offset);
        }
        if (offset != m_source.st_size || changedSince(m_calls, m_input, m_source))
            throw sourceChanged();
    }

    // Copies the source to the temporary file, pushing it to the device as it goes.
    qint64 write(int output)
    {
        qint64 copied = 0;
        Writeback writeback(m_calls, output, m_pace.window);
        for (;;) {
            requireNotStopped(m_stop);
            const ssize_t got = retrying([&] { return m_calls.read(m_input, m_buffers.get(), size_t(m_pace.block)); });
            if (got < 0)
                fail(errno);
            if (got == 0)
                break;
            writeAll(m_calls, output, m_buffers.get(), size_t(got));
            copied += got;
            writeback.advance(off_t(copied));
            report(copied, m_factor * std::max<qint64>(m_source.st_size, copied));
        }
        if (copied == 0)
            report(0, 0);
        return copied;
    }

    // Reads the copy back from the device and compares it with the source.
    void verify(int output, qint64 copied)
    {
        // Without the drop the comparison would read the cache, not the key.
        if (m_calls.fadvise(output, 0, 0, POSIX_FADV_DONTNEED) == -1)
            fail(errno);
        char *const original = m_buffers.get();
        char *const copy = original + BufferSize;
        for (off_t offset = 0;;) {
            requireNotStopped(m_stop);
            const size_t originalSize = readFully(m_calls, m_input, original, size_t(m_pace.block), offset);
            const size_t copySize = readFully(m_calls, output, copy, size_t(m_pace.block), offset);
            if (originalSize != copySize || std::memcmp(original, copy, copySize) != 0)
                throw failureFor(FailureNumber::DeviceIO);
            if (copySize == 0)
                return;
            offset += off_t(copySize);
            report(copied + offset, 2 * copied);
        }
    }

private:
    void report(qint64 done, qint64 total) const
    {
        if (m_progress)
            m_progress(done, total);
    }

    Syscalls &m_calls;
    int m_input;
    const struct stat &m_source;
    Pace m_pace;
    std::unique_ptr<char[]> m_buffers;
    const FileOperations::Progress &m_progress;
    const std::stop_token &m_stop;
    int m_factor;
};

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
// When the new file fits only in place of the old one, the old one goes first,
// once the whole source has been read unchanged; a failure after that says so.
void LinuxFileOperations::copyFile(const QString &source, const QString &target, const Progress &progress,
                                   const KeyBounds &bounds, std::stop_token stop)
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
    const KeyFormat::Family family =
        folderFile.status.st_dev != 0 ? KeyFormat::ofDevice(folderFile.status.st_dev) : KeyFormat::Family::Unix;
    // FAT and exFAT drivers differ in the names they store, and refuse the others as they
    // like: on such a key, a call that fails on a name beyond ASCII fails on the name.
    const auto failOnName = [&](int err) {
        if (family != KeyFormat::Family::Unix && !FolderReading::isAscii(nativeName))
            throw failureFor(FailureNumber::BadFileName);
        fail(err);
    };

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
        failOnName(errno);
    }

    KeyFormat::requireStorable(family, name, sourceStatus.st_size);
    removeStaleTemporaries(m_calls, folder.get());

    Copy copy(m_calls, input.get(), sourceStatus, progress, stop, m_verify);
    bool removedOld = false;
    if (mustMakeRoom(m_calls, folder.get(), existing, sourceStatus.st_size)) {
        copy.checkSource();
        requireNotStopped(stop);
        if (m_calls.unlinkat(folder.get(), nativeName.constData(), 0) == -1 && errno != ENOENT)
            fail(errno);
        removedOld = true;
    }
    try {
        TemporaryFile output(m_calls, folder.get());
        const qint64 copied = copy.write(output.get());
        makeDurable(m_calls, output.get(), folder.get(), sourceStatus);
        if (m_verify) {
            try {
                copy.verify(output.get(), copied);
            } catch (const Failure &failure) {
                if (failure.number() != FailureNumber::Interrupted && changedSince(m_calls, input.get(), sourceStatus))
                    throw sourceChanged();
                throw;
            }
        }
        if (copied != sourceStatus.st_size || changedSince(m_calls, input.get(), sourceStatus))
            throw sourceChanged();
        requireNotStopped(stop);
        if (!output.placeAs(nativeName))
            failOnName(errno);
    } catch (const Failure &failure) {
        if (!removedOld)
            throw;
        throw Failure(failure.number(),
                      failure.description() + QStringLiteral(". L'ancien fichier a été supprimé pour faire de la place"),
                      failure.source());
    }
    // EINVAL: the file system cannot sync a folder, and says so.
    if (retrying([&] { return m_calls.fsync(folder.get()); }) == -1 && errno != EINVAL)
        fail(errno);
}

void LinuxFileOperations::deleteMatching(const QString &folderPath, const QString &name, const KeyBounds &bounds,
                                         std::stop_token stop)
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
        requireNotStopped(stop);
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
