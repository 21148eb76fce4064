#pragma once

#include <QtGlobal>

#include <csignal>
#include <optional>
#include <stdexcept>
#include <string>
#include <sys/types.h>
#include <vector>

// Slow USB keys simulated with real block devices, for the benches of the copy run.
// Each key is an ext4 image on a private tmpfs, attached to a loop device and
// mounted; the block-I/O controller (cgroup v1, root group, where the kernel's
// flusher submits its writes) throttles each loop device. Needs root, in a private
// mount namespace.
//
// Throttles are reset, keys unmounted and loop devices detached on every way out, a
// signal included. Should a bench be killed outright, the guard process resets the
// throttles and removes the workspace, and the end of the namespace takes the mounts
// and, with them, the loop devices (attached with autoclear).
namespace ThrottledKeys {

// The copy's name on every key.
inline constexpr char FileName[] = "cours.bin";
inline constexpr double MiB = 1 << 20;

// Set by SIGINT, SIGTERM and SIGHUP once stopOnSignals has run.
extern volatile std::sig_atomic_t stopped;

struct Error : std::runtime_error
{
    using std::runtime_error::runtime_error;
};

std::string withErrno(const std::string &what);

void checkStopped();

// Runs a program to its end; a signal to the bench ends it too. Returns its exit code,
// 128 + the signal that ended it, or 127 when it cannot start, as a shell does.
int runProgram(const std::vector<std::string> &args, bool quiet = true);

// The same random bytes for the same size, run after run.
void makeRandomFile(const std::string &path, qint64 bytes);

// One simulated key: image, loop device, mount, throttle. Undone in reverse.
class Key
{
public:
    // The image is folder/name.img, mounted on folder/name; label is the volume's.
    Key(const std::string &folder, const std::string &name, const std::string &label);
    ~Key() { undo(); }
    Key(const Key &) = delete;
    Key &operator=(const Key &) = delete;

    void setUp(qint64 imageBytes);

    const std::string &mountPoint() const { return m_mountPoint; }
    const std::string &loopPath() const { return m_loopPath; }
    std::string device() const; ///< "major:minor"

    void throttle(qint64 writeBps, qint64 readBps);

    // The previous copy goes, and its pages with its inode: the next run's read-back
    // cannot find them in the cache. The key settles before the next run.
    void clear() const;

    // Returns what could not be undone.
    std::string undo();

private:
    void attach();

    std::string m_label;
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
    Guard();
    ~Guard();
    Guard(const Guard &) = delete;
    Guard &operator=(const Guard &) = delete;

    void throttled(const std::string &device) { tell("T" + device); }
    void workspace(const std::string &path) { tell("W" + path); }

private:
    void tell(const std::string &line);
    static void undo(const std::string &line);

    pid_t m_pid = -1;
    int m_fd = -1;
};

// The private tmpfs that holds the images and the sources, in /tmp/name-XXXXXX.
class Workspace
{
public:
    Workspace(const std::string &name, qint64 bytes);
    ~Workspace();
    Workspace(const Workspace &) = delete;
    Workspace &operator=(const Workspace &) = delete;

    const std::string &path() const { return m_path; }

private:
    std::string m_path;
};

// The start of a bench: it needs root, and runs again in a private mount namespace,
// where its mounts never reach the machine's mount table; its own arguments then
// start at argv[2]. Returns the program's path once there; nothing, having said why,
// when it cannot go on.
std::optional<std::string> enterPrivateMounts(const char *name, int argc, char *argv[]);

// SIGINT, SIGTERM and SIGHUP set `stopped`. Without SA_RESTART, waits end and the
// bench cleans up.
void stopOnSignals();

} // namespace ThrottledKeys
