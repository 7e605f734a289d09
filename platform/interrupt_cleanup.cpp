#include "platform/interrupt_cleanup.h"

#include <pthread.h>
#include <unistd.h>

namespace sheetmend {

namespace {

sigset_t Watched() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    sigaddset(&set, SIGHUP);
    return set;
}

// SIGUSR2 sent by the destructor only wakes the watcher up to leave.
constexpr int kLeave = SIGUSR2;
// SIGPIPE goes to the thread that wrote, not to whoever waits for it, so its
// handler passes it on to the watcher as SIGUSR1 (kill is safe in a handler).
constexpr int kPipeRelay = SIGUSR1;

void RelayBrokenPipe(int) {
    kill(getpid(), kPipeRelay);
}

}  // namespace

InterruptCleanup::InterruptCleanup(std::function<void()> cleanup) {
    sigset_t set = Watched();
    sigaddset(&set, kLeave);
    sigaddset(&set, kPipeRelay);
    struct sigaction relay = {};
    relay.sa_handler = RelayBrokenPipe;
    sigemptyset(&relay.sa_mask);
    sigaction(SIGPIPE, &relay, &previousPipe_);
    // Blocked here before any worker starts, so every thread inherits it and
    // only the watcher receives the signals.
    pthread_sigmask(SIG_BLOCK, &set, &previous_);
    watcher_ = std::thread([set, cleanup = std::move(cleanup)] {
        int signal = 0;
        if (sigwait(&set, &signal) != 0 || signal == kLeave) return;
        if (signal == kPipeRelay) signal = SIGPIPE;  // standard output was closed
        cleanup();
        // Ends the process the way the signal would have.
        struct sigaction fallback = {};
        fallback.sa_handler = SIG_DFL;
        sigaction(signal, &fallback, nullptr);
        sigset_t only;
        sigemptyset(&only);
        sigaddset(&only, signal);
        pthread_sigmask(SIG_UNBLOCK, &only, nullptr);
        raise(signal);
    });
}

InterruptCleanup::~InterruptCleanup() {
    pthread_kill(watcher_.native_handle(), kLeave);
    watcher_.join();
    sigaction(SIGPIPE, &previousPipe_, nullptr);
    // A signal that came after the watcher left stays pending until here and
    // then acts as usual.
    pthread_sigmask(SIG_SETMASK, &previous_, nullptr);
}

const posix_spawnattr_t* ChildSpawnAttributes() {
    static const posix_spawnattr_t* attributes = [] {
        static posix_spawnattr_t a;
        posix_spawnattr_init(&a);
        sigset_t none;
        sigemptyset(&none);
        posix_spawnattr_setsigmask(&a, &none);
        posix_spawnattr_setflags(&a, POSIX_SPAWN_SETSIGMASK);
        return &a;
    }();
    return attributes;
}

}  // namespace sheetmend
