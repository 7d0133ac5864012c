#include "platform/vyx/cxmlnode.h"

#include "platform/vyx/cxmlnode_internal.h"

#include <pugixml.hpp>

#include <new>

namespace Vyx {

// A node shares its document with every node taken from it, so a node stays
// usable after the root that produced it is gone.
struct CXmlNode::Impl {
    std::shared_ptr<pugi::xml_document> document;
    pugi::xml_node node;
};

CXmlNode::CXmlNode() : m_impl(std::make_unique<Impl>()) {}
CXmlNode::~CXmlNode() = default;
CXmlNode::CXmlNode(const CXmlNode& other) : m_impl(std::make_unique<Impl>(*other.m_impl)) {}

CXmlNode& CXmlNode::operator=(const CXmlNode& other) {
    if (this != &other)
        *m_impl = *other.m_impl;
    return *this;
}

int CXmlNode::LoadFromString(const wchar_t* text) {
    if (text == nullptr)
        return Xml_NullArgument;
    try {
        auto document = std::make_shared<pugi::xml_document>();
        std::string utf8 = pugi::as_utf8(text);
        pugi::xml_parse_result result = document->load_buffer(
            utf8.data(), utf8.size(), pugi::parse_default, pugi::encoding_utf8);
        if (result.status == pugi::status_out_of_memory)
            return Xml_OutOfMemory;
        if (!result)
            return Xml_ParseError + static_cast<int>(result.status);
        m_impl->document = std::move(document);
        m_impl->node = m_impl->document->document_element();
        return Xml_Ok;
    } catch (const std::bad_alloc&) {
        return Xml_OutOfMemory;
    }
}

int CXmlNode::GetNode(const wchar_t* xpath, CXmlNode& node) const {
    if (xpath == nullptr)
        return Xml_NullArgument;
    if (!m_impl->document)
        return Xml_NoDocument;
    try {
        std::string query = pugi::as_utf8(xpath);
        pugi::xpath_query compiled(query.c_str());
        if (!compiled)
            return Xml_InvalidXPath;
        pugi::xpath_node found = compiled.evaluate_node(m_impl->node);
        if (!found)
            return Xml_NodeNotFound;
        if (found.node().type() != pugi::node_element)
            return Xml_NotAnElement;
        node.m_impl->document = m_impl->document;
        node.m_impl->node = found.node();
        return Xml_Ok;
    } catch (const pugi::xpath_exception&) {
        return Xml_InvalidXPath;
    } catch (const std::bad_alloc&) {
        return Xml_OutOfMemory;
    }
}

int CXmlNode::GetValue(const wchar_t* attribute, std::wstring& value) const {
    if (attribute == nullptr)
        return Xml_NullArgument;
    if (!m_impl->document)
        return Xml_NoDocument;
    pugi::xml_attribute found = m_impl->node.attribute(pugi::as_utf8(attribute).c_str());
    if (!found)
        return Xml_AttributeNotFound;
    value = pugi::as_wide(found.value());
    return Xml_Ok;
}

const wchar_t* XmlParseErrorText(int status) {
    switch (status) {
    case pugi::status_unrecognized_tag:
        return L"XML parse error: could not determine tag type";
    case pugi::status_bad_pi:
        return L"XML parse error: error parsing document declaration or processing instruction";
    case pugi::status_bad_comment:
        return L"XML parse error: error parsing comment";
    case pugi::status_bad_cdata:
        return L"XML parse error: error parsing CDATA section";
    case pugi::status_bad_doctype:
        return L"XML parse error: error parsing document type declaration";
    case pugi::status_bad_pcdata:
        return L"XML parse error: error parsing PCDATA section";
    case pugi::status_bad_start_element:
        return L"XML parse error: error parsing start element tag";
    case pugi::status_bad_attribute:
        return L"XML parse error: error parsing element attribute";
    case pugi::status_bad_end_element:
        return L"XML parse error: error parsing end element tag";
    case pugi::status_end_element_mismatch:
        return L"XML parse error: start-end tags mismatch";
    case pugi::status_no_document_element:
        return L"XML parse error: no document element found";
    default:
        return L"XML parse error";
    }
}

} // namespace Vyx
