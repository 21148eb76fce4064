#include "ui/EventGuard.h"

#include "drives/Failure.h"

#include <QDebug>

namespace {

std::function<void(const Failure &)> &reporter()
{
    static std::function<void(const Failure &)> current = [](const Failure &failure) {
        qWarning().noquote() << "unhandled failure" << failure.number() << failure.description();
    };
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
    reporter() = std::move(newReporter);
}
