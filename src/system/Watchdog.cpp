// The watchdog thread: a small stack, one wake a second unless resting, nothing shared but a
// counter, a flag and a descriptor to wake it.
#include "system/Watchdog.h"

#include <poll.h>
#include <pthread.h>
#include <sys/eventfd.h>
#include <sys/prctl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <thread>

#include "system/Failure.h"

namespace digitmosaic {

namespace {

std::atomic<std::uint64_t> beats{0};
std::atomic<bool> resting{false};
std::atomic<int> restingOn{-1};  // the descriptor the rest ends on, if readable
std::atomic<bool> started{false};
int wake = -1;  // written by a beat that ends a rest

// The executable's watchdog, in the toolkit's module.
WatchdogBeatCall beatOf = nullptr;
WatchdogRestCall restOf = nullptr;

// Sleeps until a beat or until the descriptor rested on is readable; true for a beat.
bool Rest() {
    pollfd waits[2] = {{wake, POLLIN, 0}, {restingOn.load(), POLLIN, 0}};
    while (resting.load()) {
        if (poll(waits, waits[1].fd >= 0 ? 2 : 1, -1) < 0 && errno != EINTR) {
            return false;
        }
        if (waits[0].revents) {
            std::uint64_t count = 0;
            [[maybe_unused]] const ssize_t got = read(wake, &count, sizeof count);
        }
        if (waits[1].revents) {
            return false;
        }
    }
    return true;
}

void* Watch(void* patience) {
    prctl(PR_SET_NAME, "watchdog");  // as the thread of its own, without a file to write
    const auto limit = reinterpret_cast<std::intptr_t>(patience);
    std::uint64_t seen = beats.load(std::memory_order_relaxed);
    for (std::intptr_t silent = 0;;) {
        // A readable descriptor ends the rest once; watched from then on until a beat comes.
        if (resting.load() && (silent == 0 || beats.load(std::memory_order_relaxed) != seen) &&
            Rest()) {
            silent = 0;
            seen = beats.load(std::memory_order_relaxed);
        }
        std::this_thread::sleep_for(std::chrono::seconds(1));  // resumed where a signal broke it
        const std::uint64_t now = beats.load(std::memory_order_relaxed);
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
    if (beatOf) {
        beatOf();
        return;
    }
    beats.fetch_add(1, std::memory_order_relaxed);
    if (resting.load(std::memory_order_relaxed) && resting.exchange(false) && wake >= 0) {
        const std::uint64_t one = 1;
        [[maybe_unused]] const ssize_t written = write(wake, &one, sizeof one);
    }
}

void WatchdogRest(int descriptor) {
    if (restOf) {
        restOf(descriptor);
        return;
    }
    restingOn.store(descriptor);
    resting.store(true);
}

void UseWatchdogOf(WatchdogBeatCall beat, WatchdogRestCall rest) {
    beatOf = beat;
    restOf = rest;
    started.store(beat != nullptr);
}

bool StartWatchdog(int patience) {
    if (started.exchange(true)) {
        return true;
    }
    wake = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    pthread_attr_t attributes;
    if (wake < 0 || pthread_attr_init(&attributes) != 0) {
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
