#pragma once
// A hung action (a window nobody answers, a call that never returns) must not hang the test run:
// the watchdog ends the process with code 3 once the run has taken longer than its time.
#include <QString>

namespace fis::scenario {

// From now on, after `seconds` the process prints "FAILED <script>: timed out after N s" and
// exits with code 3, whatever the run is doing.
void startWatchdog(int seconds, const QString &script);

} // namespace fis::scenario
