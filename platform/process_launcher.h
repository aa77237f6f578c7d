// Kernel family: the one way the setup starts a program (its children and its cleanup batch).
#pragma once

#include <windows.h>

#include <string>

#include "platform/handles.h"

namespace platform {

// What became of a program within its wait: the one answer every caller maps to its own result.
struct ChildWait {
    enum class State {
        kNotStarted,    // it could not be created (`error`)
        kEnded,         // it and everything its job holds ended (`exitCode`)
        kStillRunning,  // it, or a process it started, still runs (`processesLeft`)
    };
    State state = State::kNotStarted;
    DWORD error = 0;
    // The program itself ended: its exit code was read (also when what it started runs on).
    bool programEnded = false;
    DWORD exitCode = 0;
    // Processes of its job (the program among them unless it ended) still running at the limit;
    // 1 for a program still running without a job.
    DWORD processesLeft = 0;

    bool ended() const { return state == State::kEnded; }
    bool stillRuns() const { return state == State::kStillRunning; }
};

// How a program starts.
struct ChildStart {
    // Inherited by the program (when not null); no other handle of the setup is.
    HANDLE inherited = nullptr;
    // In a job of its own, where the platform allows one, so that what it starts is waited for
    // (and ended) with it.
    bool ownJob = false;
    // Left suspended until resume(), for a caller that must act between its creation and its run.
    bool suspended = false;
};

// One started program, hidden, with `directory` as its current directory. It inherits only the
// handle it is given: through a handle list where the platform has one, elsewhere with the
// setup's standard handles made non-inheritable first (every handle the setup opens itself is).
class ChildProcess {
  public:
    ChildProcess() = default;
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    // False, with the platform's error in error(), when the program could not be created.
    bool start(const char* application, std::string commandLine, const char* directory,
               const ChildStart& how);
    DWORD error() const { return error_; }

    void resume() const { ResumeThread(process_.thread()); }

    // Waits up to `milliseconds` for the program and then for the rest of its job, in total.
    ChildWait wait(DWORD milliseconds) const;

    // Ends the program and everything its job holds, and waits until they have ended; true when
    // nothing of them runs any more.
    bool terminate() const;

  private:
    bool started() const { return process_.process() != nullptr; }
    bool inJob() const { return job_.get() != nullptr; }
    DWORD activeProcesses() const;

    ProcessInformation process_;
    KernelHandle job_;
    DWORD error_ = 0;
};

}  // namespace platform
