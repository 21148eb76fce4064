#pragma once

#include <functional>

// Runs work on a worker thread while the calling (user-interface) thread waits in a
// local loop that repaints but takes no user input, so no other handler can start.
// A failure thrown by the work is thrown again here.
void runWhileRepainting(const std::function<void()> &work);
