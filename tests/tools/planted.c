/* planted.exe: stands for a program someone else left where the setup lays out its own; says on
 * the debug output that it ran, with its command line, and ends with 0. */
#include <stdio.h>
#include <windows.h>

int main(void) {
    char text[4096];
    snprintf(text, sizeof text, "planted: %s", GetCommandLineA());
    OutputDebugStringA(text);
    return 0;
}
