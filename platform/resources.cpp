#include "platform/resources.h"

#include <algorithm>

namespace platform {

namespace {

BOOL CALLBACK AddLanguage(HMODULE module, LPCSTR type, LPCSTR name, WORD language,
                          LONG_PTR context) {
    auto* entries = reinterpret_cast<std::vector<PayloadResource>*>(context);
    HRSRC found = FindResourceExA(module, type, name, language);
    HGLOBAL loaded = found != nullptr ? LoadResource(module, found) : nullptr;
    PayloadResource entry;
    entry.id = static_cast<unsigned>(reinterpret_cast<ULONG_PTR>(name));
    entry.language = language;
    entry.bytes = loaded != nullptr ? LockResource(loaded) : nullptr;
    entry.size = found != nullptr ? SizeofResource(module, found) : 0;
    entries->push_back(entry);
    return TRUE;
}

BOOL CALLBACK AddName(HMODULE module, LPCSTR type, LPSTR name, LONG_PTR context) {
    // Only numeric IDs are payload entries.
    if (!IS_INTRESOURCE(name)) return TRUE;
    EnumResourceLanguagesA(module, type, name, AddLanguage, context);
    return TRUE;
}

}  // namespace

std::vector<PayloadResource> ListPayloadResources(HMODULE module) {
    std::vector<PayloadResource> entries;
    EnumResourceNamesA(module, kPayloadResourceType, AddName, reinterpret_cast<LONG_PTR>(&entries));
    std::sort(entries.begin(), entries.end(),
              [](const PayloadResource& a, const PayloadResource& b) {
                  return a.id != b.id ? a.id < b.id : a.language < b.language;
              });
    return entries;
}

}  // namespace platform
