// Lead bytes of code page 932, for testing the multibyte-aware searches without Windows.
#pragma once

inline bool IsCodePage932LeadByte(unsigned char c) {
    return (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC);
}

inline bool IsSingleByte(unsigned char) {
    return false;
}
