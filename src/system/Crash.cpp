// The fault signals' handler, on an alternate stack reserved at load time.
#include "system/Crash.h"

#include <dlfcn.h>
#include <pthread.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/resource.h>

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstdlib>

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

#ifndef DIGITMOSAIC_SANITIZED
// A thread's own stack for the handler, given back when the thread ends.
constexpr std::size_t kThreadHandlerStack = 64 * 1024;
struct HandlerStack {
    HandlerStack() {
        memory = mmap(nullptr, kThreadHandlerStack, PROT_READ | PROT_WRITE,
                      MAP_PRIVATE | MAP_ANONYMOUS | MAP_STACK, -1, 0);
        if (memory != MAP_FAILED) {
            stack_t stack{};
            stack.ss_sp = memory;
            stack.ss_size = kThreadHandlerStack;
            sigaltstack(&stack, nullptr);
        }
    }
    ~HandlerStack() {
        if (memory != MAP_FAILED) {
            stack_t off{};
            off.ss_flags = SS_DISABLE;
            sigaltstack(&off, nullptr);
            munmap(memory, kThreadHandlerStack);
        }
    }
    void* memory;
};

struct ThreadStart {
    void* (*routine)(void*);
    void* argument;
};

void* WithHandlerStack(void* given) {
    const ThreadStart start = *static_cast<ThreadStart*>(given);
    std::free(given);
    thread_local HandlerStack stack;
    return start.routine(start.argument);
}
#endif

}  // namespace

void ReportCrashesInOneLine() {
#ifndef DIGITMOSAIC_SANITIZED
    // Static, as the caller's stack may have little room left.
    static stack_t stack{};
    stack.ss_sp = handlerStack;
    stack.ss_size = sizeof handlerStack;
    sigaltstack(&stack, nullptr);  // failing that, a handler on the thread's own stack
    static rlimit limit{};
    if (getrlimit(RLIMIT_STACK, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY) {
        stackTop = reinterpret_cast<std::uintptr_t>(__builtin_frame_address(0));
        const std::uintptr_t span = limit.rlim_cur + 1024 * 1024;  // the guard gap beyond it
        stackBottom = stackTop > span ? stackTop - span : 0;
    }
    static struct sigaction action {};
    action.sa_sigaction = OnFault;
    action.sa_flags = SA_SIGINFO | SA_ONSTACK | SA_NODEFER | SA_RESETHAND;
    sigfillset(&action.sa_mask);
    for (const int signal : {SIGSEGV, SIGBUS, SIGABRT, SIGFPE, SIGILL}) {
        sigaction(signal, &action, nullptr);
    }
#endif
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
}

}  // namespace digitmosaic

#ifndef DIGITMOSAIC_SANITIZED
// Every thread, the libraries' too (the executable exports this name, so that theirs comes here),
// starts with a stack of its own for the handler: a thread that overflows its stack (a library
// recursing when memory runs out, say) is still told in one line rather than killed silently.
extern "C" int pthread_create(pthread_t* thread, const pthread_attr_t* attributes,
                              void* (*routine)(void*), void* argument) {
    static const auto create =
        reinterpret_cast<decltype(&pthread_create)>(dlsym(RTLD_NEXT, "pthread_create"));
    if (!create) {
        return EAGAIN;
    }
    auto* start =
        static_cast<digitmosaic::ThreadStart*>(std::malloc(sizeof(digitmosaic::ThreadStart)));
    if (!start) {
        return EAGAIN;
    }
    *start = {routine, argument};
    const int created = create(thread, attributes, digitmosaic::WithHandlerStack, start);
    if (created != 0) {
        std::free(start);
    }
    return created;
}
#endif
