// modTallyIm: the master request builders. Each builder turns one master record into the XML text
// of a complete Tally "Import Data" request that creates, alters or deletes that master. Builders
// only build text; they never send it.
#pragma once

#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace modTallyIm {

// ---------------------------------------------------------------------------------------------
// Master records. Plain structures of text fields, filled by the caller and only read by the
// builders. An empty string is a value not given: its element is left out of the request.
// `OldName` is read only when the action is "Alter", for the master element's NAME attribute;
// `Name` is the master's name (its new name when altering).

struct UnitMaster {
  std::string OldName;
  std::string Name;
  std::string IsSimpleUnit;     // exactly "Yes" for a simple unit; anything else is compound
  std::string OriginalName;     // simple units only
  std::string DecimalPlaces;    // simple units only
  std::string BaseUnits;        // compound units only
  std::string AdditionalUnits;  // compound units only
  std::string Conversion;       // compound units only
};

struct LedgerMaster {
  std::string OldName;
  std::string Name;
  std::string AffectsStock;
  std::string AllowInMobile;
  std::string Audited;
  std::string CurrencyName;
  std::string ForPayroll;
  std::string ForServiceTax;
  std::string GstType;
  std::string InterestOnBillWise;
  std::string IgnoreTdsExempt;
  std::string IsBillWiseOn;
  std::string IsCostCentresOn;
  std::string IsCondensed;
  std::string IsExempted;
  std::string IsInterestOn;
  std::string IsInputCredit;
  std::string IsTcsApplicable;
  std::string IsTdsApplicable;
  std::string IsFbtApplicable;
  std::string IsGstApplicable;
  std::string LedgerFbtCategory;
  std::string OverrideInterest;
  std::string OverrideAdvInterest;
  std::string Parent;
  std::string PriceLevel;
  std::string ServiceCategory;
  std::string ShowInPayslip;
  std::string SortPosition;
  std::string TaxClassificationName;
  std::string TaxType;
  std::string TdsDeducteeType;
  std::string TdsRateName;
  std::string TdsDeducteeIsSpecialRate;
  std::string UseForGratuity;
  std::string UseForVat;
};

struct StockItemMaster {
  std::string OldName;
  std::string Name;
  std::string AdditionalUnits;
  std::string AllowUseOfExpiredItems;
  std::string BaseUnits;
  std::string BasicRateOfExcise;
  std::string Category;
  std::string CostingMethod;
  std::string Denominator;
  std::string ExciseItemClassification;
  std::string MinOrderAsHigher;
  std::string HasMfgDate;
  std::string IgnoreBatches;
  std::string IgnoreGodowns;
  std::string IgnoreNegativeStock;
  std::string IgnorePhysicalDifference;
  std::string IsBatchWiseOn;
  std::string IsCostCentresOn;
  std::string IsMrpInclOfTax;
  std::string IsPerishableOn;
  std::string ReorderAsHigher;
  std::string RateOfVat;
  std::string TaxClassificationName;
  std::string TreatSalesAsManufactured;
  std::string TreatPurchasesAsConsumed;
  std::string TreatRejectsAsScrap;
  std::string ValuationMethod;
  // The stock group it is under; empty: "Primary". Last, after the record's original fields, so
  // that a record written field by field in their order still fills the same fields.
  std::string Parent;
};

struct GodownMaster {
  std::string OldName;
  std::string Name;
  std::string Parent;
  std::string JobName;
  std::string HasNoSpace;
  std::string HasNoStock;
};

struct GroupMaster {
  std::string OldName;
  std::string Name;
  std::string Parent;
  std::string IsBillWiseOn;
  std::string IsCostCentreOn;
  std::string IsAddable;
  std::string IsSubLedger;
  std::string IsRevenue;
  std::string AffectsGrossProfit;
  std::string IsDeemedPositive;
  std::string TrackNegativeBalances;
  std::string IsCondensed;
  std::string AffectsStock;
  std::string SortPosition;
};

struct StockGroupMaster {
  std::string OldName;
  std::string Name;
  std::string Parent;
  std::string CostingMethod;
  std::string ValuationMethod;
  std::string BaseUnits;
  std::string AdditionalUnits;
  std::string IsBatchWiseOn;
  std::string IsPerishableOn;
  std::string IsAddable;
  std::string IgnorePhysicalDifference;
  std::string IgnoreNegativeStock;
  std::string TreatSalesAsManufactured;
  std::string TreatPurchasesAsConsumed;
  std::string TreatRejectsAsScrap;
  std::string HasMfgDate;
  std::string AllowUseOfExpiredItems;
  std::string IgnoreBatches;
  std::string IgnoreGodowns;
};

// ---------------------------------------------------------------------------------------------
// Builders. Each returns the XML text of the whole request (the import envelope for `company`
// with one TALLYMESSAGE holding the master element), as modTally::DocumentXml writes it: no XML
// declaration, no layout of its own. The master element carries NAME (the record's OldName when
// `action` is exactly "Alter", its Name otherwise) and ACTION (`action` unchanged). Values are
// written unchanged; the serializer escapes markup characters. Throws modTally::Failure when the
// request cannot be built; no text is returned then.

std::string BuildUnit(const std::string& company, const UnitMaster& unit,
                      const std::string& action);
std::string BuildLedger(const std::string& company, const LedgerMaster& ledger,
                        const std::string& action);
std::string BuildStockItem(const std::string& company, const StockItemMaster& stockItem,
                           const std::string& action);
std::string BuildGodown(const std::string& company, const GodownMaster& godown,
                        const std::string& action);
std::string BuildGroup(const std::string& company, const GroupMaster& group,
                       const std::string& action);
std::string BuildStockGroup(const std::string& company, const StockGroupMaster& stockGroup,
                            const std::string& action);

// ---------------------------------------------------------------------------------------------
// Sample requests: the nine builder calls the request console makes when it loads, in order
// (simple unit "Nos", compound unit "Doz of 12 Nos", group "My NewGroup", ledger "VAT OUTPUT 4%",
// stock group "ItemGroup1", stock item "BUSH", delete unit "Nos", godown "Location2" renamed
// "NumberLocation3", customer ledger renamed under "Sundry Debtors"). Each entry is a short
// description of the call (e.g. "BuildUnit Create \"Nos\"") and the request text it built for
// `company`. Throws modTally::Failure as the builders do.
std::vector<std::pair<std::string, std::string>> SampleRequests(const std::string& company);

// ---------------------------------------------------------------------------------------------
// Field names, for front ends that fill a record from names (the command line's --Field options).

// One field of a record: its name as spelled in the record, and the member it names.
template <class Record>
struct Field {
  std::string_view name;
  std::string Record::*member;
};

// Every field of `Record`, in the record's order. Defined for the six master records.
template <class Record>
std::span<const Field<Record>> FieldsOf();

template <>
std::span<const Field<UnitMaster>> FieldsOf<UnitMaster>();
template <>
std::span<const Field<LedgerMaster>> FieldsOf<LedgerMaster>();
template <>
std::span<const Field<StockItemMaster>> FieldsOf<StockItemMaster>();
template <>
std::span<const Field<GodownMaster>> FieldsOf<GodownMaster>();
template <>
std::span<const Field<GroupMaster>> FieldsOf<GroupMaster>();
template <>
std::span<const Field<StockGroupMaster>> FieldsOf<StockGroupMaster>();

}  // namespace modTallyIm
