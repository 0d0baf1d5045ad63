// The six master builders: one shared frame, and per master the element name and the table of
// child elements in wire order.
#include <array>
#include <span>
#include <string_view>

#include <lirvo/modTally.h>

#include "lirvo/master_message.h"
#include "lirvo/modTallyIm.h"

namespace modTallyIm {

namespace {

enum class Written {
  kIfSet,   // only when the field is not empty
  kAlways,  // in every request, with text only when the field is not empty
};

// One child element of a master element.
template <class Record>
struct Row {
  const char* element;
  std::string Record::*field;  // nullptr: no field feeds the element (it is always empty)
  Written written;
};

// Whether the master ends with NAME.LIST holding NAME (every master but the unit).
enum class NameList { kNone, kLast };

constexpr auto kIfSet = Written::kIfSet;
constexpr auto kAlways = Written::kAlways;

// `text` with control characters shown as '?', so that it can stand in a message.
std::string Printable(std::string text) {
  for (char& c : text) {
    if (static_cast<unsigned char>(c) < 0x20) {
      c = '?';
    }
  }
  return text;
}

// What sets one master apart in the frame: its element, its rows in order, its name list.
template <class Record>
struct Shape {
  const char* element;
  std::span<const Row<Record>> rows;
  NameList name_list;
};

// Appends `value` escaped as pugixml escapes what it saves, as the envelope around it is: &, < and
// > as entities in character data; &, < and the double quote in an attribute; control characters
// as two-digit character references, but for tabs and line breaks in character data, which stay
// as they are. A NUL cannot travel in XML and fails.
void AppendEscaped(std::string& out, std::string_view value, bool attribute, const char* what,
                   const char* name) {
  std::size_t run = 0;
  for (std::size_t i = 0; i < value.size(); ++i) {
    const auto c = static_cast<unsigned char>(value[i]);
    std::string_view entity;
    char reference[] = "&#00;";
    if (c == '&') {
      entity = "&amp;";
    } else if (c == '<') {
      entity = "&lt;";
    } else if (c == '>' && !attribute) {
      entity = "&gt;";
    } else if (c == '"' && attribute) {
      entity = "&quot;";
    } else if (c == 0) {
      throw modTally::Failure(modTally::FailureNumber::kDocument,
                              std::string("cannot write ") + what + " \"" + name +
                                  "\": its value holds a NUL character");
    } else if (c < 0x20 && (attribute || (c != '\t' && c != '\n' && c != '\r'))) {
      reference[2] = static_cast<char>('0' + c / 10);
      reference[3] = static_cast<char>('0' + c % 10);
      entity = reference;
    } else {
      continue;
    }
    out.append(value.substr(run, i - run)).append(entity);
    run = i + 1;
  }
  out.append(value.substr(run));
}

// The TALLYMESSAGE holding the master element, with its NAME and ACTION attributes, the rows in
// order, then the name list; written straight to text: a source's masters are thousands, and a
// document for each costs ten times the writing.
template <class Record>
std::string BuildMessage(const Record& record, const std::string& action,
                         const Shape<Record>& shape) {
  std::string out = "<TALLYMESSAGE xmlns:UDF=\"TallyUDF\"><";
  out.append(shape.element).append(" NAME=\"");
  AppendEscaped(out, action == "Alter" ? record.OldName : record.Name, true, "attribute", "NAME");
  out.append("\" ACTION=\"");
  AppendEscaped(out, action, true, "attribute", "ACTION");
  out.append("\">");
  const std::size_t empty_size = out.size();
  const auto element = [&out](const char* name, const std::string& value) {
    out.append("<").append(name);
    if (value.empty()) {
      out.append("/>");
      return;
    }
    out.append(">");
    AppendEscaped(out, value, false, "element", name);
    out.append("</").append(name).append(">");
  };
  for (const Row<Record>& row : shape.rows) {
    static const std::string kNoValue;
    const std::string& value = row.field != nullptr ? record.*row.field : kNoValue;
    if (row.written == Written::kAlways || !value.empty()) {
      element(row.element, value);
    }
  }
  if (shape.name_list == NameList::kLast) {
    if (record.Name.empty()) {
      out.append("<NAME.LIST/>");
    } else {
      out.append("<NAME.LIST>");
      element("NAME", record.Name);
      out.append("</NAME.LIST>");
    }
  }
  if (out.size() == empty_size) {  // a master element without children closes itself
    out.insert(out.size() - 1, "/");
  } else {
    out.append("</").append(shape.element).append(">");
  }
  out.append("</TALLYMESSAGE>");
  return out;
}

// The frame shared by every builder: the envelope with the message in its REQUESTDATA.
template <class Record>
std::string BuildMaster(const std::string& company, const Record& record, const std::string& action,
                        const Shape<Record>& shape) {
  // The envelope's REQUESTDATA is empty and its last element: the company's text before it is
  // escaped, so cannot hold a tag. An envelope that did not load (a NUL in the company) is empty.
  std::string request = modTally::DocumentXml(modTally::CreateImportEnvelope(company));
  constexpr std::string_view kEmpty = "<REQUESTDATA/>";
  const std::size_t at = request.rfind(kEmpty);
  if (at == std::string::npos) {
    throw modTally::Failure(modTally::FailureNumber::kDocument,
                            std::string("cannot build the ") + shape.element +
                                " request: the company name \"" + Printable(company) +
                                "\" did not give an import envelope with a REQUESTDATA element");
  }
  request.replace(at, kEmpty.size(),
                  "<REQUESTDATA>" + BuildMessage(record, action, shape) + "</REQUESTDATA>");
  return request;
}

using U = UnitMaster;
constexpr auto kSimpleUnitRows = std::to_array<Row<U>>({
    {"NAME", &U::Name, kIfSet},
    {"ISSIMPLEUNIT", &U::IsSimpleUnit, kIfSet},
    {"ORIGINALNAME", &U::OriginalName, kIfSet},
    {"DECIMALPLACES", &U::DecimalPlaces, kIfSet},
});
constexpr auto kCompoundUnitRows = std::to_array<Row<U>>({
    {"NAME", &U::Name, kIfSet},
    {"ISSIMPLEUNIT", &U::IsSimpleUnit, kIfSet},
    {"BASEUNITS", &U::BaseUnits, kIfSet},
    {"ADDITIONALUNITS", &U::AdditionalUnits, kIfSet},
    {"CONVERSION", &U::Conversion, kIfSet},
});

using L = LedgerMaster;
constexpr auto kLedgerRows = std::to_array<Row<L>>({
    {"ADDITIONALNAME", &L::Name, kIfSet},
    {"ADDRESS.LIST", nullptr, kAlways},
    {"CURRENCYNAME", &L::CurrencyName, kIfSet},
    {"PRICELEVEL", &L::PriceLevel, kIfSet},
    {"PARENT", &L::Parent, kIfSet},
    {"TAXCLASSIFICATIONNAME", &L::TaxClassificationName, kIfSet},
    {"TAXTYPE", &L::TaxType, kIfSet},
    {"GSTTYPE", &L::GstType, kIfSet},
    {"SERVICECATEGORY", &L::ServiceCategory, kIfSet},
    {"TDSDEDUCTEETYPE", &L::TdsDeducteeType, kIfSet},
    {"TDSRATENAME", &L::TdsRateName, kIfSet},
    {"LEDGERFBTCATEGORY", &L::LedgerFbtCategory, kIfSet},
    {"ISBILLWISEON", &L::IsBillWiseOn, kIfSet},
    {"ISCOSTCENTRESON", &L::IsCostCentresOn, kIfSet},
    {"ISINTERESTON", &L::IsInterestOn, kIfSet},
    {"ALLOWINMOBILE", &L::AllowInMobile, kIfSet},
    {"ISCONDENSED", &L::IsCondensed, kIfSet},
    {"AFFECTSSTOCK", &L::AffectsStock, kIfSet},
    {"FORPAYROLL", &L::ForPayroll, kIfSet},
    {"INTERESTONBILLWISE", &L::InterestOnBillWise, kIfSet},
    {"OVERRIDEINTEREST", &L::OverrideInterest, kIfSet},
    {"OVERRIDEADVINTEREST", &L::OverrideAdvInterest, kIfSet},
    {"USEFORVAT", &L::UseForVat, kIfSet},
    {"IGNORETDSEXEMPT", &L::IgnoreTdsExempt, kIfSet},
    {"ISTCSAPPLICABLE", &L::IsTcsApplicable, kIfSet},
    {"ISTDSAPPLICABLE", &L::IsTdsApplicable, kIfSet},
    {"ISFBTAPPLICABLE", &L::IsFbtApplicable, kIfSet},
    {"ISGSTAPPLICABLE", &L::IsGstApplicable, kIfSet},
    {"SHOWINPAYSLIP", &L::ShowInPayslip, kIfSet},
    {"USEFORGRATUITY", &L::UseForGratuity, kIfSet},
    {"FORSERVICETAX", &L::ForServiceTax, kIfSet},
    {"ISINPUTCREDIT", &L::IsInputCredit, kIfSet},
    {"ISEXEMPTED", &L::IsExempted, kIfSet},
    {"TDSDEDUCTEEISSPECIALRATE", &L::TdsDeducteeIsSpecialRate, kIfSet},
    {"AUDITED", &L::Audited, kIfSet},
    {"SORTPOSITION", &L::SortPosition, kIfSet},
});

using S = StockItemMaster;
constexpr auto kStockItemRows = std::to_array<Row<S>>({
    {"PARENT", &S::Parent, kIfSet},
    {"CATEGORY", &S::Category, kIfSet},
    {"TAXCLASSIFICATIONNAME", &S::TaxClassificationName, kIfSet},
    {"COSTINGMETHOD", &S::CostingMethod, kIfSet},
    {"VALUATIONMETHOD", &S::ValuationMethod, kIfSet},
    {"BASEUNITS", &S::BaseUnits, kIfSet},
    {"ADDITIONALUNITS", &S::AdditionalUnits, kIfSet},
    {"EXCISEITEMCLASSIFICATION", &S::ExciseItemClassification, kIfSet},
    {"ISCOSTCENTRESON", &S::IsCostCentresOn, kIfSet},
    {"ISBATCHWISEON", &S::IsBatchWiseOn, kIfSet},
    {"ISPERISHABLEON", &S::IsPerishableOn, kIfSet},
    {"IGNOREPHYSICALDIFFERENCE", &S::IgnorePhysicalDifference, kIfSet},
    {"IGNORENEGATIVESTOCK", &S::IgnoreNegativeStock, kIfSet},
    {"TREATSALESASMANUFACTURED", &S::TreatSalesAsManufactured, kIfSet},
    {"TREATPURCHASESASCONSUMED", &S::TreatPurchasesAsConsumed, kIfSet},
    {"TREATREJECTSASSCRAP", &S::TreatRejectsAsScrap, kIfSet},
    {"HASMFGDATE", &S::HasMfgDate, kIfSet},
    {"ALLOWUSEOFEXPIREDITEMS", &S::AllowUseOfExpiredItems, kIfSet},
    {"IGNOREBATCHES", &S::IgnoreBatches, kIfSet},
    {"IGNOREGODOWNS", &S::IgnoreGodowns, kIfSet},
    {"ISMRPINCLOFTAX", &S::IsMrpInclOfTax, kIfSet},
    {"REORDERASHIGHER", &S::ReorderAsHigher, kIfSet},
    {"MINORDERASHIGHER", &S::MinOrderAsHigher, kIfSet},
    {"DENOMINATOR", &S::Denominator, kIfSet},
    {"BASICRATEOFEXCISE", &S::BasicRateOfExcise, kIfSet},
    {"RATEOFVAT", &S::RateOfVat, kIfSet},
});

using D = GodownMaster;
constexpr auto kGodownRows = std::to_array<Row<D>>({
    {"PARENT", &D::Parent, kIfSet},
    {"JOBNAME", &D::JobName, kIfSet},
    {"HASNOSPACE", &D::HasNoSpace, kIfSet},
    {"HASNOSTOCK", &D::HasNoStock, kIfSet},
});

// The group writes SORTPOSITION before AFFECTSSTOCK and ISCOSTCENTREON (singular) last.
using G = GroupMaster;
constexpr auto kGroupRows = std::to_array<Row<G>>({
    {"PARENT", &G::Parent, kIfSet},
    {"ISBILLWISEON", &G::IsBillWiseOn, kIfSet},
    {"ISADDABLE", &G::IsAddable, kIfSet},
    {"ISSUBLEDGER", &G::IsSubLedger, kIfSet},
    {"ISREVENUE", &G::IsRevenue, kIfSet},
    {"AFFECTSGROSSPROFIT", &G::AffectsGrossProfit, kIfSet},
    {"ISDEEMEDPOSITIVE", &G::IsDeemedPositive, kIfSet},
    {"TRACKNEGATIVEBALANCES", &G::TrackNegativeBalances, kIfSet},
    {"ISCONDENSED", &G::IsCondensed, kIfSet},
    {"SORTPOSITION", &G::SortPosition, kIfSet},
    {"AFFECTSSTOCK", &G::AffectsStock, kIfSet},
    {"ISCOSTCENTREON", &G::IsCostCentreOn, kIfSet},
});

using K = StockGroupMaster;
constexpr auto kStockGroupRows = std::to_array<Row<K>>({
    {"PARENT", &K::Parent, kIfSet},
    {"COSTINGMETHOD", &K::CostingMethod, kIfSet},
    {"VALUATIONMETHOD", &K::ValuationMethod, kIfSet},
    {"BASEUNITS", &K::BaseUnits, kIfSet},
    {"ADDITIONALUNITS", &K::AdditionalUnits, kIfSet},
    {"ISBATCHWISEON", &K::IsBatchWiseOn, kIfSet},
    {"ISPERISHABLEON", &K::IsPerishableOn, kIfSet},
    {"ISADDABLE", &K::IsAddable, kIfSet},
    {"IGNOREPHYSICALDIFFERENCE", &K::IgnorePhysicalDifference, kIfSet},
    {"IGNORENEGATIVESTOCK", &K::IgnoreNegativeStock, kIfSet},
    {"TREATSALESASMANUFACTURED", &K::TreatSalesAsManufactured, kIfSet},
    {"TREATPURCHASESASCONSUMED", &K::TreatPurchasesAsConsumed, kIfSet},
    {"TREATREJECTSASSCRAP", &K::TreatRejectsAsScrap, kIfSet},
    {"HASMFGDATE", &K::HasMfgDate, kIfSet},
    {"ALLOWUSEOFEXPIREDITEMS", &K::AllowUseOfExpiredItems, kIfSet},
    {"IGNOREBATCHES", &K::IgnoreBatches, kIfSet},
    {"IGNOREGODOWNS", &K::IgnoreGodowns, kIfSet},
});

// Case-sensitive: "yes" makes a compound unit.
Shape<U> ShapeOf(const UnitMaster& unit) {
  return {"UNIT",
          unit.IsSimpleUnit == "Yes" ? std::span<const Row<U>>(kSimpleUnitRows)
                                     : std::span<const Row<U>>(kCompoundUnitRows),
          NameList::kNone};
}
Shape<L> ShapeOf(const LedgerMaster&) {
  return {"LEDGER", kLedgerRows, NameList::kLast};
}
Shape<S> ShapeOf(const StockItemMaster&) {
  return {"STOCKITEM", kStockItemRows, NameList::kLast};
}
Shape<D> ShapeOf(const GodownMaster&) {
  return {"GODOWN", kGodownRows, NameList::kLast};
}
Shape<G> ShapeOf(const GroupMaster&) {
  return {"GROUP", kGroupRows, NameList::kLast};
}
Shape<K> ShapeOf(const StockGroupMaster&) {
  return {"STOCKGROUP", kStockGroupRows, NameList::kLast};
}

}  // namespace

std::string BuildUnit(const std::string& company, const UnitMaster& unit,
                      const std::string& action) {
  return BuildMaster(company, unit, action, ShapeOf(unit));
}

std::string BuildLedger(const std::string& company, const LedgerMaster& ledger,
                        const std::string& action) {
  return BuildMaster(company, ledger, action, ShapeOf(ledger));
}

std::string BuildStockItem(const std::string& company, const StockItemMaster& stockItem,
                           const std::string& action) {
  return BuildMaster(company, stockItem, action, ShapeOf(stockItem));
}

std::string BuildGodown(const std::string& company, const GodownMaster& godown,
                        const std::string& action) {
  return BuildMaster(company, godown, action, ShapeOf(godown));
}

std::string BuildGroup(const std::string& company, const GroupMaster& group,
                       const std::string& action) {
  return BuildMaster(company, group, action, ShapeOf(group));
}

std::string BuildStockGroup(const std::string& company, const StockGroupMaster& stockGroup,
                            const std::string& action) {
  return BuildMaster(company, stockGroup, action, ShapeOf(stockGroup));
}

std::string MasterMessage(const UnitMaster& unit, const std::string& action) {
  return BuildMessage(unit, action, ShapeOf(unit));
}
std::string MasterMessage(const LedgerMaster& ledger, const std::string& action) {
  return BuildMessage(ledger, action, ShapeOf(ledger));
}
std::string MasterMessage(const StockItemMaster& stockItem, const std::string& action) {
  return BuildMessage(stockItem, action, ShapeOf(stockItem));
}
std::string MasterMessage(const GodownMaster& godown, const std::string& action) {
  return BuildMessage(godown, action, ShapeOf(godown));
}
std::string MasterMessage(const GroupMaster& group, const std::string& action) {
  return BuildMessage(group, action, ShapeOf(group));
}
std::string MasterMessage(const StockGroupMaster& stockGroup, const std::string& action) {
  return BuildMessage(stockGroup, action, ShapeOf(stockGroup));
}

}  // namespace modTallyIm
