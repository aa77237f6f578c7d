// How long the setup waits for the programs it starts before it goes on without them.
#pragma once

#include <windows.h>

// The stopper, the layer's installer, and the client module unless its package chose a wait.
DWORD ChildWaitMilliseconds();

// The platform's BitLocker tool, which answers in seconds.
DWORD ToolWaitMilliseconds();
