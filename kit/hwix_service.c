/* Stand-in instrumentation service "hwix": runs until it is told to stop. */
#include "kit_common.h"

static SERVICE_STATUS_HANDLE statusHandle;
static SERVICE_STATUS status;
static HANDLE stopEvent;

static void SetState(DWORD state) {
    status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
    status.dwCurrentState = state;
    status.dwControlsAccepted = state == SERVICE_RUNNING ? SERVICE_ACCEPT_STOP : 0;
    SetServiceStatus(statusHandle, &status);
}

static DWORD WINAPI Handler(DWORD control, DWORD type, LPVOID data, LPVOID context) {
    (void)type, (void)data, (void)context;
    if (control == SERVICE_CONTROL_STOP) {
        SetState(SERVICE_STOP_PENDING);
        SetEvent(stopEvent);
    }
    return NO_ERROR;
}

static void WINAPI ServiceMain(DWORD argc, LPSTR* argv) {
    (void)argc, (void)argv;
    statusHandle = RegisterServiceCtrlHandlerExA(KIT_SERVICE_NAME, Handler, NULL);
    if (statusHandle == NULL) return;
    stopEvent = CreateEventA(NULL, TRUE, FALSE, NULL);
    SetState(SERVICE_RUNNING);
    WaitForSingleObject(stopEvent, INFINITE);
    CloseHandle(stopEvent);
    SetState(SERVICE_STOPPED);
}

int main(void) {
    SERVICE_TABLE_ENTRYA table[] = {{(LPSTR)KIT_SERVICE_NAME, ServiceMain}, {NULL, NULL}};
    return StartServiceCtrlDispatcherA(table) ? 0 : 1;
}
