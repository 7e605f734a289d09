// Ending a run cleanly when it is interrupted (Ctrl-C, SIGTERM, SIGHUP) or
// its standard output is closed (SIGPIPE, as when piped into `head`).
// While an InterruptCleanup lives, those signals are taken by a thread of its
// own, which runs the cleanup (removing the empty placeholders of claimed
// output names and the temporary folder) and then lets the signal end the
// process as it would have. Programs started meanwhile get the signals as
// usual (ChildSpawnAttributes).
#pragma once

#include <signal.h>
#include <spawn.h>

#include <functional>
#include <thread>

namespace sheetmend {

class InterruptCleanup {
  public:
    explicit InterruptCleanup(std::function<void()> cleanup);
    ~InterruptCleanup();
    InterruptCleanup(const InterruptCleanup&) = delete;
    InterruptCleanup& operator=(const InterruptCleanup&) = delete;

  private:
    sigset_t previous_;
    struct sigaction previousPipe_;
    std::thread watcher_;
};

// Spawn attributes that start a program with no signal blocked, whatever
// this thread blocks.
const posix_spawnattr_t* ChildSpawnAttributes();

}  // namespace sheetmend
