#pragma once

#include <functional>

class Failure;
class QWidget;

// What a window does with a failure that no handler recovered from.
class FailureReporter
{
public:
    virtual ~FailureReporter() = default;
    virtual void reportUnhandled(const Failure &failure) = 0;
};

// Runs a handler that the operator's action on `control` raised. A failure must not
// unwind through Qt's event loop: it goes to the control's window when that window
// reports failures, to the log otherwise.
void runUserEvent(QWidget *control, const std::function<void()> &handler);
