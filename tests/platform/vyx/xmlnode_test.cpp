#include "platform/vyx/cxmlnode.h"

#include <gtest/gtest.h>

#include <string>

using Vyx::CXmlNode;

namespace {

const wchar_t* kInfo = L"<?xml version=\"1.0\"?>\n"
                       L"<Info>\n"
                       L"  <Item key=\"manufacturer\" value=\"M\u00fcller &amp; Co\"/>\n"
                       L"  <Item key=\"serialnumber\" value=\"\"/>\n"
                       L"  <Group name=\"g\"><Item key=\"inner\" value=\"deep\"/></Group>\n"
                       L"</Info>\n";

std::wstring ValueOf(const CXmlNode& root, const wchar_t* xpath) {
    CXmlNode node;
    std::wstring value = L"<none>";
    if (root.GetNode(xpath, node) == 0)
        node.GetValue(L"value", value);
    return value;
}

} // namespace

TEST(XmlNode, SelectsNodesReadsAttributesAndFailsWithCodes) {
    CXmlNode root;
    ASSERT_EQ(root.LoadFromString(kInfo), 0);
    EXPECT_EQ(ValueOf(root, L"/Info/Item[@key='manufacturer']"), L"M\u00fcller & Co");
    // Present but empty is a success with an empty text.
    EXPECT_EQ(ValueOf(root, L"/Info/Item[@key='serialnumber']"), L"");

    // Relative paths start at the node; absolute ones work from any node.
    CXmlNode group;
    ASSERT_EQ(root.GetNode(L"/Info/Group", group), 0);
    EXPECT_EQ(ValueOf(group, L"Item[@key='inner']"), L"deep");
    EXPECT_EQ(ValueOf(group, L"/Info/Item[@key='manufacturer']"), L"M\u00fcller & Co");

    // A node keeps its document alive after the root is gone.
    CXmlNode kept;
    {
        CXmlNode temporary;
        ASSERT_EQ(temporary.LoadFromString(kInfo), 0);
        ASSERT_EQ(temporary.GetNode(L"//Item[@key='inner']", kept), 0);
    }
    CXmlNode copy = kept;
    std::wstring value;
    EXPECT_EQ(copy.GetValue(L"value", value), 0);
    EXPECT_EQ(value, L"deep");

    // Failures give codes with texts.
    CXmlNode empty, node;
    EXPECT_EQ(empty.GetNode(L"/Info", node), Vyx::Xml_NoDocument);
    EXPECT_EQ(empty.GetValue(L"value", value), Vyx::Xml_NoDocument);
    int broken = root.LoadFromString(L"<Info><Item key='a'></Info>");
    EXPECT_GT(broken, Vyx::Xml_ParseError);
    EXPECT_NE(std::wstring(CXmlNode::RetTextEn(broken)).find(L"parse error"), std::wstring::npos);
    // A failed load leaves the earlier document in place.
    EXPECT_EQ(ValueOf(root, L"//Item[@key='inner']"), L"deep");
    EXPECT_GT(root.LoadFromString(L""), Vyx::Xml_ParseError);
    EXPECT_EQ(root.LoadFromString(nullptr), Vyx::Xml_NullArgument);

    EXPECT_EQ(root.GetNode(L"/Info/Item[", node), Vyx::Xml_InvalidXPath);
    EXPECT_EQ(root.GetNode(L"/Info/Item[@key='absent']", node), Vyx::Xml_NodeNotFound);
    EXPECT_EQ(root.GetNode(L"/Info/Item/@key", node), Vyx::Xml_NotAnElement);
    EXPECT_EQ(root.GetNode(nullptr, node), Vyx::Xml_NullArgument);
    ASSERT_EQ(root.GetNode(L"/Info/Item", node), 0);
    EXPECT_EQ(node.GetValue(L"colour", value), Vyx::Xml_AttributeNotFound);
    EXPECT_EQ(value, L"deep"); // untouched
}
