#include "platform/xml_document.h"

#include "platform/code_pages.h"

namespace {

constexpr wchar_t kXmlDomProgId[] = L"Microsoft.XMLDOM";
// The MSXML 4.0 DOM document class, tried before the class of "Microsoft.XMLDOM".
constexpr CLSID kMsxml4DocumentClass = {
    0x88D969C0, 0xF192, 0x11D4, {0xA6, 0x5F, 0x00, 0x40, 0x96, 0x32, 0x51, 0xE5}};
constexpr IID kXmlDomDocumentInterface = {
    0x2933BF81, 0x7B36, 0x11D2, {0xB2, 0x0E, 0x00, 0xC0, 0x4F, 0x98, 0x3E, 0x60}};

}  // namespace

namespace platform {

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

bool LoadXmlFile(IXMLDOMDocument* document, const char* path) {
    Variant variant;
    variant.get().vt = VT_BSTR;
    variant.get().bstrVal = SysAllocString(FromAnsi(path).c_str());
    VARIANT_BOOL loaded = VARIANT_FALSE;
    HRESULT status = document->load(variant.get(), &loaded);
    variant.clear();
    return SUCCEEDED(status) && loaded != VARIANT_FALSE;
}

}  // namespace platform
