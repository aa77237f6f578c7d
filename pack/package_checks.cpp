#include "pack/package_checks.h"

#include <fstream>
#include <iterator>

#include "payload/payload_store.h"
#include "payload/xml_document.h"
#include "platform/files_processes.h"
#include "platform/resources.h"

bool ReadWholeFile(const std::string& path, std::vector<char>& bytes) {
    std::ifstream file(path, std::ios::binary);
    if (!file) return false;
    bytes.assign(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
    return !file.bad();
}

std::string CheckXmlRoot(const std::string& path, const wchar_t* rootName,
                         const wchar_t* requiredAttribute) {
    platform::ComApartment apartment;
    platform::ComRef<IXMLDOMDocument> document;
    if (FAILED(CreateXmlDocument(document)) || !document) return "no XML document object";
    if (!LoadXmlFile(document.get(), path.c_str())) return path + " is not well-formed XML";
    platform::ComRef<IXMLDOMElement> root;
    platform::Bstr name;
    if (FAILED(document->get_documentElement(root.put())) || !root ||
        FAILED(root->get_nodeName(name.put())) || std::wstring(name.get()) != rootName) {
        return path + ": the document element must be <" + platform::ToAnsi(rootName) + ">";
    }
    if (requiredAttribute != nullptr) {
        platform::Variant value;
        platform::Bstr attribute(requiredAttribute);
        if (root->getAttribute(attribute.get(), &value.get()) != S_OK) {
            return path + ": <" + platform::ToAnsi(rootName) + "> needs the attribute " +
                   platform::ToAnsi(requiredAttribute);
        }
    }
    return {};
}

std::string CheckTemplate(const std::string& path) {
    platform::ModuleHandle module(platform::LoadAsDataFile(path.c_str()));
    if (module.get() == nullptr) return path + " is not a Windows executable";
    std::vector<platform::PayloadResource> entries = platform::ListPayloadResources(module.get());
    for (const PayloadEntryInfo& info : kPayloadEntries) {
        if (info.optional) continue;
        bool present = false;
        for (const platform::PayloadResource& entry : entries) present |= entry.id == info.id;
        if (!present) {
            return path + " is not a setup with a payload store (entry " + std::to_string(info.id) +
                   " is missing)";
        }
    }
    return {};
}
