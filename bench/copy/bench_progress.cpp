// bench_progress [size_mib ...=4 24 200]: whether the progress bar of a copy follows
// the key rather than the page cache. Run as root; the bench enters a private mount
// namespace itself.
//
// One slow key, simulated as in bench_keys: an ext4 image on a private tmpfs, attached
// to a loop device, mounted, and throttled by the block-I/O controller (cgroup v1).
// For each size, one copy run of the window's engine (ParallelRun over
// LinuxFileOperations); every 50 ms the bar's fraction (the latest done / total of the
// progress callback) is set against the key's: what the loop device has written and
// read since the run started, over twice the size (the copy is written, then read
// back). ext4's metadata and journal count: the key writes them too. Target: the two
// fractions less than 10 % apart at every sample. Before each run the previous copy
// goes, the volume is synced, and the bench waits until nothing else uses the device:
// a device manager probing it would count as the copy.
//
// Throttle reset, key unmounted and loop device detached on every way out, a signal
// included; should the bench be killed outright, a guard process resets the throttles
// and removes the workspace, and the end of the namespace takes the mounts and, with
// them, the loop device (attached with autoclear).
#include "copy/LinuxFileOperations.h"
#include "copy/ParallelRun.h"
#include "copy/SlotJob.h"

#include <QFile>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <linux/loop.h>
#include <optional>
#include <random>
#include <spawn.h>
#include <stdexcept>
#include <string>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

extern char **environ;

namespace {

constexpr char InNamespace[] = "--in-private-mounts";
constexpr char Throttles[] = "/sys/fs/cgroup/blkio/blkio.throttle.";
constexpr char FileName[] = "cours.bin";
constexpr double MiB = 1 << 20;
constexpr double WriteMiBs = 12;
constexpr double ReadMiBs = 30;
constexpr std::chrono::milliseconds SamplePeriod(50);
constexpr double TargetGap = 0.10;

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

// Runs a program to its end, quietly; a signal to the bench ends it too. Returns
// whether it ran and succeeded.
bool runQuietly(const std::vector<std::string> &args)
{
    std::vector<char *> argv;
    for (const std::string &arg : args)
        argv.push_back(const_cast<char *>(arg.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    pid_t pid = 0;
    const int spawned = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0)
        return false;
    int status = 0;
    while (waitpid(pid, &status, 0) == -1) {
        if (errno != EINTR)
            throw Error(withErrno("waitpid"));
        if (stopped)
            kill(pid, SIGKILL);
    }
    checkStopped();
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
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
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    std::mt19937_64 random(42);
    std::vector<std::uint64_t> block(1 << 17);
    const qint64 blockBytes = qint64(sizeof(std::uint64_t) * block.size());
    for (qint64 left = bytes; left > 0; left -= blockBytes) {
        for (std::uint64_t &word : block)
            word = random();
        out.write(reinterpret_cast<const char *>(block.data()), std::streamsize(std::min(left, blockBytes)));
    }
    if (!out.flush())
        throw Error("cannot write " + path);
}

// What the loop device has passed on since it was attached, after the throttle.
struct Counters
{
    qint64 read = 0;
    qint64 written = 0;
};

// The key: image, loop device, mount, throttle. Undone in reverse.
class Key
{
public:
    explicit Key(const std::string &folder)
        : m_image(folder + "/key.img")
        , m_mountPoint(folder + "/key")
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
        // adds to what the key writes.
        if (!runQuietly(
                {"mkfs.ext4", "-q", "-F", "-E", "lazy_itable_init=0,lazy_journal_init=0", "-L", "CLE", m_image}))
            throw Error("mkfs.ext4 failed on " + m_image);
        attach();
        // A device manager, when one runs, probes the new device: let it finish
        // while the device is not throttled yet. Without udev there is nothing to wait for.
        runQuietly({"udevadm", "settle", "--timeout=10"});
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

    // The previous copy goes, and its pages with its inode: the next run's read-back
    // cannot find them in the cache. The key settles before the next run.
    void clear() const
    {
        unlink((m_mountPoint + "/" + FileName).c_str());
        const int fd = open(m_mountPoint.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (fd < 0 || syncfs(fd) != 0)
            throw Error(withErrno("syncfs " + m_mountPoint));
        close(fd);
    }

    // Fields 3 and 7 of the device's statistics: sectors read and written, 512 bytes each.
    Counters counters() const
    {
        std::ifstream stat("/sys/block/" + m_loopPath.substr(std::strlen("/dev/")) + "/stat");
        qint64 fields[7] = {};
        for (qint64 &field : fields)
            stat >> field;
        if (!stat)
            throw Error("cannot read the statistics of " + m_loopPath);
        return {fields[2] * 512, fields[6] * 512};
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
            config.info.lo_flags = LO_FLAGS_AUTOCLEAR;
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

// The private tmpfs that holds the image and the source.
class Workspace
{
public:
    explicit Workspace(qint64 bytes)
    {
        char pattern[] = "/tmp/bench-progress-XXXXXX";
        if (!mkdtemp(pattern))
            throw Error(withErrno("mkdtemp"));
        m_path = pattern;
        const std::string options = "size=" + std::to_string(bytes) + ",mode=0700";
        if (mount("bench-progress", m_path.c_str(), "tmpfs", 0, options.c_str()) != 0) {
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

// Waits until nothing reads or writes the key: a prober's reads during a run would
// count as the copy's.
void waitUntilQuiet(const Key &key)
{
    constexpr int QuietSamples = 4;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    Counters last = key.counters();
    for (int quiet = 0; quiet < QuietSamples;) {
        std::this_thread::sleep_for(SamplePeriod);
        checkStopped();
        const Counters now = key.counters();
        quiet = now.read == last.read && now.written == last.written ? quiet + 1 : 0;
        last = now;
        if (std::chrono::steady_clock::now() > deadline)
            throw Error("the key never went quiet: another program reads or writes it");
    }
}

struct Sample
{
    double seconds = 0;
    double bar = 0; ///< the fraction the window would show
    Counters key;   ///< since the run started
};

struct Run
{
    std::vector<Sample> samples;
    double seconds = 0;
    Counters key;
};

// One copy run onto the key, sampled while it runs.
Run sampledRun(const Key &key, const std::string &source)
{
    // As the window gives it: the key's folder with its root and device, listed where
    // it is written; the source on the system drive (device 0).
    struct stat status = {};
    if (stat(key.mountPoint().c_str(), &status) != 0)
        throw Error(withErrno(key.mountPoint()));
    const QString sourcePath = QFile::decodeName(source.c_str());
    const QString folder = QFile::decodeName(key.mountPoint().c_str());
    SlotJob job;
    job.slot = 1;
    job.name = QString::fromLatin1(FileName);
    job.source = VolumePlace{sourcePath, sourcePath.left(sourcePath.lastIndexOf(u'/')), 0, std::nullopt};
    job.destination = VolumePlace{folder, folder, quint64(status.st_dev), std::nullopt};
    job.listing = job.destination;

    LinuxFileOperations files;
    std::atomic<double> bar{0};
    std::atomic<bool> ended{false};
    std::optional<SlotResult> result; // read once the workers are joined
    Run run;
    const Counters before = key.counters();
    const auto start = std::chrono::steady_clock::now();
    const auto since = [&](const Counters &now) {
        return Counters{now.read - before.read, now.written - before.written};
    };
    {
        ParallelRun copy(files,
                         ParallelRun::Callbacks{
                             [&](int, qint64 done, qint64 total) { // the window's bar, less the posting
                                 bar.store(total > 0 ? double(done) / double(total) : 1.0);
                             },
                             [&](const SlotResult &slotResult) { result = slotResult; },
                             [&] { ended.store(true); },
                         });
        copy.start({job});
        // This thread is the sampler; the fixed schedule keeps the period from drifting.
        for (auto next = start + SamplePeriod; !ended.load(); next += SamplePeriod) {
            std::this_thread::sleep_until(next);
            if (stopped)
                copy.stop();
            const double shown = bar.load();
            const Counters now = key.counters();
            if (ended.load())
                break;
            run.samples.push_back(
                {std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(), shown, since(now)});
        }
    }
    run.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    run.key = since(key.counters());
    checkStopped();
    if (!result || !result->copied || result->failure)
        throw Error(
            "the copy failed: "
            + std::string(result && result->failure ? qPrintable(result->failure->description()) : "not copied"));
    return run;
}

double keyFraction(const Counters &key, qint64 size)
{
    return double(key.written + key.read) / double(2 * size);
}

// Prints one size's figures; returns whether the target is met.
bool report(qint64 sizeMiB, const Run &run)
{
    const qint64 size = sizeMiB << 20;
    std::printf("%5lld MiB: %6.2f s, key wrote %.1f MiB and read %.1f MiB; ", static_cast<long long>(sizeMiB),
                run.seconds, double(run.key.written) / MiB, double(run.key.read) / MiB);
    if (run.samples.empty()) {
        std::printf("no sample (the run ended within %lld ms): target not measured\n",
                    static_cast<long long>(SamplePeriod.count()));
        return false;
    }
    const auto gap = [&](const Sample &sample) { return std::abs(sample.bar - keyFraction(sample.key, size)); };
    const auto worst = std::max_element(run.samples.begin(), run.samples.end(),
                                        [&](const Sample &a, const Sample &b) { return gap(a) < gap(b); });
    const bool met = gap(*worst) < TargetGap;
    std::printf("%zu samples, largest gap %.1f %% at %.2f s (bar %.1f %%, key %.1f %%): target < %.0f %%: %s\n",
                run.samples.size(), 100 * gap(*worst), worst->seconds, 100 * worst->bar,
                100 * keyFraction(worst->key, size), 100 * TargetGap, met ? "met" : "MISSED");
    if (!met) {
        // The neighbourhood of the worst sample, for whoever tunes the engine.
        std::printf("       time    bar   key written   key read    key\n");
        const auto at = worst - run.samples.begin();
        const auto first = std::max<std::ptrdiff_t>(0, at - 4);
        const auto last = std::min<std::ptrdiff_t>(std::ptrdiff_t(run.samples.size()) - 1, at + 4);
        for (auto i = first; i <= last; ++i) {
            const Sample &sample = run.samples[size_t(i)];
            std::printf("    %6.2f s %5.1f %% %8.2f MiB %6.2f MiB %5.1f %%%s\n", sample.seconds, 100 * sample.bar,
                        double(sample.key.written) / MiB, double(sample.key.read) / MiB,
                        100 * keyFraction(sample.key, size), i == at ? "  <-" : "");
        }
    }
    return met;
}

int bench(const std::vector<qint64> &sizesMiB)
{
    const qint64 largest = *std::max_element(sizesMiB.begin(), sizesMiB.end()) << 20;
    const qint64 imageBytes = ((largest * 9 / 8) & ~qint64(0xfffff)) + (qint64(48) << 20);
    Guard guard;
    Workspace workspace(imageBytes + largest + (qint64(64) << 20));
    guard.workspace(workspace.path());
    const std::string source = workspace.path() + "/source.bin";

    Key key(workspace.path());
    int code = 0;
    try {
        key.setUp(imageBytes);
        sync();
        guard.throttled(key.device());
        key.throttle(qint64(WriteMiBs * MiB), qint64(ReadMiBs * MiB));
        std::printf("one ext4 key on a throttled loop device, writes %.0f MiB/s, reads %.0f MiB/s; bar against key "
                    "every %lld ms\n",
                    WriteMiBs, ReadMiBs, static_cast<long long>(SamplePeriod.count()));
        std::fflush(stdout);
        bool met = true;
        for (const qint64 sizeMiB : sizesMiB) {
            checkStopped();
            makeRandomFile(source, sizeMiB << 20);
            key.clear();
            waitUntilQuiet(key);
            const Run run = sampledRun(key, source);
            unlink(source.c_str());
            met = report(sizeMiB, run) && met;
            std::fflush(stdout);
        }
        std::printf("targets: %s\n", met ? "all met" : "some MISSED");
        code = met ? 0 : 3;
    } catch (const Error &error) {
        std::fprintf(stderr, "bench_progress: %s\n", error.what());
        code = 1;
    }
    if (const std::string problems = key.undo(); !problems.empty()) {
        std::fprintf(stderr, "bench_progress: cleanup: %s\n", problems.c_str());
        code = 1;
    }
    return code;
}

} // namespace

int main(int argc, char *argv[])
{
    if (geteuid() != 0) {
        std::fprintf(stderr, "bench_progress: needs root (loop devices, mounts, block-I/O throttles)\n");
        return 1;
    }
    char self[4096] = {};
    if (readlink("/proc/self/exe", self, sizeof self - 1) <= 0) {
        std::perror("bench_progress: /proc/self/exe");
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
        std::perror("bench_progress: unshare");
        return 1;
    }
    std::vector<qint64> sizesMiB;
    for (int i = 2; i < argc; ++i)
        sizesMiB.push_back(std::atoll(argv[i]));
    if (sizesMiB.empty())
        sizesMiB = {4, 24, 200};
    if (std::any_of(sizesMiB.begin(), sizesMiB.end(), [](qint64 size) { return size <= 0 || size > 65536; })) {
        std::fprintf(stderr, "usage: bench_progress [size_mib ...=4 24 200]\n");
        return 2;
    }
    struct sigaction action = {};
    action.sa_handler = [](int) { stopped = 1; }; // no SA_RESTART: waits end, cleanup runs
    for (const int number : {SIGINT, SIGTERM, SIGHUP})
        sigaction(number, &action, nullptr);
    return bench(sizesMiB);
}
