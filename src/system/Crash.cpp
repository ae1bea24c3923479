// The fault signals' handler, on an alternate stack reserved at load time.
#include "system/Crash.h"

#include <pthread.h>
#include <signal.h>
#include <sys/resource.h>

#include <cstddef>
#include <cstdint>

#include "system/Failure.h"

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define DIGITMOSAIC_SANITIZED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer) || \
    __has_feature(memory_sanitizer)
#define DIGITMOSAIC_SANITIZED 1
#endif
#endif

namespace digitmosaic {

namespace {

// Reserved with the program, so that a crash for want of memory still has a stack. Unused under the
// sanitizers, which handle the fault signals themselves.
[[maybe_unused]] alignas(16) char handlerStack[64 * 1024];
// The main thread's stack: from near its top down to its limit (and the guard below it).
std::uintptr_t stackTop = 0, stackBottom = 0;

[[maybe_unused]] void OnFault(int signal, siginfo_t* info, void* /*context*/) {
    const auto at = reinterpret_cast<std::uintptr_t>(info ? info->si_addr : nullptr);
    const bool outOfStack = signal == SIGSEGV && at < stackTop && at >= stackBottom;
    const char* what = outOfStack          ? "ran out of stack (see ulimit -s)"
                       : signal == SIGSEGV ? "crashed (segmentation fault)"
                       : signal == SIGBUS  ? "crashed (bus error)"
                       : signal == SIGABRT ? "crashed (aborted)"
                       : signal == SIGFPE  ? "crashed (arithmetic fault)"
                                           : "crashed (illegal instruction)";
    FailFromAnyThread(what);  // writes without blocking, then _exit(1): no core dump
}

}  // namespace

void ReportCrashesInOneLine() {
    // Threads take their stack's size from the stack limit, and the libraries' threads (the
    // toolkit's) have no stack for a handler: under a small limit they would overflow where no
    // line can be written. Their stacks are mapped memory, not bound by the limit.
    constexpr std::size_t kThreadStack = 1024 * 1024;
    pthread_attr_t defaults;
    std::size_t size = 0;
    if (pthread_getattr_default_np(&defaults) == 0) {
        if (pthread_attr_getstacksize(&defaults, &size) == 0 && size < kThreadStack) {
            pthread_attr_setstacksize(&defaults, kThreadStack);
            pthread_setattr_default_np(&defaults);
        }
        pthread_attr_destroy(&defaults);
    }
#ifndef DIGITMOSAIC_SANITIZED
    stack_t stack{};
    stack.ss_sp = handlerStack;
    stack.ss_size = sizeof handlerStack;
    if (sigaltstack(&stack, nullptr) != 0) {
        return;
    }
    rlimit limit{};
    if (getrlimit(RLIMIT_STACK, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY) {
        stackTop = reinterpret_cast<std::uintptr_t>(__builtin_frame_address(0));
        const std::uintptr_t span = limit.rlim_cur + 1024 * 1024;  // the guard gap beyond it
        stackBottom = stackTop > span ? stackTop - span : 0;
    }
    struct sigaction action {};
    action.sa_sigaction = OnFault;
    action.sa_flags = SA_SIGINFO | SA_ONSTACK | SA_NODEFER | SA_RESETHAND;
    sigfillset(&action.sa_mask);
    for (const int signal : {SIGSEGV, SIGBUS, SIGABRT, SIGFPE, SIGILL}) {
        sigaction(signal, &action, nullptr);
    }
#endif
}

}  // namespace digitmosaic
