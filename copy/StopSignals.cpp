#include "copy/StopSignals.h"

#include <QSocketNotifier>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace {

constexpr int Signals[] = {SIGTERM, SIGINT, SIGHUP};
int wake[2] = {-1, -1};
volatile std::sig_atomic_t signalled = 0;

void onSignal(int signal)
{
    if (signalled) {
        std::signal(signal, SIG_DFL);
        std::raise(signal);
        return;
    }
    signalled = 1;
    const int saved = errno;
    const char byte = 1;
    [[maybe_unused]] const ssize_t written = ::write(wake[1], &byte, 1);
    errno = saved;
}

} // namespace

StopSignals::StopSignals(QObject *parent)
    : QObject(parent)
{
    if (::pipe2(wake, O_CLOEXEC | O_NONBLOCK) != 0)
        return; // the signals keep their default action: they end the process
    m_notifier = new QSocketNotifier(wake[0], QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, [this] {
        char byte = 0;
        while (::read(wake[0], &byte, 1) == 1) { }
        emit received();
    });
    struct sigaction action = {};
    action.sa_handler = onSignal;
    action.sa_flags = SA_RESTART;
    sigemptyset(&action.sa_mask);
    for (const int signal : Signals)
        sigaction(signal, &action, nullptr);
}

StopSignals::~StopSignals()
{
    for (const int signal : Signals)
        std::signal(signal, SIG_DFL);
}
