#include "shared/utc_time.h"

#include "platform/system_facts.h"

std::string UtcNowText() {
    const SYSTEMTIME utc = platform::UtcTimeNow();
    return UtcTimeText(utc.wYear, utc.wMonth, utc.wDay, utc.wHour, utc.wMinute, utc.wSecond);
}
