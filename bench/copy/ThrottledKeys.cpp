#include "ThrottledKeys.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <linux/loop.h>
#include <random>
#include <spawn.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;

namespace ThrottledKeys {

volatile std::sig_atomic_t stopped = 0;

namespace {

constexpr char InNamespace[] = "--in-private-mounts";
constexpr char Throttles[] = "/sys/fs/cgroup/blkio/blkio.throttle.";

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

} // namespace

std::string withErrno(const std::string &what)
{
    return what + ": " + std::strerror(errno);
}

void checkStopped()
{
    if (stopped)
        throw Error("stopped by a signal");
}

int runProgram(const std::vector<std::string> &args, bool quiet)
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
        return 127;
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

Key::Key(const std::string &folder, const std::string &name, const std::string &label)
    : m_label(label)
    , m_image(folder + "/" + name + ".img")
    , m_mountPoint(folder + "/" + name)
{ }

void Key::setUp(qint64 imageBytes)
{
    {
        std::ofstream image(m_image, std::ios::binary);
    }
    if (truncate(m_image.c_str(), imageBytes) != 0)
        throw Error(withErrno(m_image));
    // Inode tables and journal written now: no background initialisation later takes
    // the throttled bandwidth or adds to what the key writes.
    require({"mkfs.ext4", "-q", "-F", "-E", "lazy_itable_init=0,lazy_journal_init=0", "-L", m_label, m_image});
    attach();
    mkdir(m_mountPoint.c_str(), 0755);
    if (mount(m_loopPath.c_str(), m_mountPoint.c_str(), "ext4", 0, nullptr) != 0)
        throw Error(withErrno("mount " + m_loopPath));
    m_mounted = true;
}

std::string Key::device() const
{
    return std::to_string(major(m_device)) + ":" + std::to_string(minor(m_device));
}

void Key::throttle(qint64 writeBps, qint64 readBps)
{
    m_throttled = true;
    writeFile(std::string(Throttles) + "write_bps_device", device() + " " + std::to_string(writeBps));
    writeFile(std::string(Throttles) + "read_bps_device", device() + " " + std::to_string(readBps));
}

void Key::clear() const
{
    unlink((m_mountPoint + "/" + FileName).c_str());
    const int fd = open(m_mountPoint.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    const bool synced = fd >= 0 && syncfs(fd) == 0;
    const int err = errno;
    if (fd >= 0)
        close(fd);
    if (!synced)
        throw Error("syncfs " + m_mountPoint + ": " + std::strerror(err));
}

std::string Key::undo()
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

void Key::attach()
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

Guard::Guard()
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

Guard::~Guard()
{
    close(m_fd);
    while (waitpid(m_pid, nullptr, 0) == -1 && errno == EINTR) {
    }
}

void Guard::tell(const std::string &line)
{
    const std::string text = line + '\n';
    if (write(m_fd, text.data(), text.size()) != ssize_t(text.size()))
        throw Error(withErrno("guard"));
}

// Both are no-ops once the bench has cleaned up itself.
void Guard::undo(const std::string &line)
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

Workspace::Workspace(const std::string &name, qint64 bytes)
{
    std::string pattern = "/tmp/" + name + "-XXXXXX";
    if (!mkdtemp(pattern.data()))
        throw Error(withErrno("mkdtemp"));
    m_path = pattern;
    const std::string options = "size=" + std::to_string(bytes) + ",mode=0700";
    if (mount(name.c_str(), m_path.c_str(), "tmpfs", 0, options.c_str()) != 0) {
        rmdir(m_path.c_str());
        throw Error(withErrno("mount tmpfs on " + m_path));
    }
}

Workspace::~Workspace()
{
    if (umount(m_path.c_str()) != 0)
        umount2(m_path.c_str(), MNT_DETACH);
    rmdir(m_path.c_str());
}

std::optional<std::string> enterPrivateMounts(const char *name, int argc, char *argv[])
{
    if (geteuid() != 0) {
        std::fprintf(stderr, "%s: needs root (loop devices, mounts, block-I/O throttles)\n", name);
        return std::nullopt;
    }
    char self[4096] = {};
    if (readlink("/proc/self/exe", self, sizeof self - 1) <= 0) {
        std::fprintf(stderr, "%s: /proc/self/exe: %s\n", name, std::strerror(errno));
        return std::nullopt;
    }
    if (argc >= 2 && std::strcmp(argv[1], InNamespace) == 0)
        return self;
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
    std::fprintf(stderr, "%s: unshare: %s\n", name, std::strerror(errno));
    return std::nullopt;
}

void stopOnSignals()
{
    struct sigaction action = {};
    action.sa_handler = [](int) { stopped = 1; };
    for (const int number : {SIGINT, SIGTERM, SIGHUP})
        sigaction(number, &action, nullptr);
}

} // namespace ThrottledKeys
