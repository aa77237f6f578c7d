// Kernel family: the one-task-at-a-time lock of a PC.
#pragma once

#include <windows.h>

#include "platform/handles.h"

namespace platform {

// A named kernel object whose existence is the lock: it lives while any process holds a handle
// to it, so a run's children keep it after the setup has ended, timed out or was killed. The
// handle is inheritable so that each child can be handed it (and nothing else).
class MachineLock {
  public:
    enum class State { kTaken, kExists, kFailed };

    explicit MachineLock(const char* name);
    MachineLock(const MachineLock&) = delete;
    MachineLock& operator=(const MachineLock&) = delete;

    State state() const { return state_; }
    // The platform's error when the lock could not be created (kFailed).
    DWORD error() const { return error_; }
    // The handle every child inherits; null unless taken.
    HANDLE handle() const { return object_.get(); }

  private:
    KernelHandle object_;
    State state_ = State::kFailed;
    DWORD error_ = 0;
};

}  // namespace platform
