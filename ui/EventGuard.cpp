#include "ui/EventGuard.h"

#include "drives/Failure.h"

#include <QDebug>

namespace {

void logFailure(const Failure &failure)
{
    qWarning().noquote() << "unhandled failure" << failure.number() << failure.description();
}

std::function<void(const Failure &)> &reporter()
{
    static std::function<void(const Failure &)> current = logFailure;
    return current;
}

} // namespace

void runUserEvent(const std::function<void()> &handler)
{
    try {
        handler();
    } catch (const Failure &failure) {
        reporter()(failure);
    }
}

void setUnhandledFailureReporter(std::function<void(const Failure &)> newReporter)
{
    reporter() = newReporter ? std::move(newReporter) : logFailure;
}
