// Long work of an event handler done on a worker thread while the UI thread
// waits in a local event loop, so the windows keep painting.
#pragma once

#include <functional>

namespace tsx {

enum class WaitInput {
    Allowed,  // input reaches the windows (a modal progress box guards them)
    Blocked   // mouse, keyboard and close requests are dropped meanwhile
};

/// Runs work on a thread of its own and returns when it has ended,
/// rethrowing what it threw. The UI thread processes events meanwhile;
/// with WaitInput::Blocked it shows the busy cursor and drops user input.
/// work must not touch a widget.
void runWhileUiWaits(const std::function<void()>& work, WaitInput input);

}  // namespace tsx
