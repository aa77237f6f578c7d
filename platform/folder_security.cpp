#include "platform/folder_security.h"

#include <aclapi.h>
#include <sddl.h>

#include "platform/handles.h"
#include "platform/own_files.h"

namespace platform {

namespace {

// Full control for SYSTEM and Administrators, passed on to everything inside; "P" cuts
// inheritance from the parent. The owner is left to the platform: the account's default owner.
constexpr wchar_t kAdminOnlyAccess[] = L"D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)";

std::string SidText(PSID sid) {
    LPWSTR text = nullptr;
    if (sid == nullptr || !ConvertSidToStringSidW(sid, &text)) return {};
    LocalMemory owned(text);
    std::string ascii;
    for (const wchar_t* c = text; *c != L'\0'; ++c) ascii += static_cast<char>(*c);
    return ascii;
}

// The entries of a list that allow or deny; other kinds (audit, callback) are left out.
void ReadEntries(PACL list, FolderAccess& access) {
    for (DWORD i = 0; i < list->AceCount; ++i) {
        void* entry = nullptr;
        if (!GetAce(list, i, &entry)) continue;
        const auto* header = static_cast<ACE_HEADER*>(entry);
        if (header->AceType != ACCESS_ALLOWED_ACE_TYPE &&
            header->AceType != ACCESS_DENIED_ACE_TYPE) {
            continue;
        }
        // Both kinds share this layout.
        auto* allowed = static_cast<ACCESS_ALLOWED_ACE*>(entry);
        AccessEntry read;
        read.allows = header->AceType == ACCESS_ALLOWED_ACE_TYPE;
        read.account = SidText(&allowed->SidStart);
        read.rights = allowed->Mask;
        read.inheritOnly = (header->AceFlags & INHERIT_ONLY_ACE) != 0;
        access.entries.push_back(read);
    }
}

}  // namespace

DWORD CreateAdminOnlyFolder(const std::wstring& path) {
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(kAdminOnlyAccess, SDDL_REVISION_1,
                                                              &descriptor, nullptr)) {
        return GetLastError();
    }
    LocalMemory owned(descriptor);
    SECURITY_ATTRIBUTES attributes{sizeof attributes, descriptor, FALSE};
    // Folders above it made with their parent's inherited access list could be changed by
    // whoever may change those.
    CreateFoldersOf(path, nullptr, &attributes);
    return CreateDirectoryW(path.c_str(), &attributes) ? 0 : GetLastError();
}

DWORD ReadFolderAccess(const std::wstring& path, FolderAccess& access) {
    PSID owner = nullptr;
    PACL list = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    const DWORD error = GetNamedSecurityInfoW(
        path.c_str(), SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
        &owner, nullptr, &list, nullptr, &descriptor);
    if (error != ERROR_SUCCESS) return error;
    LocalMemory owned(descriptor);
    access = FolderAccess();
    access.owner = SidText(owner);
    access.hasAccessList = list != nullptr;
    if (list != nullptr) ReadEntries(list, access);
    return 0;
}

std::string RunningAccount() {
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return {};
    KernelHandle owned(token);
    // A user entry and the longest identifier fit.
    alignas(TOKEN_USER) unsigned char buffer[sizeof(TOKEN_USER) + SECURITY_MAX_SID_SIZE];
    DWORD size = 0;
    if (!GetTokenInformation(token, TokenUser, buffer, sizeof buffer, &size)) return {};
    return SidText(reinterpret_cast<TOKEN_USER*>(buffer)->User.Sid);
}

UINT DriveTypeOf(const std::wstring& path) {
    const std::wstring root = path.substr(0, 3);
    return GetDriveTypeW(root.c_str());
}

}  // namespace platform
