#pragma once
// Between the XML reader of the platform and the texts of its result codes.

namespace Vyx {

// English text of the parse error Xml_ParseError + detail; never null.
const wchar_t* XmlParseErrorText(int detail);

} // namespace Vyx
