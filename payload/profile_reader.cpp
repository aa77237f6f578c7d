#include "payload/profile_reader.h"

#include <optional>

#include "payload/xml_document.h"
#include "platform/code_pages.h"
#include "platform/com_xml.h"
#include "platform/debug_output.h"

namespace {

constexpr wchar_t kCommandQuery[] = L"root/command";
constexpr wchar_t kTypeAttribute[] = L"type";
constexpr wchar_t kImageAttribute[] = L"image";
constexpr wchar_t kXmlDomProgId[] = L"Microsoft.XMLDOM";
constexpr wchar_t kUnknownException[] = L"unknow exception in setup.exe";

// The MSXML 4.0 DOM document class, tried before the class of "Microsoft.XMLDOM".
constexpr CLSID kMsxml4DocumentClass = {
    0x88D969C0, 0xF192, 0x11D4, {0xA6, 0x5F, 0x00, 0x40, 0x96, 0x32, 0x51, 0xE5}};
constexpr IID kXmlDomDocumentInterface = {
    0x2933BF81, 0x7B36, 0x11D2, {0xB2, 0x0E, 0x00, 0xC0, 0x4F, 0x98, 0x3E, 0x60}};

using platform::Bstr;
using platform::ComRef;

}  // namespace

HRESULT CreateXmlDocument(ComRef<IXMLDOMDocument>& document) {
    HRESULT status = CoCreateInstance(kMsxml4DocumentClass, nullptr, CLSCTX_ALL,
                                      kXmlDomDocumentInterface, document.put_void());
    if (SUCCEEDED(status) && document) return status;
    CLSID fallbackClass{};
    status = CLSIDFromProgID(kXmlDomProgId, &fallbackClass);
    if (FAILED(status)) return status;
    return CoCreateInstance(fallbackClass, nullptr, CLSCTX_ALL, kXmlDomDocumentInterface,
                            document.put_void());
}

namespace {

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
    return std::wstring(text.get() != nullptr ? text.get() : L"", SysStringLen(text.get()));
}

}  // namespace

bool LoadXmlFile(IXMLDOMDocument* document, const char* path) {
    platform::Variant variant;
    variant.get().vt = VT_BSTR;
    variant.get().bstrVal = SysAllocString(platform::FromAnsi(path).c_str());
    VARIANT_BOOL loaded = VARIANT_FALSE;
    HRESULT status = document->load(variant.get(), &loaded);
    variant.clear();
    return SUCCEEDED(status) && loaded != VARIANT_FALSE;
}

namespace {

// Reads the profile once; stops at the first flash command.
bool FindFlashCommand(const char* profilePath, FlashCommand& flash) {
    ComRef<IXMLDOMDocument> document;
    if (FAILED(CreateXmlDocument(document)) || !document) return false;
    if (!LoadXmlFile(document.get(), profilePath)) return false;
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
