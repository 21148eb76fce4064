#include "ui/EventGuard.h"

#include "drives/Failure.h"

#include <QDebug>
#include <QWidget>

void runUserEvent(QWidget *control, const std::function<void()> &handler)
{
    try {
        handler();
    } catch (const Failure &failure) {
        if (auto *reporter = dynamic_cast<FailureReporter *>(control->window()))
            reporter->reportUnhandled(failure);
        else
            qWarning().noquote() << "unhandled failure" << failure.number() << failure.description();
    }
}
