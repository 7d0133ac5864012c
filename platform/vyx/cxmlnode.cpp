// The texts of the XML reader's result codes; the reader itself is the platform's
// (cxmlnode_posix.cpp, cxmlnode_win32.cpp).
#include "platform/vyx/cxmlnode.h"

#include "platform/vyx/cxmlnode_internal.h"

namespace Vyx {

const wchar_t* CXmlNode::RetTextEn(int code) {
    if (code > Xml_ParseError)
        return XmlParseErrorText(code - Xml_ParseError);
    switch (code) {
    case Xml_Ok:
        return L"No error";
    case Xml_NullArgument:
        return L"Null text argument";
    case Xml_NoDocument:
        return L"No XML document loaded";
    case Xml_InvalidXPath:
        return L"Invalid XPath expression";
    case Xml_NodeNotFound:
        return L"XPath expression selects no node";
    case Xml_NotAnElement:
        return L"XPath expression selects no element";
    case Xml_AttributeNotFound:
        return L"Attribute not found";
    case Xml_OutOfMemory:
        return L"Out of memory";
    default:
        return L"Unknown error code";
    }
}

} // namespace Vyx
