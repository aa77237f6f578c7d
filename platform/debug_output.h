// Debug output family: the setup's messages, as the debug output and the trace log see them.
#pragma once

#include <windows.h>

#include <string>

#include "platform/code_pages.h"
#include "platform/severity.h"

namespace platform {

// Hears every text after it went to the debug output, and the texts the debug output never shows
// (the trace log listens here).
class DebugTextListener {
  public:
    virtual void heard(const char* text, Severity severity) = 0;

  protected:
    ~DebugTextListener() = default;
};

// The one listener of this process's texts, while one listens.
inline DebugTextListener* g_DebugTextListener = nullptr;

inline void DebugText(const char* text, Severity severity = Severity::kInformation) {
    OutputDebugStringA(text);
    if (g_DebugTextListener != nullptr) g_DebugTextListener->heard(text, severity);
}
inline void DebugText(const std::string& text, Severity severity = Severity::kInformation) {
    DebugText(text.c_str(), severity);
}
// A wide text goes to the debug output as it is; the listener hears its ANSI form.
inline void DebugText(const wchar_t* text, Severity severity) {
    OutputDebugStringW(text);
    if (g_DebugTextListener != nullptr) g_DebugTextListener->heard(ToAnsi(text).c_str(), severity);
}

// A text for the listener alone: what the debug output never shows.
inline void ListenerText(const std::string& text, Severity severity) {
    if (g_DebugTextListener != nullptr) g_DebugTextListener->heard(text.c_str(), severity);
}

}  // namespace platform
