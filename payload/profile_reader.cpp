#include "payload/profile_reader.h"

#include <optional>

#include "platform/code_pages.h"
#include "platform/com_xml.h"
#include "platform/debug_output.h"
#include "platform/xml_document.h"

namespace {

constexpr wchar_t kCommandQuery[] = L"root/command";
constexpr wchar_t kTypeAttribute[] = L"type";
constexpr wchar_t kImageAttribute[] = L"image";
constexpr wchar_t kUnknownException[] = L"unknow exception in setup.exe";

using platform::Bstr;
using platform::ComRef;

std::optional<std::wstring> GetAttributeText(IXMLDOMNode* node, const wchar_t* attributeName) {
    ComRef<IXMLDOMNamedNodeMap> attributes;
    if (FAILED(node->get_attributes(attributes.put())) || !attributes) return std::nullopt;
    ComRef<IXMLDOMNode> attribute;
    Bstr name(attributeName);
    if (FAILED(attributes->getNamedItem(name.get(), attribute.put())) || !attribute) {
        return std::nullopt;
    }
    Bstr text;
    if (FAILED(attribute->get_text(text.put()))) return std::nullopt;
    return text.text();
}

// Reads the profile once; stops at the first flash command.
bool FindFlashCommand(const char* profilePath, FlashCommand& flash) {
    ComRef<IXMLDOMDocument> document;
    if (FAILED(platform::CreateXmlDocument(document)) || !document) return false;
    if (!platform::LoadXmlFile(document.get(), profilePath)) return false;
    ComRef<IXMLDOMNodeList> commands;
    Bstr query(kCommandQuery);
    if (FAILED(document->selectNodes(query.get(), commands.put())) || !commands) return false;
    for (;;) {
        ComRef<IXMLDOMNode> command;
        if (commands->nextNode(command.put()) != S_OK || !command) break;
        std::optional<std::wstring> type = GetAttributeText(command.get(), kTypeAttribute);
        if (!type || !IsFlashCommandType(*type)) continue;
        flash.found = true;
        flash.image = GetAttributeText(command.get(), kImageAttribute).value_or(std::wstring());
        break;
    }
    return true;
}

}  // namespace

bool ReadFlashCommand(const char* profilePath, FlashCommand& flash) {
    platform::ComApartment apartment;
    return FindFlashCommand(profilePath, flash);
}

bool GetBiosImageName(const char* profilePath, std::wstring& name) {
    platform::ComApartment apartment;
    name = kDefaultImageName;
    try {
        FlashCommand flash;
        bool read = FindFlashCommand(profilePath, flash);
        if (flash.found) name = flash.image;
        return read;
    } catch (...) {
        // The references taken so far were released while the stack unwound.
        platform::DebugText(kUnknownException, platform::Severity::kFailure);
        return true;
    }
}
