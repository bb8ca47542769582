#pragma once
// The host's one error guard. Every entry point from Qt (slot, event handler, action) that runs
// program code goes through it: the silent abort (fis::EAbort) ends the action quietly, any other
// exception is shown to the clerk through HostUi, and nothing ever crosses Qt's event dispatch.
#include <QString>

#include <functional>
#include <utility>

namespace fis {

// Runs action. Returns true when it ran to the end, false when it was aborted or failed (the
// failure has then already been reported).
bool guarded(const std::function<void()> &action);

// Runs action and returns its answer; an aborted or failed action answers fallback.
template <typename R>
R guardedResult(const std::function<R()> &action, R fallback)
{
    R result = fallback;
    guarded([&] { result = action(); });
    return result;
}

// The text shown for the exception being handled (call only from inside a catch block).
QString currentExceptionText();

} // namespace fis
