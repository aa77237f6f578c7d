/* Stand-in uninstaller: stops and removes the service "hwix" and its program. */
#include "kit_common.h"

#define WHO "uninst"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR tail, int show) {
    SC_HANDLE manager = OpenSCManagerA(NULL, NULL, SC_MANAGER_ALL_ACCESS);
    SC_HANDLE service = NULL;
    SERVICE_STATUS status;
    char binary[MAX_PATH];
    UINT length = GetWindowsDirectoryA(binary, sizeof binary);
    (void)instance, (void)previous, (void)tail, (void)show;
    KitReport(WHO, GetCommandLineA());
    if (manager != NULL) service = OpenServiceA(manager, KIT_SERVICE_NAME, SERVICE_ALL_ACCESS);
    if (service != NULL) {
        ControlService(service, SERVICE_CONTROL_STOP, &status);
        KitWaitForServiceState(service, SERVICE_STOPPED);
        DeleteService(service);
        CloseServiceHandle(service);
        KitWaitForServiceGone(manager);
    }
    if (manager != NULL) CloseServiceHandle(manager);
    if (length > 0 && length + strlen(KIT_SERVICE_BINARY) + 2 <= sizeof binary) {
        strcat(binary, "\\" KIT_SERVICE_BINARY);
        DeleteFileA(binary);
    }
    return 0;
}
