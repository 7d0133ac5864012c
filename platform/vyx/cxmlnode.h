#pragma once
// XML reader of the camera library: load a document from wide text, select
// nodes with XPath, read attributes. Every operation returns 0 on success or a
// code whose English text RetTextEn gives.
//
// Wide text is wchar_t: UTF-32 on Linux, UTF-16 on Windows.

#include "platform/vyx/vyxapi.h"

#include <memory>
#include <string>

namespace Vyx {

enum : int {
    Xml_Ok = 0,
    Xml_NullArgument = 1,      // a text argument was null
    Xml_NoDocument = 2,        // the node belongs to no loaded document
    Xml_InvalidXPath = 3,      // the XPath expression does not compile
    Xml_NodeNotFound = 4,      // the XPath selects nothing
    Xml_NotAnElement = 5,      // the XPath selects something other than an element
    Xml_AttributeNotFound = 6, // the element has no attribute of that name
    Xml_OutOfMemory = 7,
    Xml_ParseError = 100, // 100 + n: the text is not well-formed XML (n says what is wrong)
};

class VYX_API CXmlNode {
public:
    CXmlNode(); // empty: belongs to no document
    ~CXmlNode();
    CXmlNode(const CXmlNode& other);
    CXmlNode& operator=(const CXmlNode& other);

    // Parses text and makes this node the document's root. On failure the node
    // is left as it was.
    int LoadFromString(const wchar_t* text);
    // First element that xpath selects, evaluated with this node as context
    // ("/Info/Item[@key='manufacturer']" works from any node of the document).
    int GetNode(const wchar_t* xpath, CXmlNode& node) const;
    // Text of the attribute of this element (empty when the attribute is empty).
    int GetValue(const wchar_t* attribute, std::wstring& value) const;

    // English text of a result code; never null.
    static const wchar_t* RetTextEn(int code);

private:
    struct Impl;
    std::unique_ptr<Impl> m_impl;
};

} // namespace Vyx
