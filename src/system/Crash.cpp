// The fault signals' handler, on an alternate stack reserved at load time.
#include "system/Crash.h"

#include <signal.h>

#include <cstddef>

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

// Reserved with the program, so that a crash for want of memory still has a stack.
alignas(16) char handlerStack[64 * 1024];

void OnFault(int signal) {
    const char* what = signal == SIGSEGV   ? "crashed (segmentation fault, or out of stack)"
                       : signal == SIGBUS  ? "crashed (bus error)"
                       : signal == SIGABRT ? "crashed (aborted)"
                       : signal == SIGFPE  ? "crashed (arithmetic fault)"
                                           : "crashed (illegal instruction)";
    FailFromAnyThread(what);  // writes without blocking, then _exit(1): no core dump
}

}  // namespace

void ReportCrashesInOneLine() {
#ifndef DIGITMOSAIC_SANITIZED
    stack_t stack{};
    stack.ss_sp = handlerStack;
    stack.ss_size = sizeof handlerStack;
    if (sigaltstack(&stack, nullptr) != 0) {
        return;
    }
    struct sigaction action {};
    action.sa_handler = OnFault;
    action.sa_flags = SA_ONSTACK | SA_NODEFER | SA_RESETHAND;
    sigfillset(&action.sa_mask);
    for (const int signal : {SIGSEGV, SIGBUS, SIGABRT, SIGFPE, SIGILL}) {
        sigaction(signal, &action, nullptr);
    }
#endif
}

}  // namespace digitmosaic
