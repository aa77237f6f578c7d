// How long the setup waits for the programs it starts before it goes on without them.
#pragma once

#include <windows.h>

// The setup's own waits; the builder's deployment sheet adds them up.
constexpr DWORD kChildWaitMilliseconds = 120000;
// One that hangs must not hold the task for long.
constexpr DWORD kToolWaitMilliseconds = 60000;

// The stopper, the layer's installer, and the client module unless its package chose a wait.
DWORD ChildWaitMilliseconds();

// The platform's BitLocker tool, which answers in seconds.
DWORD ToolWaitMilliseconds();
