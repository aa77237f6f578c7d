/* StopHWIX: "stop" or "start" the service "hwix" through the service control manager.
 * Exit 0 when the service reached the state asked for. */
#include "kit_common.h"

#define WHO "StopHWIX"

static int Control(const char* verb) {
    SC_HANDLE manager = OpenSCManagerA(NULL, NULL, SC_MANAGER_CONNECT);
    SC_HANDLE service;
    SERVICE_STATUS status;
    int done = 0;
    if (manager == NULL) return 0;
    service = OpenServiceA(manager, KIT_SERVICE_NAME,
                           SERVICE_START | SERVICE_STOP | SERVICE_QUERY_STATUS);
    if (service != NULL) {
        if (strcmp(verb, "stop") == 0) {
            ControlService(service, SERVICE_CONTROL_STOP, &status);
            done = KitWaitForServiceState(service, SERVICE_STOPPED);
        } else if (strcmp(verb, "start") == 0) {
            KitStartService(service);
            done = KitWaitForServiceState(service, SERVICE_RUNNING);
        }
        CloseServiceHandle(service);
    }
    CloseServiceHandle(manager);
    return done;
}

int main(int argc, char** argv) {
    KitReport(WHO, GetCommandLineA());
    if (argc < 2) return 2;
    return Control(argv[1]) ? 0 : 1;
}
