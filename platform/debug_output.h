// Debug output family: the setup's messages, as the debug output and the trace log see them.
#pragma once

#include <windows.h>

#include <string>

#include "platform/code_pages.h"

namespace platform {

// What a debug text reports, as its sender knows it: the debug output shows only the text, the
// trace log the severity too.
enum class Severity { kInformation = 1, kWarning = 2, kFailure = 3 };

// Called with every text after it went to the debug output (the trace log listens here).
using DebugTextObserver = void (*)(const char* text, Severity severity);
inline DebugTextObserver g_DebugTextObserver = nullptr;

inline void DebugText(const char* text, Severity severity = Severity::kInformation) {
    OutputDebugStringA(text);
    if (g_DebugTextObserver != nullptr) g_DebugTextObserver(text, severity);
}
inline void DebugText(const std::string& text, Severity severity = Severity::kInformation) {
    DebugText(text.c_str(), severity);
}
// A wide text goes to the debug output as it is; the trace log records its ANSI form.
inline void DebugText(const wchar_t* text, Severity severity) {
    OutputDebugStringW(text);
    if (g_DebugTextObserver != nullptr) g_DebugTextObserver(ToAnsi(text).c_str(), severity);
}

}  // namespace platform
