// Resource family: read-only views of the executable's own resources.
#pragma once

#include <windows.h>

namespace platform {

// Resource type of every payload entry.
constexpr char kPayloadResourceType[] = "BINARY";

}  // namespace platform
