#include "values.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <vector>

#include <lirvo/standin/service.h>

#include "text.h"

namespace lirvo::standin {

std::string Quoted(std::string_view text) {
  return "'" + std::string(text) + "'";
}

std::string ActionOf(const pugi::xml_node& element) {
  const std::string_view action = Trim(element.attribute("ACTION").value());
  return action.empty() ? std::string("Create") : std::string(action);
}

std::optional<double> ParseAmount(std::string_view text) {
  text = Trim(text);
  if (text.empty()) {
    return 0.0;
  }
  double value = 0;
  const char* end = text.data() + text.size();
  const auto [stop, error] = std::from_chars(text.data(), end, value, std::chars_format::fixed);
  if (error != std::errc() || stop != end || !std::isfinite(value)) {
    return std::nullopt;
  }
  return value;
}

bool IsDate(std::string_view text) {
  if (text.size() != 8 ||
      !std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; })) {
    return false;
  }
  const auto number = [&](std::size_t at, std::size_t length) {
    int value = 0;
    std::from_chars(text.data() + at, text.data() + at + length, value);
    return value;
  };
  const int year = number(0, 4);
  const int month = number(4, 2);
  const int day = number(6, 2);
  if (year < 1 || month < 1 || month > 12 || day < 1) {
    return false;
  }
  static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
  return day <= kDays[month - 1] + ((month == 2 && leap) ? 1 : 0);
}

std::string FormatAmount(double value) {
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, "%.2f", value);
  return buffer;
}

ElementValues CollectValues(const pugi::xml_node& master, const std::string& label) {
  ElementValues values;
  std::vector<std::string> path;
  pugi::xml_node node = master.first_child();
  while (node && node != master) {
    if (node.type() == pugi::node_element) {
      path.emplace_back(node.name());
      pugi::xml_node first_element = node.find_child(
          [](const pugi::xml_node& child) { return child.type() == pugi::node_element; });
      if (first_element) {
        if (static_cast<int>(path.size()) >= kMaxValueDepth) {
          throw Rejection(label + ": values nested deeper than " + std::to_string(kMaxValueDepth) +
                          " levels");
        }
        node = node.first_child();
        continue;
      }
      std::string text = LeafText(node);
      if (!text.empty()) {
        std::string joined;
        for (const std::string& part : path) {
          joined += (joined.empty() ? "" : "/") + part;
        }
        values.emplace_back(std::move(joined), std::move(text));
      }
      path.pop_back();
    }
    // Next node in document order: the next sibling, or the next sibling of the nearest ancestor
    // that has one, below `master`.
    while (node != master && !node.next_sibling()) {
      node = node.parent();
      if (node != master && node.type() == pugi::node_element) {
        path.pop_back();
      }
    }
    if (node == master) {
      break;
    }
    node = node.next_sibling();
  }
  return values;
}

ElementValues MergeValues(const ElementValues& stored, const ElementValues& sent) {
  ElementValues merged = sent;
  for (const auto& value : stored) {
    const bool replaced = std::any_of(
        sent.begin(), sent.end(), [&](const auto& given) { return given.first == value.first; });
    if (!replaced) {
      merged.push_back(value);
    }
  }
  return merged;
}

}  // namespace lirvo::standin
