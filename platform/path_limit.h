// The platform's path limit, which every path the setup builds must fit. No Windows header: code
// that needs no Windows (and its host tests) uses it too.
#pragma once

#include <cstddef>
#include <string>

// The platform's path limit, terminator included.
constexpr std::size_t kPathBufferSize = 260;

// True when a path (without terminator) fits a path buffer of the platform.
inline bool FitsPathBuffer(const std::string& path) {
    return path.size() < kPathBufferSize;
}
