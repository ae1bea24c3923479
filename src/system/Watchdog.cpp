// The watchdog thread: a small stack, one wake a second unless resting, nothing shared but a
// counter and a flag.
#include "system/Watchdog.h"

#include <pthread.h>
#include <sys/prctl.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <thread>

#include "system/Failure.h"

namespace digitmosaic {

namespace {

std::atomic<std::uint64_t> beats{0};
std::atomic<bool> resting{false};
std::atomic<bool> started{false};

void* Watch(void* patience) {
    prctl(PR_SET_NAME, "watchdog");  // as the thread of its own, without a file to write
    const auto limit = reinterpret_cast<std::intptr_t>(patience);
    std::uint64_t seen = beats.load(std::memory_order_relaxed);
    for (std::intptr_t silent = 0;;) {
        resting.wait(true);
        std::this_thread::sleep_for(std::chrono::seconds(1));  // resumed where a signal broke it
        const std::uint64_t now = beats.load(std::memory_order_relaxed);
        if (resting.load()) {  // a rest began meanwhile: counting starts afresh after it
            silent = 0;
            seen = now;
            continue;
        }
        silent = now == seen ? silent + 1 : 0;
        seen = now;
        if (silent >= limit) {
            FailFromAnyThread("stopped responding; ending");
        }
    }
    return nullptr;
}

}  // namespace

void WatchdogBeat() {
    beats.fetch_add(1, std::memory_order_relaxed);
    if (resting.load(std::memory_order_relaxed)) {
        resting.store(false);
        resting.notify_one();
    }
}

void WatchdogRest() { resting.store(true); }

bool StartWatchdog(int patience) {
    if (started.exchange(true)) {
        return true;
    }
    pthread_attr_t attributes;
    if (pthread_attr_init(&attributes) != 0) {
        return false;
    }
    pthread_attr_setstacksize(&attributes, 64 * 1024);
    pthread_attr_setdetachstate(&attributes, PTHREAD_CREATE_DETACHED);
    pthread_t thread;
    const bool ok = pthread_create(&thread, &attributes, Watch,
                                   reinterpret_cast<void*>(std::intptr_t{patience})) == 0;
    pthread_attr_destroy(&attributes);
    return ok;
}

}  // namespace digitmosaic
