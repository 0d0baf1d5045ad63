// A request or reply text loaded as XML for a test to look into; a text that does not load fails
// the test that asked, showing the text.
#pragma once

#include <string>

#include <gtest/gtest.h>

#include <lirvo/modTally.h>

namespace lirvo::test {

inline pugi::xml_document Parsed(const std::string& text) {
  pugi::xml_document document;
  EXPECT_TRUE(modTally::LoadXml(document, text)) << text;
  return document;
}

}  // namespace lirvo::test
