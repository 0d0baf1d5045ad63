// The import envelope and the element operations.
#include <gtest/gtest.h>

#include <lirvo/modTally.h>

namespace {

// Element names and texts of a tree, one line per element, indented by depth.
std::string Outline(const pugi::xml_node& node, int depth = 0) {
  std::string out;
  for (const pugi::xml_node& child : node.children()) {
    if (child.type() != pugi::node_element)
      continue;
    out += std::string(depth * 2, ' ') + child.name();
    if (const char* text = child.child_value(); *text != '\0')
      out += " [" + std::string(text) + "]";
    out += "\n" + Outline(child, depth + 1);
  }
  return out;
}

TEST(Envelope, TextIsSeventeenCrLfLinesWithTheCompany) {
  EXPECT_EQ(modTally::ImportEnvelopeText("Acme"),
            "<ENVELOPE>\r\n<HEADER>\r\n<TALLYREQUEST> Import Data </TALLYREQUEST>\r\n"
            "</HEADER>\r\n<BODY>\r\n<IMPORTDATA>\r\n<REQUESTDESC>\r\n"
            "<REPORTNAME>All Masters</REPORTNAME>\r\n<STATICVARIABLES>\r\n"
            "<SVCURRENTCOMPANY>Acme</SVCURRENTCOMPANY>\r\n</STATICVARIABLES>\r\n"
            "</REQUESTDESC>\r\n<REQUESTDATA>\r\n</REQUESTDATA>\r\n</IMPORTDATA>\r\n</BODY>\r\n"
            "</ENVELOPE>\r\n");
}

TEST(Envelope, LoadsIntoTheDocumentedTree) {
  const pugi::xml_document envelope = modTally::CreateImportEnvelope("Acme Traders");
  EXPECT_EQ(Outline(envelope),
            "ENVELOPE\n"
            "  HEADER\n"
            "    TALLYREQUEST [ Import Data ]\n"
            "  BODY\n"
            "    IMPORTDATA\n"
            "      REQUESTDESC\n"
            "        REPORTNAME [All Masters]\n"
            "        STATICVARIABLES\n"
            "          SVCURRENTCOMPANY [Acme Traders]\n"
            "      REQUESTDATA\n");
  EXPECT_FALSE(envelope.select_node("//REQUESTDATA").node().first_child());
}

TEST(Envelope, CompanyNamesWithMarkupStayIntact) {
  for (const std::string company : {"Duties & Taxes Ltd", "<A> \"B\" 'C'", "", " x "}) {
    SCOPED_TRACE(company);
    const pugi::xml_document envelope = modTally::CreateImportEnvelope(company);
    const pugi::xml_node node = envelope.select_node("//SVCURRENTCOMPANY").node();
    ASSERT_TRUE(node);
    EXPECT_EQ(modTally::NodeText(node), company);
    EXPECT_TRUE(envelope.select_node("//REQUESTDATA").node());
  }
}

TEST(Elements, EmptyTextAndOneBlank) {
  pugi::xml_document document;
  modTally::LoadXml(document, "<ROOT/>");
  const pugi::xml_node root = document.document_element();

  const pugi::xml_node empty = modTally::AddElement(document, root, "EMPTY", "");
  EXPECT_TRUE(empty);
  EXPECT_FALSE(empty.first_child());
  EXPECT_FALSE(modTally::AddElementIfValue(document, root, "SKIPPED", ""));
  EXPECT_TRUE(modTally::AddElementIfValue(document, root, "BLANK", " "));
  modTally::AddElement(document, root, "AMP", "a & b < c");

  EXPECT_EQ(modTally::DocumentXml(document),
            "<ROOT><EMPTY/><BLANK> </BLANK><AMP>a &amp; b &lt; c</AMP></ROOT>");
}

TEST(Elements, AttributeIsReplacedNotDuplicated) {
  pugi::xml_document document;
  modTally::LoadXml(document, "<ROOT/>");
  const pugi::xml_node root = document.document_element();
  modTally::AddAttribute(document, root, "NAME", "first");
  modTally::AddAttribute(document, root, "ACTION", "");
  modTally::AddAttribute(document, root, "NAME", "se\"cond&");
  modTally::AddAttribute(document, root, "xmlns:UDF", "TallyUDF");
  EXPECT_EQ(modTally::DocumentXml(document),
            "<ROOT NAME=\"se&quot;cond&amp;\" ACTION=\"\" xmlns:UDF=\"TallyUDF\"/>");
}

TEST(Elements, OperationsOnANodeOutsideTheDocumentFail) {
  pugi::xml_document document;
  pugi::xml_document other;
  modTally::LoadXml(other, "<OTHER/>");
  EXPECT_THROW(modTally::AddElement(document, pugi::xml_node(), "X", "t"), modTally::Failure);
  EXPECT_THROW(modTally::AddElement(document, other.document_element(), "X", ""),
               modTally::Failure);
  EXPECT_THROW(modTally::AddAttribute(document, other.document_element(), "A", "v"),
               modTally::Failure);
  EXPECT_FALSE(other.document_element().first_child());
}

TEST(Elements, ValuesHoldingNulAreRefusedNotCutShort) {
  pugi::xml_document document;
  modTally::LoadXml(document, "<ROOT/>");
  const pugi::xml_node root = document.document_element();
  const std::string cut("Ab\0cd", 5);
  EXPECT_THROW(modTally::AddElement(document, root, "NAME", cut), modTally::Failure);
  EXPECT_THROW(modTally::AddElementIfValue(document, root, "NAME", cut), modTally::Failure);
  EXPECT_THROW(modTally::AddAttribute(document, root, "NAME", cut), modTally::Failure);
  EXPECT_EQ(modTally::DocumentXml(document), "<ROOT/>");
}

TEST(Documents, MalformedTextLeavesTheDocumentEmpty) {
  for (const std::string text : {"", "   ", "not xml", "<A><B></A>", "<A/><B/>", "<A x=1/>"}) {
    SCOPED_TRACE(text);
    pugi::xml_document document;
    modTally::LoadXml(document, "<OLD/>");
    EXPECT_FALSE(modTally::LoadXml(document, text));
    EXPECT_FALSE(document.first_child());
  }
}

TEST(Documents, NodeTextJoinsDescendantsInOrder) {
  pugi::xml_document document;
  ASSERT_TRUE(modTally::LoadXml(document, "<A> x <B>y<C>z</C></B><![CDATA[<w>]]></A>"));
  EXPECT_EQ(modTally::NodeText(document.document_element()), " x yz<w>");
}

}  // namespace
