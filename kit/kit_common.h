/* Shared by the stand-in payload programs: each reports what it was asked on the debug output,
 * so that tests can follow it without leaving files behind. */
#ifndef KIT_COMMON_H
#define KIT_COMMON_H

#include <windows.h>

#include <stdio.h>
#include <string.h>

#define KIT_SERVICE_NAME "hwix"
#define KIT_SERVICE_BINARY "hwixsvc.exe"
#define KIT_WAIT_STEP_MS 100
/* A minute at most for a service to change state: an emulated test machine is many times slower
 * than a PC, and the wait ends as soon as the state is reached. */
#define KIT_WAIT_STEPS 600
#define KIT_LOCKED_WAIT_STEPS 600

static inline void KitReport(const char* who, const char* what) {
    char text[2048];
    snprintf(text, sizeof text, "%s: %s", who, what);
    OutputDebugStringA(text);
}

/* The text after `switchName` up to the next blank, or NULL when the switch is absent. */
static inline const char* KitSwitchValue(const char* commandLine, const char* switchName, char* value,
                                  size_t size) {
    const char* found = strstr(commandLine, switchName);
    size_t length = 0;
    if (found == NULL) return NULL;
    found += strlen(switchName);
    while (found[length] != '\0' && found[length] != ' ' && length + 1 < size) {
        value[length] = found[length];
        ++length;
    }
    value[length] = '\0';
    return value;
}

/* Waits until the service reaches `state`; returns non-zero when it did. */
static inline int KitWaitForServiceState(SC_HANDLE service, DWORD state) {
    SERVICE_STATUS status;
    int step;
    for (step = 0; step < KIT_WAIT_STEPS; ++step) {
        if (!QueryServiceStatus(service, &status)) return 0;
        if (status.dwCurrentState == state) return 1;
        Sleep(KIT_WAIT_STEP_MS);
    }
    return 0;
}

/* Starts a service; while the manager's database is locked (a fresh system still starting its
 * own services) it tries again, for a minute at most. Returns non-zero when the start was taken. */
static inline int KitStartService(SC_HANDLE service) {
    int step;
    for (step = 0; step < KIT_LOCKED_WAIT_STEPS; ++step) {
        if (StartServiceA(service, 0, NULL)) return 1;
        if (GetLastError() == ERROR_SERVICE_ALREADY_RUNNING) return 1;
        if (GetLastError() != ERROR_SERVICE_DATABASE_LOCKED) return 0;
        Sleep(KIT_WAIT_STEP_MS);
    }
    return 0;
}

/* Waits until a deleted service is gone from the manager's database (its process may still be
 * ending); returns non-zero when it is. */
static inline int KitWaitForServiceGone(SC_HANDLE manager) {
    int step;
    for (step = 0; step < KIT_WAIT_STEPS; ++step) {
        SC_HANDLE service = OpenServiceA(manager, KIT_SERVICE_NAME, SERVICE_QUERY_STATUS);
        if (service == NULL) return 1;
        CloseServiceHandle(service);
        Sleep(KIT_WAIT_STEP_MS);
    }
    return 0;
}

#endif
