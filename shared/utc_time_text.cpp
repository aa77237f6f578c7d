#include "shared/format_text.h"
#include "shared/utc_time.h"

namespace {
constexpr char kUtcTimeFormat[] = "%s-%s-%sT%s:%s:%sZ";

std::string TwoDigits(unsigned value) {
    return (value < 10 ? "0" : "") + std::to_string(value);
}
}  // namespace

std::string UtcTimeText(unsigned year, unsigned month, unsigned day, unsigned hour, unsigned minute,
                        unsigned second) {
    return FormatText(kUtcTimeFormat, {std::to_string(year), TwoDigits(month), TwoDigits(day),
                                       TwoDigits(hour), TwoDigits(minute), TwoDigits(second)});
}
