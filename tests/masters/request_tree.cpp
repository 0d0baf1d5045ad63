#include "request_tree.h"

#include <stdexcept>

#include <pugixml.hpp>

namespace lirvo::test {

namespace {

std::string Render(const pugi::xml_node& parent) {
  std::string out;
  for (const pugi::xml_node& child : parent.children()) {
    if (child.type() != pugi::node_element) {
      continue;  // the parent's own text, rendered with the parent
    }
    out += (out.empty() ? "" : "; ") + std::string(child.name());
    if (const std::string text = child.text().get(); !text.empty()) {
      out += "=" + text;
    }
    if (child.find_child([](const pugi::xml_node& n) { return n.type() == pugi::node_element; })) {
      out += "[" + Render(child) + "]";
    }
  }
  return out;
}

}  // namespace

MasterRequest ParseMasterRequest(const std::string& text) {
  pugi::xml_document document;
  const auto parsed =
      document.load_string(text.c_str(), pugi::parse_default | pugi::parse_ws_pcdata);
  if (!parsed || document.first_child().type() != pugi::node_element) {
    throw std::runtime_error(std::string("request is not one XML element: ") +
                             parsed.description());
  }
  pugi::xml_node request_data = document.select_node("//REQUESTDATA").node();
  const pugi::xml_node message = request_data.first_child();
  if (!message || message.next_sibling() || std::string(message.name()) != "TALLYMESSAGE" ||
      std::string(message.first_attribute().name()) != "xmlns:UDF" ||
      std::string(message.first_attribute().value()) != "TallyUDF" ||
      message.first_attribute().next_attribute()) {
    throw std::runtime_error("REQUESTDATA does not hold one TALLYMESSAGE declaring xmlns:UDF");
  }
  const pugi::xml_node master = message.first_child();
  if (master.type() != pugi::node_element || master.next_sibling() || master.text()) {
    throw std::runtime_error("TALLYMESSAGE does not hold exactly one master element, without text");
  }

  MasterRequest request;
  request.company = document.select_node("//SVCURRENTCOMPANY").node().text().get();
  request.head = master.name() + std::string("(");
  for (const pugi::xml_attribute& attribute : master.attributes()) {
    request.head += std::string(attribute.name()) + "=" + attribute.value() +
                    (attribute.next_attribute() ? ", " : "");
  }
  request.head += ")";
  request.children = Render(master);

  request_data.remove_child(message);
  const std::string envelope =
      "ENVELOPE[HEADER[TALLYREQUEST= Import Data ]; BODY[IMPORTDATA[REQUESTDESC[REPORTNAME=All "
      "Masters; STATICVARIABLES[SVCURRENTCOMPANY" +
      (request.company.empty() ? "" : "=" + request.company) + "]]; REQUESTDATA]]]";
  if (Render(document) != envelope) {
    throw std::runtime_error("the envelope is not the import envelope: " + Render(document));
  }
  return request;
}

}  // namespace lirvo::test
