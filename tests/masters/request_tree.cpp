#include "request_tree.h"

#include <stdexcept>

#include <pugixml.hpp>

namespace lirvo::test {

namespace {

Element Describe(const pugi::xml_node& node) {
  Element element{node.name(), "", {}};
  for (const pugi::xml_node& child : node.children()) {
    if (child.type() == pugi::node_element) {
      element.children.push_back(Describe(child));
    } else if (child.type() == pugi::node_pcdata) {
      element.text += child.value();
    } else {
      throw std::runtime_error(std::string("unexpected node inside ") + node.name());
    }
  }
  return element;
}

}  // namespace

void PrintTo(const Element& element, std::ostream* out) {
  *out << element.name;
  if (!element.text.empty()) {
    *out << "=\"" << element.text << '"';
  }
  if (!element.children.empty()) {
    *out << '[';
    for (const Element& child : element.children) {
      PrintTo(child, out);
      *out << (&child == &element.children.back() ? "" : ", ");
    }
    *out << ']';
  }
}

MasterRequest ParseMasterRequest(const std::string& text) {
  pugi::xml_document document;
  const auto parsed =
      document.load_string(text.c_str(), pugi::parse_default | pugi::parse_ws_pcdata);
  if (!parsed) {
    throw std::runtime_error(std::string("request is not well-formed XML: ") +
                             parsed.description());
  }
  if (document.first_child().type() != pugi::node_element) {
    throw std::runtime_error("request does not begin with its root element");
  }
  pugi::xml_node request_data = document.select_node("//REQUESTDATA").node();
  const pugi::xml_node message = request_data.first_child();
  if (!message || message.next_sibling() || std::string(message.name()) != "TALLYMESSAGE") {
    throw std::runtime_error("REQUESTDATA does not hold exactly one TALLYMESSAGE");
  }
  const pugi::xml_attribute udf = message.first_attribute();
  if (std::string(udf.name()) != "xmlns:UDF" || std::string(udf.value()) != "TallyUDF" ||
      udf.next_attribute()) {
    throw std::runtime_error("TALLYMESSAGE lacks its single xmlns:UDF=\"TallyUDF\" attribute");
  }
  const pugi::xml_node master = message.first_child();
  if (master.type() != pugi::node_element || master.next_sibling() || message.text()) {
    throw std::runtime_error("TALLYMESSAGE does not hold exactly one master element");
  }

  MasterRequest request;
  request.company = document.select_node("//SVCURRENTCOMPANY").node().text().get();
  request.element = master.name();
  for (const pugi::xml_attribute& attribute : master.attributes()) {
    request.attributes.emplace_back(attribute.name(), attribute.value());
  }
  request.children = Describe(master).children;
  if (!Describe(master).text.empty()) {
    throw std::runtime_error("the master element holds text of its own");
  }

  request_data.remove_child(message);
  const Element expected{
      "ENVELOPE",
      "",
      {{"HEADER", "", {{"TALLYREQUEST", " Import Data ", {}}}},
       {"BODY",
        "",
        {{"IMPORTDATA",
          "",
          {{"REQUESTDESC",
            "",
            {{"REPORTNAME", "All Masters", {}},
             {"STATICVARIABLES", "", {{"SVCURRENTCOMPANY", request.company, {}}}}}},
           {"REQUESTDATA", "", {}}}}}}}};
  if (Describe(document.document_element()) != expected) {
    throw std::runtime_error("the envelope around the message is not the import envelope");
  }
  return request;
}

}  // namespace lirvo::test
