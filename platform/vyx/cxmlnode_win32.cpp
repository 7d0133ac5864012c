// The XML reader on Windows: the system's XML service (MSXML 6 through COM).
#include "platform/vyx/cxmlnode.h"

#include "platform/vyx/cxmlnode_internal.h"

#include <mutex>
#include <objbase.h>
#include <oleauto.h>
#include <windows.h>
// After <windows.h>: the MSXML interfaces need its COM declarations.
#include <msxml2.h>

namespace Vyx {

namespace {

// MSXML 6, in every Windows since Vista. Its identifiers are not in MinGW's import libraries.
const CLSID kDomDocument60 = {
    0x88d96a05, 0xf192, 0x11d4, {0xa6, 0x5f, 0x00, 0x40, 0x96, 0x32, 0x51, 0xe5}};
const IID kIXmlDomDocument2 = {
    0x2933bf95, 0x7b36, 0x11d2, {0xb2, 0x0e, 0x00, 0xc0, 0x4f, 0x98, 0x3e, 0x60}};
const IID kIXmlDomNode = {
    0x2933bf80, 0x7b36, 0x11d2, {0xb2, 0x0e, 0x00, 0xc0, 0x4f, 0x98, 0x3e, 0x60}};
const IID kIXmlDomElement = {
    0x2933bf86, 0x7b36, 0x11d2, {0xb2, 0x0e, 0x00, 0xc0, 0x4f, 0x98, 0x3e, 0x60}};

// One reference to a COM object, released when it goes.
template <class T> class Com {
public:
    Com() = default;
    Com(const Com& other) : p(other.p) {
        if (p != nullptr)
            p->AddRef();
    }
    Com& operator=(const Com& other) {
        if (other.p != nullptr)
            other.p->AddRef();
        Reset();
        p = other.p;
        return *this;
    }
    ~Com() { Reset(); }

    void Reset() {
        if (p != nullptr)
            p->Release();
        p = nullptr;
    }
    T** Out() {
        Reset();
        return &p;
    }
    T* operator->() const { return p; }
    T* Get() const { return p; }
    explicit operator bool() const { return p != nullptr; }

private:
    T* p = nullptr;
};

// A text for COM calls, freed when it goes.
class Bstr {
public:
    explicit Bstr(const wchar_t* text) : b(SysAllocString(text)) {}
    ~Bstr() { SysFreeString(b); }
    Bstr(const Bstr&) = delete;
    Bstr& operator=(const Bstr&) = delete;
    BSTR Get() const { return b; }

private:
    BSTR b;
};

// The calling program may or may not have set up COM on its threads. Keeping the process's
// multithreaded apartment alive makes COM usable from every thread that did not, and the
// objects made there usable from any of them; a thread of the program's own single-threaded
// apartment keeps using its objects itself.
bool ComReady() {
    static const bool ready = [] {
        CO_MTA_USAGE_COOKIE cookie = nullptr;
        return SUCCEEDED(CoIncrementMTAUsage(&cookie));
    }();
    return ready;
}

int FromHresult(HRESULT hr, int otherwise) {
    return hr == E_OUTOFMEMORY ? Xml_OutOfMemory : otherwise;
}

} // namespace

struct CXmlNode::Impl {
    Com<IXMLDOMDocument2> document; // nodes keep their document alive
    Com<IXMLDOMNode> node;
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
    if (!ComReady())
        return Xml_OutOfMemory;
    Com<IXMLDOMDocument2> document;
    HRESULT hr = CoCreateInstance(kDomDocument60, nullptr, CLSCTX_INPROC_SERVER, kIXmlDomDocument2,
                                  reinterpret_cast<void**>(document.Out()));
    if (FAILED(hr))
        return Xml_OutOfMemory;
    document->put_async(VARIANT_FALSE);
    document->put_validateOnParse(VARIANT_FALSE);
    document->put_resolveExternals(VARIANT_FALSE);
    VARIANT language;
    VariantInit(&language);
    language.vt = VT_BSTR;
    language.bstrVal = SysAllocString(L"XPath");
    Bstr property(L"SelectionLanguage");
    document->setProperty(property.Get(), language);
    VariantClear(&language);

    Bstr xml(text);
    VARIANT_BOOL loaded = VARIANT_FALSE;
    hr = document->loadXML(xml.Get(), &loaded);
    if (FAILED(hr) || loaded != VARIANT_TRUE)
        return FromHresult(hr, Xml_ParseError + 1);
    Com<IXMLDOMElement> root;
    if (document->get_documentElement(root.Out()) != S_OK || !root)
        return Xml_ParseError + 1;
    Com<IXMLDOMNode> node;
    if (FAILED(root->QueryInterface(kIXmlDomNode, reinterpret_cast<void**>(node.Out()))))
        return Xml_OutOfMemory;
    m_impl->document = document;
    m_impl->node = node;
    return Xml_Ok;
}

int CXmlNode::GetNode(const wchar_t* xpath, CXmlNode& node) const {
    if (xpath == nullptr)
        return Xml_NullArgument;
    if (!m_impl->document)
        return Xml_NoDocument;
    Bstr query(xpath);
    Com<IXMLDOMNode> found;
    HRESULT hr = m_impl->node->selectSingleNode(query.Get(), found.Out());
    if (FAILED(hr))
        return FromHresult(hr, Xml_InvalidXPath);
    if (hr == S_FALSE || !found)
        return Xml_NodeNotFound;
    DOMNodeType type = NODE_INVALID;
    if (FAILED(found->get_nodeType(&type)) || type != NODE_ELEMENT)
        return Xml_NotAnElement;
    node.m_impl->document = m_impl->document;
    node.m_impl->node = found;
    return Xml_Ok;
}

int CXmlNode::GetValue(const wchar_t* attribute, std::wstring& value) const {
    if (attribute == nullptr)
        return Xml_NullArgument;
    if (!m_impl->document)
        return Xml_NoDocument;
    Com<IXMLDOMElement> element;
    if (FAILED(
            m_impl->node->QueryInterface(kIXmlDomElement, reinterpret_cast<void**>(element.Out()))))
        return Xml_AttributeNotFound;
    Bstr name(attribute);
    VARIANT text;
    VariantInit(&text);
    HRESULT hr = element->getAttribute(name.Get(), &text);
    if (FAILED(hr) || hr == S_FALSE || text.vt != VT_BSTR) {
        VariantClear(&text);
        return FromHresult(hr, Xml_AttributeNotFound);
    }
    value.assign(text.bstrVal != nullptr ? text.bstrVal : L"", SysStringLen(text.bstrVal));
    VariantClear(&text);
    return Xml_Ok;
}

const wchar_t* XmlParseErrorText(int /*detail*/) {
    // MSXML's reasons are texts of its own, in the system's language.
    return L"XML parse error: the text is not well-formed XML";
}

} // namespace Vyx
