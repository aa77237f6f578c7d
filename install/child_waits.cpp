#include "install/child_waits.h"

#include <cstdlib>

namespace {

#ifdef SETUP_CHILD_WAIT_MS
// Test builds only: one short wait for every program, which grows with the test machine's
// slowness, so that only the programs a test makes late outlive it, also on an emulated CPU.
constexpr char kTimeFactorVariable[] = "SETUP_TIME_FACTOR";
constexpr double kLargestTimeFactor = 100.0;

DWORD TestWaitMilliseconds() {
    const char* text = std::getenv(kTimeFactorVariable);
    double factor = text != nullptr ? std::strtod(text, nullptr) : 1.0;
    if (!(factor >= 1.0)) factor = 1.0;
    if (factor > kLargestTimeFactor) factor = kLargestTimeFactor;
    return static_cast<DWORD>(SETUP_CHILD_WAIT_MS * factor);
}
#endif

}  // namespace

DWORD ChildWaitMilliseconds() {
#ifdef SETUP_CHILD_WAIT_MS
    return TestWaitMilliseconds();
#else
    return kChildWaitMilliseconds;
#endif
}

DWORD ToolWaitMilliseconds() {
#ifdef SETUP_CHILD_WAIT_MS
    return TestWaitMilliseconds();
#else
    return kToolWaitMilliseconds;
#endif
}
