// The platform's XML document object, shared by the profile reader and the package builder.
#pragma once

#include "platform/com_xml.h"

namespace platform {

// Creates a DOM document: the MSXML 4.0 class first, then the class of "Microsoft.XMLDOM".
HRESULT CreateXmlDocument(ComRef<IXMLDOMDocument>& document);

// Loads a whole file (ANSI path) into the document; true when it parsed.
bool LoadXmlFile(IXMLDOMDocument* document, const char* path);

}  // namespace platform
