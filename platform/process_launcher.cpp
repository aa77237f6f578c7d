#include "platform/process_launcher.h"

#include <vector>

#include "platform/system_facts.h"

namespace platform {

namespace {

// Created suspended so that it joins its job before it runs.
constexpr DWORD kCreationFlags = CREATE_SUSPENDED | CREATE_NO_WINDOW;
// How often the job of a child that has ended is asked whether its processes have ended too.
constexpr DWORD kJobPollMilliseconds = 20;
// What stands for the exit code of an ended program the platform cannot tell: never success.
constexpr DWORD kUnknownExitCode = 0xFFFFFFFF;
// The exit code of a program ended by the setup, and how long its end may take.
constexpr UINT kTerminatedExitCode = ERROR_TIMEOUT;
constexpr DWORD kTerminationWaitMilliseconds = 10000;
constexpr DWORD kStandardHandles[] = {STD_INPUT_HANDLE, STD_OUTPUT_HANDLE, STD_ERROR_HANDLE};

using InitializeAttributeListFn = BOOL(WINAPI*)(LPPROC_THREAD_ATTRIBUTE_LIST, DWORD, DWORD,
                                                PSIZE_T);
using UpdateAttributeFn = BOOL(WINAPI*)(LPPROC_THREAD_ATTRIBUTE_LIST, DWORD, DWORD_PTR, PVOID,
                                        SIZE_T, PVOID, PSIZE_T);
using DeleteAttributeListFn = VOID(WINAPI*)(LPPROC_THREAD_ATTRIBUTE_LIST);

// The attribute list that limits what a child inherits to one handle (Vista and later); get() is
// null where the platform has no such list.
class InheritedHandleList {
  public:
    explicit InheritedHandleList(HANDLE handle) : handle_(handle) {
        if (handle == nullptr) return;
        auto initialize =
            KernelEntryPoint<InitializeAttributeListFn>("InitializeProcThreadAttributeList");
        auto update = KernelEntryPoint<UpdateAttributeFn>("UpdateProcThreadAttribute");
        delete_ = KernelEntryPoint<DeleteAttributeListFn>("DeleteProcThreadAttributeList");
        if (initialize == nullptr || update == nullptr || delete_ == nullptr) return;
        SIZE_T size = 0;
        initialize(nullptr, 1, 0, &size);
        if (size == 0) return;
        buffer_.resize(size);
        auto* list = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(buffer_.data());
        if (!initialize(list, 1, 0, &size)) return;
        initialized_ = list;
        if (update(list, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST, &handle_, sizeof handle_, nullptr,
                   nullptr)) {
            list_ = list;
        }
    }
    ~InheritedHandleList() {
        if (initialized_ != nullptr) delete_(initialized_);
    }
    InheritedHandleList(const InheritedHandleList&) = delete;
    InheritedHandleList& operator=(const InheritedHandleList&) = delete;
    LPPROC_THREAD_ATTRIBUTE_LIST get() const { return list_; }

  private:
    HANDLE handle_;  // the list points here
    DeleteAttributeListFn delete_ = nullptr;
    std::vector<unsigned char> buffer_;
    LPPROC_THREAD_ATTRIBUTE_LIST initialized_ = nullptr;
    LPPROC_THREAD_ATTRIBUTE_LIST list_ = nullptr;
};

// Without a handle list a child inherits every inheritable handle: the standard handles a
// deployment agent may have handed the setup are the only ones the setup did not open itself.
void KeepStandardHandlesToThisProcess() {
    for (DWORD which : kStandardHandles) {
        HANDLE handle = GetStdHandle(which);
        if (handle != nullptr && handle != INVALID_HANDLE_VALUE) {
            SetHandleInformation(handle, HANDLE_FLAG_INHERIT, 0);
        }
    }
}

// A job for one child; programs it starts may still leave the job on purpose (an installer that
// starts a lasting service), as they could without it.
HANDLE NewChildJob() {
    HANDLE job = CreateJobObjectA(nullptr, nullptr);
    if (job == nullptr) return nullptr;
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
    limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_BREAKAWAY_OK;
    SetInformationJobObject(job, JobObjectExtendedLimitInformation, &limits, sizeof limits);
    return job;
}

}  // namespace

bool ChildProcess::start(const char* application, std::string commandLine, const char* directory,
                         const ChildStart& how) {
    const bool inherits = how.inherited != nullptr;
    InheritedHandleList handles(how.inherited);
    if (inherits && handles.get() == nullptr) KeepStandardHandlesToThisProcess();
    STARTUPINFOEXA startup{};
    startup.StartupInfo.cb = handles.get() != nullptr ? sizeof startup : sizeof startup.StartupInfo;
    startup.StartupInfo.dwFlags = STARTF_USESHOWWINDOW;
    startup.StartupInfo.wShowWindow = SW_HIDE;
    startup.lpAttributeList = inherits ? handles.get() : nullptr;
    const DWORD flags =
        kCreationFlags | (startup.lpAttributeList != nullptr ? EXTENDED_STARTUPINFO_PRESENT : 0);
    if (!CreateProcessA(application, &commandLine[0], nullptr, nullptr, inherits ? TRUE : FALSE,
                        flags, nullptr, directory, &startup.StartupInfo, process_.put())) {
        error_ = GetLastError();
        return false;
    }
    if (how.ownJob) {
        // Before it runs, so that everything it starts joins the job. A setup already in a job
        // gets none for its children before Windows 8 (no nested jobs): the child alone counts.
        job_.reset(NewChildJob());
        if (job_.get() != nullptr && !AssignProcessToJobObject(job_.get(), process_.process())) {
            job_.reset();
        }
    }
    if (!how.suspended) resume();
    return true;
}

DWORD ChildProcess::activeProcesses() const {
    JOBOBJECT_BASIC_ACCOUNTING_INFORMATION accounting{};
    if (!inJob() || !QueryInformationJobObject(job_.get(), JobObjectBasicAccountingInformation,
                                               &accounting, sizeof accounting, nullptr)) {
        return 0;
    }
    return accounting.ActiveProcesses;
}

ChildWait ChildProcess::wait(DWORD milliseconds) const {
    ChildWait result;
    if (!started()) {
        result.error = error_;
        return result;
    }
    const DWORD begun = GetTickCount();
    // A wait that fails says nothing of the program: it counts as still running.
    if (WaitForSingleObject(process_.process(), milliseconds) != WAIT_OBJECT_0) {
        const DWORD active = activeProcesses();
        result.state = ChildWait::State::kStillRunning;
        result.processesLeft = active != 0 ? active : 1;
        return result;
    }
    result.programEnded = true;
    if (!GetExitCodeProcess(process_.process(), &result.exitCode)) {
        result.exitCode = kUnknownExitCode;
    }
    for (;;) {
        const DWORD active = activeProcesses();
        const DWORD elapsed = GetTickCount() - begun;
        if (active == 0 || elapsed >= milliseconds) {
            result.state = active == 0 ? ChildWait::State::kEnded : ChildWait::State::kStillRunning;
            result.processesLeft = active;
            return result;
        }
        const DWORD left = milliseconds - elapsed;
        Sleep(left < kJobPollMilliseconds ? left : kJobPollMilliseconds);
    }
}

bool ChildProcess::terminate() const {
    if (!started()) return true;
    if (inJob()) {
        TerminateJobObject(job_.get(), kTerminatedExitCode);
    } else {
        TerminateProcess(process_.process(), kTerminatedExitCode);
    }
    // Termination completes asynchronously; what is ended is gone within moments.
    if (WaitForSingleObject(process_.process(), kTerminationWaitMilliseconds) != WAIT_OBJECT_0) {
        return false;
    }
    const DWORD begun = GetTickCount();
    while (activeProcesses() != 0) {
        if (GetTickCount() - begun >= kTerminationWaitMilliseconds) return false;
        Sleep(kJobPollMilliseconds);
    }
    return true;
}

}  // namespace platform
