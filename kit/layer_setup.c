/* Stand-in installer of the instrumentation layer (stored as setup.exe in the layer cabinet).
 * With -s it copies the service program beside it into the Windows folder, registers the
 * service "hwix" and starts it, silently. Exit 0 when the service runs. */
#include "kit_common.h"

#define WHO "hwix Setup"

static int CopyServiceBinary(char* target, size_t size) {
    char source[MAX_PATH];
    char* slash;
    DWORD length = GetModuleFileNameA(NULL, source, sizeof source);
    if (length == 0 || length >= sizeof source) return 0;
    slash = strrchr(source, '\\');
    if (slash == NULL) return 0;
    strcpy(slash + 1, KIT_SERVICE_BINARY);
    length = GetWindowsDirectoryA(target, (UINT)size);
    if (length == 0 || length + strlen(KIT_SERVICE_BINARY) + 2 > size) return 0;
    strcat(target, "\\" KIT_SERVICE_BINARY);
    return CopyFileA(source, target, FALSE) != 0;
}

static int InstallAndStart(void) {
    char binary[MAX_PATH];
    int copied = CopyServiceBinary(binary, sizeof binary);
    SC_HANDLE manager = OpenSCManagerA(NULL, NULL, SC_MANAGER_ALL_ACCESS);
    SC_HANDLE service;
    int running;
    if (manager == NULL) return 0;
    service = OpenServiceA(manager, KIT_SERVICE_NAME, SERVICE_ALL_ACCESS);
    if (service != NULL && !KitStartService(service) &&
        GetLastError() == ERROR_SERVICE_MARKED_FOR_DELETE) {
        /* An uninstall is still under way: wait for it, then register anew. */
        CloseServiceHandle(service);
        service = NULL;
        KitWaitForServiceGone(manager);
    }
    if (service == NULL && copied) {
        service = CreateServiceA(manager, KIT_SERVICE_NAME, "HWIX instrumentation (stand-in)",
                                 SERVICE_ALL_ACCESS, SERVICE_WIN32_OWN_PROCESS,
                                 SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL, binary, NULL, NULL,
                                 NULL, NULL, NULL);
    }
    if (service == NULL) {
        CloseServiceHandle(manager);
        return 0;
    }
    if (!KitStartService(service)) {
        char text[64];
        snprintf(text, sizeof text, "StartService failed, error %lu", GetLastError());
        KitReport(WHO, text);
    }
    running = KitWaitForServiceState(service, SERVICE_RUNNING);
    CloseServiceHandle(service);
    CloseServiceHandle(manager);
    return running;
}

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR tail, int show) {
    const char* commandLine = GetCommandLineA();
    int ok;
    (void)instance, (void)previous, (void)tail, (void)show;
    KitReport(WHO, commandLine);
    if (strstr(commandLine, "-s") == NULL) return 2;
    ok = InstallAndStart();
    KitReport(WHO, ok ? "service running" : "service not running");
    return ok ? 0 : 1;
}
