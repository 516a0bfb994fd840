// Process end, priority and threads over POSIX.
//
// ExitProcess runs the exit hooks first, so that whoever took over the
// terminal gives it back on every way out of the program; so do an abort
// and std::terminate, the last resort of a fault that nothing caught.
#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <mutex>
#include <new>
#include <poll.h>
#include <pthread.h>
#include <sys/resource.h>
#include <unistd.h>

#include "platform/posix/handle.h"
#include "platform/posix/kernel32.h"

namespace posix {

namespace {
constexpr int kMaxHooks = 16;
void (*exit_hooks[kMaxHooks])();
std::atomic<int> hook_count{0};

struct ProcessObject : HandleObject {
    BOOL close() override { return TRUE; }
} current_process;

struct ThreadObject : HandleObject {
    LPTHREAD_START_ROUTINE start = nullptr;
    LPVOID arg = nullptr;
    std::mutex lock;
    std::condition_variable finished_signal;
    bool finished = false;
    int refs = 2;  // the handle and the running thread

    void release() {
        bool last;
        {
            std::lock_guard<std::mutex> g(lock);
            last = --refs == 0;
        }
        if (last) delete this;
    }
    void finish() {
        {
            std::lock_guard<std::mutex> g(lock);
            finished = true;
        }
        finished_signal.notify_all();
    }
    BOOL close() override { return TRUE; }
    void release_handle() override { release(); }
};

thread_local ThreadObject* current_thread = nullptr;

// Sent by kill or raised by abort(): the process still ends by the signal.
void on_abort(int sig) {
    signal(sig, SIG_DFL);
    run_exit_hooks();
    raise(sig);
}

// The terminal first, so that the report of what was thrown lands on the
// user's screen rather than on the full screen about to be left.
[[noreturn]] void on_terminate() {
    run_exit_hooks();
    __gnu_cxx::__verbose_terminate_handler();
    std::abort();
}

void watch_aborts() {
    std::set_terminate(on_terminate);
    struct sigaction sa;
    memset(&sa, 0, sizeof sa);
    sa.sa_handler = on_abort;
    sigemptyset(&sa.sa_mask);
    sigaction(SIGABRT, &sa, nullptr);
}

void* thread_main(void* p) {
    auto* t = static_cast<ThreadObject*>(p);
    current_thread = t;
    prepare_thread_for_faults();
    t->start(t->arg);
    t->finish();
    t->release();
    return nullptr;
}
}  // namespace

void at_exit(void (*fn)()) {
    int n = hook_count.load();
    if (n == 0) watch_aborts();
    if (n < kMaxHooks) {
        exit_hooks[n] = fn;
        hook_count.store(n + 1);
    }
}

void run_exit_hooks() {
    for (int i = hook_count.load() - 1; i >= 0; --i) exit_hooks[i]();
}

}  // namespace posix

extern "C" {

void WINAPI ExitProcess(UINT code) {
    posix::run_exit_hooks();
    _exit(static_cast<int>(code));
}

HANDLE WINAPI GetCurrentProcess(void) {
    static const HANDLE process = posix::handle_of(&posix::current_process, true);
    return process;
}

// Raising priority needs privileges that a user rarely has; like a Windows
// process without them, the call then just reports failure.
BOOL WINAPI SetPriorityClass(HANDLE process, DWORD priority) {
    (void)process;
    int nice_value = priority == HIGH_PRIORITY_CLASS ? -10 : 0;
    if (setpriority(PRIO_PROCESS, 0, nice_value) != 0) {
        posix::set_error_from_errno(errno);
        return FALSE;
    }
    return TRUE;
}

HANDLE WINAPI CreateThread(LPSECURITY_ATTRIBUTES security, SIZE_T stack, LPTHREAD_START_ROUTINE start,
                           LPVOID arg, DWORD flags, LPDWORD thread_id) {
    (void)security, (void)flags;
    auto* t = new (std::nothrow) posix::ThreadObject;
    if (t == nullptr) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    t->start = start;
    t->arg = arg;
    HANDLE h = posix::handle_of(t);
    if (h == INVALID_HANDLE_VALUE) {
        delete t;
        return nullptr;
    }
    pthread_attr_t attr;
    pthread_attr_init(&attr);
    pthread_attr_setdetachstate(&attr, PTHREAD_CREATE_DETACHED);
    if (stack) pthread_attr_setstacksize(&attr, stack < SIZE_T(PTHREAD_STACK_MIN) ? SIZE_T(PTHREAD_STACK_MIN) : stack);
    pthread_t id;
    int err = pthread_create(&id, &attr, posix::thread_main, t);
    pthread_attr_destroy(&attr);
    if (err != 0) {
        bool permanent;
        posix::handle_close(h, &permanent);
        delete t;
        posix::set_error_from_errno(err);
        return nullptr;
    }
    if (thread_id) *thread_id = static_cast<DWORD>(reinterpret_cast<uintptr_t>(h));
    return h;
}

void WINAPI ExitThread(DWORD code) {
    (void)code;
    if (posix::ThreadObject* t = posix::current_thread) {
        t->finish();
        t->release();
    }
    pthread_exit(nullptr);
}

DWORD WINAPI WaitForSingleObject(HANDLE h, DWORD ms) {
    posix::HandleObject* o = posix::object_of(h);
    if (o == nullptr) return WAIT_FAILED;
    if (auto* t = dynamic_cast<posix::ThreadObject*>(o)) {
        std::unique_lock<std::mutex> g(t->lock);
        if (ms == INFINITE) {
            t->finished_signal.wait(g, [t] { return t->finished; });
            return WAIT_OBJECT_0;
        }
        bool done = t->finished_signal.wait_for(g, std::chrono::milliseconds(ms), [t] { return t->finished; });
        return done ? WAIT_OBJECT_0 : WAIT_TIMEOUT;
    }
    // Other handles are signalled when their descriptor has input.
    struct pollfd p = {o->fd, POLLIN, 0};
    int r;
    do r = poll(&p, 1, ms == INFINITE ? -1 : static_cast<int>(ms));
    while (r < 0 && errno == EINTR);
    if (r < 0) return WAIT_FAILED;
    return r > 0 ? WAIT_OBJECT_0 : WAIT_TIMEOUT;
}

}  // extern "C"
