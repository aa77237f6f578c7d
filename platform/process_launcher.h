// Kernel family: the one way the setup starts a program (its children and its cleanup batch).
#pragma once

#include <windows.h>

#include <string>

#include "platform/handles.h"

namespace platform {

// What a started program did within its wait.
struct ChildWait {
    bool endedInTime = false;    // the program itself ended within the wait
    bool exitCodeKnown = false;  // read once it ended
    DWORD exitCode = 0;
    // Processes of its job (those it started, and theirs) still running at the wait's limit after
    // the program itself ended; 0 when it ran without a job.
    DWORD descendantsRunning = 0;
};

// One started program. It is created suspended and hidden, with `directory` as its current
// directory; it inherits `inherited` (when not null) and no other handle of the setup: through a
// handle list where the platform has one, elsewhere with the setup's standard handles made
// non-inheritable first (every handle the setup opens itself is). With `ownJob` it runs in a job
// of its own, where the platform allows one, so that what it starts is waited for too.
class ChildProcess {
  public:
    ChildProcess() = default;
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    // False, with the platform's error in error(), when the program could not be created.
    bool start(const char* application, std::string commandLine, const char* directory,
               HANDLE inherited, bool ownJob);
    DWORD error() const { return error_; }
    bool inJob() const { return job_.get() != nullptr; }

    void resume() const { ResumeThread(process_.thread()); }

    // Waits up to `milliseconds` for the program and then for the rest of its job, in total.
    ChildWait wait(DWORD milliseconds) const;

  private:
    DWORD activeProcesses() const;

    ProcessInformation process_;
    KernelHandle job_;
    DWORD error_ = 0;
};

}  // namespace platform
