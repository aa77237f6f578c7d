#include "platform/machine_lock.h"

namespace platform {

MachineLock::MachineLock(const char* name) {
    SECURITY_ATTRIBUTES inheritable{};
    inheritable.nLength = sizeof inheritable;
    inheritable.bInheritHandle = TRUE;
    object_.reset(CreateMutexA(&inheritable, FALSE, name));
    error_ = GetLastError();
    // None: the name is held by another kind of object, or by one this process may not open.
    if (object_.get() == nullptr) return;
    if (error_ == ERROR_ALREADY_EXISTS) {
        // Held, abandoned or orphaned: some process of another run still holds it.
        object_.reset();
        state_ = State::kExists;
        return;
    }
    error_ = 0;
    state_ = State::kTaken;
}

}  // namespace platform
