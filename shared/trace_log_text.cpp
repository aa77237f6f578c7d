#include "shared/trace_log_text.h"

#include "shared/format_text.h"

namespace {

constexpr char kLineEnd[] = "\r\n";
constexpr char kRecordFormat[] =
    "<![LOG[%s]LOG]!><time=\"%s:%s:%s.%s%s\" date=\"%s-%s-%s\" component=\"%s\" context=\"\" "
    "type=\"%s\" thread=\"%s\" file=\"\">\r\n";
// The end of a record's text in the log viewers' format; never allowed to appear inside a text.
constexpr char kTextEnd[] = "]LOG]!>";
constexpr char kTextEndDefused[] = "]LOG]! >";

std::string Padded(unsigned value, int width) {
    std::string digits = std::to_string(value);
    return std::string(digits.size() < static_cast<std::size_t>(width) ? width - digits.size() : 0,
                       '0') +
           digits;
}

// "+BBB" or "-BBB": the bias in minutes with exactly one sign and three digits.
std::string BiasText(long biasMinutes) {
    const unsigned long magnitude =
        static_cast<unsigned long>(biasMinutes < 0 ? -biasMinutes : biasMinutes);
    return (biasMinutes < 0 ? "-" : "+") + Padded(static_cast<unsigned>(magnitude % 1000), 3);
}

// The text with CR LF line ends and without the format's end marker.
std::string RecordText(const std::string& text) {
    std::string converted;
    for (char c : text) {
        if (c == '\r') continue;
        if (c == '\n') {
            converted += kLineEnd;
        } else {
            converted += c;
        }
    }
    for (std::size_t at = converted.find(kTextEnd); at != std::string::npos;
         at = converted.find(kTextEnd, at + 1)) {
        converted.replace(at, sizeof kTextEnd - 1, kTextEndDefused);
    }
    return converted;
}

}  // namespace

std::string TraceRecord(const std::string& component, const TraceStamp& stamp,
                        const std::string& text, platform::Severity type) {
    return FormatText(
        kRecordFormat,
        {RecordText(text), Padded(stamp.hour, 2), Padded(stamp.minute, 2), Padded(stamp.second, 2),
         Padded(stamp.milliseconds, 3), BiasText(stamp.biasMinutes), Padded(stamp.month, 2),
         Padded(stamp.day, 2), Padded(stamp.year, 4), component,
         std::to_string(static_cast<int>(type)), std::to_string(stamp.threadId)});
}
