// Debug output family: the setup's messages, as the debug output and the trace log see them.
#pragma once

#include <windows.h>

#include <string>

#include "platform/code_pages.h"
#include "platform/severity.h"

namespace platform {

// Hears every text after it went to the debug output, and the texts the debug output never shows
// (the trace log listens here): the listener's function, called with the listener. A function,
// not an interface, so that this floor names nothing of the floors that listen.
struct DebugTextListener {
    void (*hear)(void* listener, const char* text, Severity severity) = nullptr;
    void* listener = nullptr;
};

// The one listener of this process's texts, while one listens.
inline DebugTextListener g_DebugTextListener;

// A text for the listener alone: what the debug output never shows.
inline void ListenerText(const char* text, Severity severity) {
    if (g_DebugTextListener.hear != nullptr) {
        g_DebugTextListener.hear(g_DebugTextListener.listener, text, severity);
    }
}
inline void ListenerText(const std::string& text, Severity severity) {
    ListenerText(text.c_str(), severity);
}

inline void DebugText(const char* text, Severity severity = Severity::kInformation) {
    OutputDebugStringA(text);
    ListenerText(text, severity);
}
inline void DebugText(const std::string& text, Severity severity = Severity::kInformation) {
    DebugText(text.c_str(), severity);
}
// A wide text goes to the debug output as it is; the listener hears its ANSI form.
inline void DebugText(const wchar_t* text, Severity severity) {
    OutputDebugStringW(text);
    if (g_DebugTextListener.hear != nullptr) ListenerText(ToAnsi(text), severity);
}

}  // namespace platform
