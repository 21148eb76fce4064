// bench_keys [size_mib=24] [keys=8] [write_mib_s=12] [read_mib_s=30]: the copy run of
// the window (ParallelRun over LinuxFileOperations) onto slow keys, simulated with
// real block devices. Run as root; the bench enters a private mount namespace itself.
//
// Each key is an ext4 image on a private tmpfs, attached to a loop device and
// mounted; the block-I/O controller (cgroup v1, root group, where the kernel's
// flusher submits its writes) throttles each loop device to the given rates. The
// bench times one key, then all keys at once, and the peak memory (VmHWM) of each
// run in a fresh process; all keys again with four times the file shows whether
// the memory grows with the file.
//
// Throttles are reset, keys unmounted and loop devices detached on every way out,
// a signal included. Should the bench be killed outright, a guard process resets
// the throttles and removes the workspace, and the end of the namespace takes the
// mounts and, with them, the loop devices (attached with autoclear).
#include "copy/LinuxFileOperations.h"
#include "copy/ParallelRun.h"
#include "copy/SlotJob.h"

#include <QFile>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <linux/loop.h>
#include <mutex>
#include <random>
#include <spawn.h>
#include <stdexcept>
#include <string>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char **environ;

namespace {

constexpr char InNamespace[] = "--in-private-mounts";
constexpr char MeasureFlag[] = "--measure";
constexpr char Throttles[] = "/sys/fs/cgroup/blkio/blkio.throttle.";
constexpr char FileName[] = "cours.bin";
constexpr double MiB = 1 << 20;
constexpr int FlatnessFactor = 4;
constexpr double MemoryTargetMiB = 48;
constexpr double FlatnessSlackMiB = 4;

volatile std::sig_atomic_t stopped = 0;

struct Error : std::runtime_error
{
    using std::runtime_error::runtime_error;
};

std::string withErrno(const std::string &what)
{
    return what + ": " + std::strerror(errno);
}

void checkStopped()
{
    if (stopped)
        throw Error("stopped by a signal");
}

// Runs a program to its end; a signal to the bench ends it too.
int runProgram(const std::vector<std::string> &args, bool quiet = true)
{
    std::vector<char *> argv;
    for (const std::string &arg : args)
        argv.push_back(const_cast<char *>(arg.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (quiet)
        posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    pid_t pid = 0;
    const int spawned = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0)
        throw Error(args[0] + ": " + std::strerror(spawned));
    int status = 0;
    while (waitpid(pid, &status, 0) == -1) {
        if (errno != EINTR)
            throw Error(withErrno("waitpid"));
        if (stopped)
            kill(pid, SIGKILL);
    }
    checkStopped();
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

void require(const std::vector<std::string> &args)
{
    if (const int code = runProgram(args); code != 0)
        throw Error(args[0] + " failed with " + std::to_string(code));
}

void writeFile(const std::string &path, const std::string &text)
{
    const int fd = open(path.c_str(), O_WRONLY | O_CLOEXEC);
    if (fd < 0)
        throw Error(withErrno(path));
    const bool written = write(fd, text.data(), text.size()) == ssize_t(text.size());
    const int err = errno;
    close(fd);
    if (!written)
        throw Error(path + " refused \"" + text + "\": " + std::strerror(err));
}

void makeRandomFile(const std::string &path, qint64 bytes)
{
    std::ofstream out(path, std::ios::binary);
    std::mt19937_64 random(42);
    std::vector<std::uint64_t> block(1 << 17);
    for (qint64 left = bytes; left > 0; left -= qint64(sizeof(std::uint64_t) * block.size())) {
        for (std::uint64_t &word : block)
            word = random();
        out.write(reinterpret_cast<const char *>(block.data()),
                  std::streamsize(std::min<qint64>(left, qint64(sizeof(std::uint64_t) * block.size()))));
    }
    if (!out.flush())
        throw Error("cannot write " + path);
}

// One simulated key: image, loop device, mount, throttle. Undone in reverse.
class Key
{
public:
    Key(const std::string &folder, int number)
        : m_number(number)
        , m_image(folder + "/key" + std::to_string(number) + ".img")
        , m_mountPoint(folder + "/key" + std::to_string(number))
    { }
    ~Key() { undo(); }
    Key(const Key &) = delete;
    Key &operator=(const Key &) = delete;

    void setUp(qint64 imageBytes)
    {
        {
            std::ofstream image(m_image, std::ios::binary);
        }
        if (truncate(m_image.c_str(), imageBytes) != 0)
            throw Error(withErrno(m_image));
        // Inode tables and journal written now: no background initialisation later
        // takes the throttled bandwidth.
        require({"mkfs.ext4", "-q", "-F", "-E", "lazy_itable_init=0,lazy_journal_init=0", "-L",
                 "CLE" + std::to_string(m_number), m_image});
        attach();
        mkdir(m_mountPoint.c_str(), 0755);
        if (mount(m_loopPath.c_str(), m_mountPoint.c_str(), "ext4", 0, nullptr) != 0)
            throw Error(withErrno("mount " + m_loopPath));
        m_mounted = true;
    }

    const std::string &mountPoint() const { return m_mountPoint; }
    std::string device() const { return std::to_string(major(m_device)) + ":" + std::to_string(minor(m_device)); }

    void throttle(qint64 writeBps, qint64 readBps)
    {
        m_throttled = true;
        writeFile(std::string(Throttles) + "write_bps_device", device() + " " + std::to_string(writeBps));
        writeFile(std::string(Throttles) + "read_bps_device", device() + " " + std::to_string(readBps));
    }

    // The previous copy goes, and the key settles before the next run.
    void clear() const
    {
        unlink((m_mountPoint + "/" + FileName).c_str());
        const int fd = open(m_mountPoint.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (fd >= 0) {
            syncfs(fd);
            close(fd);
        }
    }

    // Returns what could not be undone.
    std::string undo()
    {
        std::string problems;
        if (m_throttled) {
            for (const char *kind : {"write_bps_device", "read_bps_device"}) {
                try {
                    writeFile(std::string(Throttles) + kind, device() + " 0");
                } catch (const Error &error) {
                    problems += std::string(error.what()) + "; ";
                }
            }
            m_throttled = false;
        }
        if (m_mounted && umount(m_mountPoint.c_str()) != 0) {
            problems += withErrno("umount " + m_mountPoint) + " (detached lazily); ";
            umount2(m_mountPoint.c_str(), MNT_DETACH);
        }
        m_mounted = false;
        if (m_loopFd >= 0) {
            // Through our own descriptor: the device is still ours, whoever waits for one.
            if (ioctl(m_loopFd, LOOP_CLR_FD) != 0 && errno != ENXIO)
                problems += withErrno("detach " + m_loopPath) + "; ";
            close(m_loopFd);
            m_loopFd = -1;
        }
        return problems;
    }

private:
    void attach()
    {
        const int backing = open(m_image.c_str(), O_RDWR | O_CLOEXEC);
        const int control = open("/dev/loop-control", O_RDWR | O_CLOEXEC);
        if (backing < 0 || control < 0)
            throw Error(withErrno("open " + m_image + " or /dev/loop-control"));
        for (int attempt = 0; attempt < 20 && m_loopFd < 0; ++attempt) {
            const int number = ioctl(control, LOOP_CTL_GET_FREE);
            if (number < 0)
                break;
            m_loopPath = "/dev/loop" + std::to_string(number);
            const int fd = open(m_loopPath.c_str(), O_RDWR | O_CLOEXEC);
            loop_config config = {};
            config.fd = unsigned(backing);
            // Autoclear: should the bench be killed, the device goes with the last mount.
            config.info.lo_flags = LO_FLAGS_AUTOCLEAR | (std::getenv("BENCH_KEYS_DIRECT_IO") ? LO_FLAGS_DIRECT_IO : 0);
            std::strncpy(reinterpret_cast<char *>(config.info.lo_file_name), m_image.c_str(), LO_NAME_SIZE - 1);
            if (fd >= 0 && ioctl(fd, LOOP_CONFIGURE, &config) == 0)
                m_loopFd = fd; // someone else may take a free device first: try another
            else if (fd >= 0)
                close(fd);
        }
        const int err = errno;
        close(control);
        close(backing);
        if (m_loopFd < 0)
            throw Error("no loop device for " + m_image + ": " + std::strerror(err));
        struct stat status = {};
        fstat(m_loopFd, &status);
        m_device = status.st_rdev;
    }

    int m_number;
    std::string m_image;
    std::string m_mountPoint;
    std::string m_loopPath;
    int m_loopFd = -1;
    dev_t m_device = 0;
    bool m_mounted = false;
    bool m_throttled = false;
};

// A process that outlives the bench, however it ends, and then undoes what it was
// told of: the throttles (global, unlike the mounts) and the workspace's folder.
class Guard
{
public:
    Guard()
    {
        int fds[2];
        if (pipe2(fds, O_CLOEXEC) != 0 || (m_pid = fork()) < 0)
            throw Error(withErrno("guard"));
        if (m_pid == 0) {
            close(fds[1]);
            for (const int number : {SIGINT, SIGTERM, SIGHUP})
                signal(number, SIG_IGN);
            std::string told;
            char buffer[256];
            for (ssize_t got; (got = read(fds[0], buffer, sizeof buffer)) != 0;) {
                if (got > 0)
                    told.append(buffer, size_t(got));
                else if (errno != EINTR)
                    break;
            }
            for (size_t at = 0, end; (end = told.find('\n', at)) != std::string::npos; at = end + 1)
                undo(told.substr(at, end - at));
            _exit(0);
        }
        close(fds[0]);
        m_fd = fds[1];
    }
    ~Guard()
    {
        close(m_fd);
        while (waitpid(m_pid, nullptr, 0) == -1 && errno == EINTR) {
        }
    }
    Guard(const Guard &) = delete;
    Guard &operator=(const Guard &) = delete;

    void throttled(const std::string &device) { tell("T" + device); }
    void workspace(const std::string &path) { tell("W" + path); }

private:
    void tell(const std::string &line)
    {
        const std::string text = line + '\n';
        if (write(m_fd, text.data(), text.size()) != ssize_t(text.size()))
            throw Error(withErrno("guard"));
    }

    // Both are no-ops once the bench has cleaned up itself.
    static void undo(const std::string &line)
    {
        if (line[0] == 'T') {
            for (const char *kind : {"write_bps_device", "read_bps_device"}) {
                try {
                    writeFile(std::string(Throttles) + kind, line.substr(1) + " 0");
                } catch (const Error &) {
                }
            }
        } else if (line[0] == 'W' && umount2(line.c_str() + 1, MNT_DETACH) == 0) {
            rmdir(line.c_str() + 1);
        }
    }

    pid_t m_pid = -1;
    int m_fd = -1;
};

// The private tmpfs that holds the images and the sources.
class Workspace
{
public:
    explicit Workspace(qint64 bytes)
    {
        char pattern[] = "/tmp/bench-keys-XXXXXX";
        if (!mkdtemp(pattern))
            throw Error(withErrno("mkdtemp"));
        m_path = pattern;
        const std::string options = "size=" + std::to_string(bytes) + ",mode=0700";
        if (mount("bench-keys", m_path.c_str(), "tmpfs", 0, options.c_str()) != 0) {
            rmdir(m_path.c_str());
            throw Error(withErrno("mount tmpfs on " + m_path));
        }
    }
    ~Workspace()
    {
        if (umount(m_path.c_str()) != 0)
            umount2(m_path.c_str(), MNT_DETACH);
        rmdir(m_path.c_str());
    }
    const std::string &path() const { return m_path; }

private:
    std::string m_path;
};

struct Measure
{
    double seconds = 0;
    double peakMiB = 0;
};

double peakMemoryMiB()
{
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);) {
        if (line.rfind("VmHWM:", 0) == 0)
            return std::stod(line.substr(6)) / 1024;
    }
    return -1;
}

// Child mode: one run of the window's engine onto the given mount points; writes
// "seconds peak_mib" to the result file.
int measureChild(int argc, char *argv[])
{
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    const std::string resultPath = argv[2];
    const QString source = QFile::decodeName(argv[3]);
    QList<SlotJob> jobs;
    for (int i = 4; i < argc; ++i) {
        struct stat status = {};
        if (stat(argv[i], &status) != 0) {
            std::perror(argv[i]);
            return 1;
        }
        // As the window gives them: a key's folder with its root and device, listed
        // where it is written; the source on the system drive (device 0).
        SlotJob job;
        job.slot = i - 3;
        job.name = QString::fromLatin1(FileName);
        job.source = VolumePlace{source, source.left(source.lastIndexOf(u'/')), 0, std::nullopt};
        job.destination =
            VolumePlace{QFile::decodeName(argv[i]), QFile::decodeName(argv[i]), quint64(status.st_dev), std::nullopt};
        job.listing = job.destination;
        jobs.append(job);
    }

    LinuxFileOperations files;
    std::mutex mutex;
    std::condition_variable ended;
    bool done = false;
    QList<SlotResult> results;
    std::vector<std::atomic<int>> shown(size_t(jobs.size() + 1));
    const auto start = std::chrono::steady_clock::now();
    {
        ParallelRun run(
            files,
            ParallelRun::Callbacks{
                [&](int slot, qint64 copied, qint64 total) { // what the window's progress does, less the posting
                    shown[size_t(slot)].store(total > 0 ? int(copied * 1000 / total) : 1000);
                },
                [&](const SlotResult &result) {
                    const std::lock_guard lock(mutex);
                    results.append(result);
                },
                [&] {
                    const std::lock_guard lock(mutex);
                    done = true;
                    ended.notify_all();
                },
            });
        run.start(jobs);
        std::unique_lock lock(mutex);
        ended.wait(lock, [&] { return done; });
    }
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    for (const SlotResult &result : results) {
        if (!result.copied || result.failure) {
            std::fprintf(stderr, "slot %d: %s\n", result.slot,
                         result.failure ? qPrintable(result.failure->description()) : "not copied");
            return 1;
        }
    }
    std::ofstream(resultPath) << seconds << ' ' << peakMemoryMiB() << '\n';
    return 0;
}

Measure measure(const std::string &self, const std::string &folder, const std::string &source,
                const std::vector<std::unique_ptr<Key>> &keys, size_t count)
{
    std::vector<std::string> args{self, MeasureFlag, folder + "/result", source};
    for (size_t i = 0; i < count; ++i) {
        keys[i]->clear();
        args.push_back(keys[i]->mountPoint());
    }
    if (runProgram(args, false) != 0)
        throw Error("the copy run failed");
    Measure result;
    std::ifstream(folder + "/result") >> result.seconds >> result.peakMiB;
    return result;
}

const char *verdict(bool met)
{
    return met ? "met" : "MISSED";
}

int bench(const std::string &self, qint64 sizeMiB, int keyCount, double writeMiBs, double readMiBs)
{
    const qint64 size = sizeMiB << 20;
    const qint64 imageBytes = ((FlatnessFactor * size * 9 / 8) & ~qint64(0xfffff)) + (qint64(48) << 20);
    Guard guard;
    Workspace workspace(keyCount * imageBytes + (FlatnessFactor + 1) * size + (qint64(64) << 20));
    const std::string &folder = workspace.path();
    guard.workspace(folder);
    const std::string small = folder + "/source-small.bin";
    const std::string large = folder + "/source-large.bin";
    makeRandomFile(small, size);
    makeRandomFile(large, FlatnessFactor * size);

    std::vector<std::unique_ptr<Key>> keys;
    std::string problems;
    int code = 0;
    try {
        for (int i = 1; i <= keyCount; ++i) {
            checkStopped();
            keys.push_back(std::make_unique<Key>(folder, i));
            keys.back()->setUp(imageBytes);
        }
        sync();
        for (const auto &key : keys) {
            guard.throttled(key->device());
            key->throttle(qint64(writeMiBs * MiB), qint64(readMiBs * MiB));
        }

        const double limit = sizeMiB / writeMiBs + sizeMiB / readMiBs;
        std::printf("%d ext4 keys on throttled loop devices, writes %.0f MiB/s, reads %.0f MiB/s, file %lld MiB\n",
                    keyCount, writeMiBs, readMiBs, static_cast<long long>(sizeMiB));
        std::printf("physical limit of one key: %.2f s (%lld MiB / %.0f MiB/s + %lld MiB / %.0f MiB/s)\n", limit,
                    static_cast<long long>(sizeMiB), writeMiBs, static_cast<long long>(sizeMiB), readMiBs);
        std::fflush(stdout);
        const Measure one = measure(self, folder, small, keys, 1);
        std::printf("one key:     %6.2f s = %.2f x the limit (target <= 1.15: %s), peak memory %.1f MiB\n", one.seconds,
                    one.seconds / limit, verdict(one.seconds <= 1.15 * limit), one.peakMiB);
        std::fflush(stdout);
        const Measure all = measure(self, folder, small, keys, keys.size());
        std::printf(
            "%d keys:      %6.2f s = %.2f x one key (target <= 1.30: %s), peak memory %.1f MiB (target < %.0f: %s)\n",
            keyCount, all.seconds, all.seconds / one.seconds, verdict(all.seconds <= 1.3 * one.seconds), all.peakMiB,
            MemoryTargetMiB, verdict(all.peakMiB < MemoryTargetMiB));
        std::fflush(stdout);
        const Measure big = measure(self, folder, large, keys, keys.size());
        const bool flat = big.peakMiB < MemoryTargetMiB && big.peakMiB - all.peakMiB < FlatnessSlackMiB;
        std::printf("%d keys, %lld MiB file: %6.2f s, peak memory %.1f MiB (%+.1f MiB for %dx the file; flat: %s)\n",
                    keyCount, static_cast<long long>(FlatnessFactor * sizeMiB), big.seconds, big.peakMiB,
                    big.peakMiB - all.peakMiB, FlatnessFactor, verdict(flat));
        const bool met =
            one.seconds <= 1.15 * limit && all.seconds <= 1.3 * one.seconds && all.peakMiB < MemoryTargetMiB && flat;
        std::printf("targets: %s\n", met ? "all met" : "some MISSED");
        code = met ? 0 : 3;
    } catch (const Error &error) {
        std::fprintf(stderr, "bench_keys: %s\n", error.what());
        code = 1;
    }
    while (!keys.empty()) {
        problems += keys.back()->undo();
        keys.pop_back();
    }
    if (!problems.empty()) {
        std::fprintf(stderr, "bench_keys: cleanup: %s\n", problems.c_str());
        code = 1;
    }
    return code;
}

} // namespace

int main(int argc, char *argv[])
{
    if (argc >= 4 && std::strcmp(argv[1], MeasureFlag) == 0)
        return measureChild(argc, argv);
    if (geteuid() != 0) {
        std::fprintf(stderr, "bench_keys: needs root (loop devices, mounts, block-I/O throttles)\n");
        return 1;
    }
    char self[4096] = {};
    if (readlink("/proc/self/exe", self, sizeof self - 1) <= 0) {
        std::perror("bench_keys: /proc/self/exe");
        return 1;
    }
    if (argc < 2 || std::strcmp(argv[1], InNamespace) != 0) {
        // Mounts made in a private namespace never reach the machine's mount table.
        std::vector<char *> args{const_cast<char *>("unshare"),
                                 const_cast<char *>("-m"),
                                 const_cast<char *>("--propagation"),
                                 const_cast<char *>("private"),
                                 self,
                                 const_cast<char *>(InNamespace)};
        for (int i = 1; i < argc; ++i)
            args.push_back(argv[i]);
        args.push_back(nullptr);
        execvp("unshare", args.data());
        std::perror("bench_keys: unshare");
        return 1;
    }
    const auto argument = [&](int index, double fallback) { return argc > index ? std::atof(argv[index]) : fallback; };
    const qint64 sizeMiB = qint64(argument(2, 24));
    const int keys = int(argument(3, 8));
    const double writeMiBs = argument(4, 12);
    const double readMiBs = argument(5, 30);
    if (sizeMiB <= 0 || keys < 1 || keys > 8 || writeMiBs <= 0 || readMiBs <= 0) {
        std::fprintf(stderr, "usage: bench_keys [size_mib=24] [keys=1..8, 8] [write_mib_s=12] [read_mib_s=30]\n");
        return 2;
    }
    struct sigaction action = {};
    action.sa_handler = [](int) { stopped = 1; }; // no SA_RESTART: waits end, cleanup runs
    for (const int number : {SIGINT, SIGTERM, SIGHUP})
        sigaction(number, &action, nullptr);
    return bench(self, sizeMiB, keys, writeMiBs, readMiBs);
}
