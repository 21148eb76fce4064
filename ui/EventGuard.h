#pragma once

#include <functional>

class Failure;

// Runs a handler that the operator's action raised. A failure that no handler
// recovered from must not unwind through Qt's event loop: it goes to the reporter.
void runUserEvent(const std::function<void()> &handler);

// The window installs a reporter that shows the failure; the default one (also
// restored by an empty reporter) logs it.
void setUnhandledFailureReporter(std::function<void(const Failure &)> reporter);
