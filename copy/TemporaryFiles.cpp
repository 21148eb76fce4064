#include "copy/TemporaryFiles.h"

#include <array>
#include <atomic>
#include <csignal>
#include <cstring>
#include <limits.h>
#include <unistd.h>

namespace TemporaryFiles {

namespace {

// Fixed storage: the handler may only read memory and call unlink.
enum State : int {
    Free,
    Filling,
    Ready
};
struct Entry
{
    std::atomic<int> state{Free};
    char path[PATH_MAX];
};
std::array<Entry, 32> entries;

void removeAll(int signal)
{
    for (Entry &entry : entries) {
        if (entry.state.load() == Ready)
            ::unlink(entry.path);
    }
    std::signal(signal, SIG_DFL);
    std::raise(signal);
}

} // namespace

void removeOnTermination()
{
    struct sigaction action = {};
    action.sa_handler = removeAll;
    sigemptyset(&action.sa_mask);
    for (int signal : {SIGTERM, SIGINT, SIGHUP})
        sigaction(signal, &action, nullptr);
}

int remember(const QByteArray &path)
{
    if (path.size() >= PATH_MAX)
        return -1;
    for (int slot = 0; slot < int(entries.size()); ++slot) {
        int expected = Free;
        if (entries[size_t(slot)].state.compare_exchange_strong(expected, Filling)) {
            std::memcpy(entries[size_t(slot)].path, path.constData(), size_t(path.size()) + 1);
            entries[size_t(slot)].state = Ready;
            return slot;
        }
    }
    return -1; // more copies than slots: a later run removes what this one leaves
}

void forget(int slot)
{
    if (slot >= 0)
        entries[size_t(slot)].state = Free;
}

} // namespace TemporaryFiles
