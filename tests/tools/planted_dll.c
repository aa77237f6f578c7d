/* A DLL planted as cabinet.dll beside the setup: it announces itself when it is loaded. */
#include <windows.h>

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
    (void)instance, (void)reserved;
    if (reason == DLL_PROCESS_ATTACH) OutputDebugStringA("planted cabinet.dll loaded");
    return TRUE;
}
