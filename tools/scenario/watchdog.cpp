// The run's time limit (see watchdog.h).
#include "watchdog.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>

namespace fis::scenario {

void startWatchdog(int seconds, const QString &script)
{
    std::thread([seconds, file = script.toStdString()] {
        std::this_thread::sleep_for(std::chrono::seconds(seconds));
        std::fprintf(stderr, "FAILED %s: timed out after %d s\n", file.c_str(), seconds);
        std::fflush(stdout);
        std::fflush(stderr);
        std::_Exit(3);
    }).detach();
}

} // namespace fis::scenario
