// The import envelope and the element operations the builders rely on.
#include <functional>

#include <gtest/gtest.h>

#include <lirvo/modTally.h>

namespace {

TEST(Envelope, IsSeventeenCrLfLinesAndLoadsWithTheCompanyIntact) {
  EXPECT_EQ(modTally::ImportEnvelopeText("Acme"),
            "<ENVELOPE>\r\n<HEADER>\r\n<TALLYREQUEST> Import Data </TALLYREQUEST>\r\n"
            "</HEADER>\r\n<BODY>\r\n<IMPORTDATA>\r\n<REQUESTDESC>\r\n"
            "<REPORTNAME>All Masters</REPORTNAME>\r\n<STATICVARIABLES>\r\n"
            "<SVCURRENTCOMPANY>Acme</SVCURRENTCOMPANY>\r\n</STATICVARIABLES>\r\n"
            "</REQUESTDESC>\r\n<REQUESTDATA>\r\n</REQUESTDATA>\r\n</IMPORTDATA>\r\n</BODY>\r\n"
            "</ENVELOPE>\r\n");
  EXPECT_EQ(modTally::DocumentXml(modTally::CreateImportEnvelope("Acme")),
            "<ENVELOPE><HEADER><TALLYREQUEST> Import Data </TALLYREQUEST></HEADER><BODY>"
            "<IMPORTDATA><REQUESTDESC><REPORTNAME>All Masters</REPORTNAME><STATICVARIABLES>"
            "<SVCURRENTCOMPANY>Acme</SVCURRENTCOMPANY></STATICVARIABLES></REQUESTDESC>"
            "<REQUESTDATA/></IMPORTDATA></BODY></ENVELOPE>");
  for (const std::string company : {"Duties & Taxes Ltd", "<A> \"B\" 'C'", "", " x "}) {
    const pugi::xml_document envelope = modTally::CreateImportEnvelope(company);
    EXPECT_EQ(modTally::NodeText(envelope.select_node("//SVCURRENTCOMPANY").node()), company);
    EXPECT_TRUE(envelope.select_node("//REQUESTDATA").node()) << company;
  }
}

// An empty value is an empty element, or none at all; a blank is a value; a second attribute of
// the same name replaces the first; markup in values is escaped.
TEST(Elements, AreWrittenAsTheServerReadsThem) {
  pugi::xml_document document;
  ASSERT_TRUE(modTally::LoadXml(document, "<ROOT/>"));
  const pugi::xml_node root = document.document_element();
  EXPECT_TRUE(modTally::AddElement(document, root, "EMPTY", ""));
  EXPECT_FALSE(modTally::AddElementIfValue(document, root, "SKIPPED", ""));
  EXPECT_TRUE(modTally::AddElementIfValue(document, root, "BLANK", " "));
  modTally::AddElement(document, root, "AMP", "a & b < c");
  modTally::AddAttribute(document, root, "NAME", "first");
  modTally::AddAttribute(document, root, "ACTION", "");
  modTally::AddAttribute(document, root, "NAME", "se\"cond&");
  EXPECT_EQ(modTally::DocumentXml(document),
            "<ROOT NAME=\"se&quot;cond&amp;\" ACTION=\"\"><EMPTY/><BLANK> </BLANK>"
            "<AMP>a &amp; b &lt; c</AMP></ROOT>");
}

// A node of another document, or a value holding a NUL, is refused and nothing is added.
TEST(Elements, WhatCannotStandInTheDocumentIsRefused) {
  pugi::xml_document document;
  pugi::xml_document other;
  ASSERT_TRUE(modTally::LoadXml(document, "<ROOT/>"));
  ASSERT_TRUE(modTally::LoadXml(other, "<OTHER/>"));
  const pugi::xml_node root = document.document_element();
  const pugi::xml_node foreign = other.document_element();
  const std::string cut("Ab\0cd", 5);
  const std::function<void()> refused[] = {
      [&] { modTally::AddElement(document, pugi::xml_node(), "X", "t"); },
      [&] { modTally::AddElement(document, foreign, "X", ""); },
      [&] { modTally::AddAttribute(document, foreign, "A", "v"); },
      [&] { modTally::AddElement(document, root, "NAME", cut); },
      [&] { modTally::AddElementIfValue(document, root, "NAME", cut); },
      [&] { modTally::AddAttribute(document, root, "NAME", cut); },
  };
  for (const auto& operation : refused) {
    EXPECT_THROW(operation(), modTally::Failure);
  }
  EXPECT_EQ(modTally::DocumentXml(document), "<ROOT/>");
  EXPECT_EQ(modTally::DocumentXml(other), "<OTHER/>");
}

TEST(Documents, MalformedTextLeavesTheDocumentEmptyAndNodeTextJoinsDescendants) {
  for (const std::string text : {"", "   ", "not xml", "<A><B></A>", "<A/><B/>", "<A x=1/>"}) {
    pugi::xml_document document;
    modTally::LoadXml(document, "<OLD/>");
    EXPECT_FALSE(modTally::LoadXml(document, text)) << text;
    EXPECT_FALSE(document.first_child()) << text;
  }
  pugi::xml_document document;
  ASSERT_TRUE(modTally::LoadXml(document, "<A> x <B>y<C>z</C></B><![CDATA[<w>]]></A>"));
  EXPECT_EQ(modTally::NodeText(document.document_element()), " x yz<w>");
  EXPECT_EQ(modTally::NodeText(pugi::xml_node()), "");
}

}  // namespace
