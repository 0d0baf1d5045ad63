// build KIND: prints the import request that a master builder makes of a record given as options.
#include <algorithm>
#include <array>
#include <iostream>
#include <span>

#include <lirvo/modTallyIm.h>

#include "commands.h"

namespace lirvo::cli {

namespace {

using namespace modTallyIm;

// A record field reachable as the option "--<name>".
template <class Record>
struct Field {
  std::string_view name;
  std::string Record::*member;
};

// Spells the field's name once, so the option and the member cannot drift apart.
#define LIRVO_FIELD(Record, member) \
  Field<Record> {                   \
#member, &Record::member        \
  }

constexpr std::array kUnitFields = {
    LIRVO_FIELD(UnitMaster, OldName),         LIRVO_FIELD(UnitMaster, Name),
    LIRVO_FIELD(UnitMaster, IsSimpleUnit),    LIRVO_FIELD(UnitMaster, OriginalName),
    LIRVO_FIELD(UnitMaster, DecimalPlaces),   LIRVO_FIELD(UnitMaster, BaseUnits),
    LIRVO_FIELD(UnitMaster, AdditionalUnits), LIRVO_FIELD(UnitMaster, Conversion),
};

constexpr std::array kLedgerFields = {
    LIRVO_FIELD(LedgerMaster, OldName),
    LIRVO_FIELD(LedgerMaster, Name),
    LIRVO_FIELD(LedgerMaster, AffectsStock),
    LIRVO_FIELD(LedgerMaster, AllowInMobile),
    LIRVO_FIELD(LedgerMaster, Audited),
    LIRVO_FIELD(LedgerMaster, CurrencyName),
    LIRVO_FIELD(LedgerMaster, ForPayroll),
    LIRVO_FIELD(LedgerMaster, ForServiceTax),
    LIRVO_FIELD(LedgerMaster, GstType),
    LIRVO_FIELD(LedgerMaster, InterestOnBillWise),
    LIRVO_FIELD(LedgerMaster, IgnoreTdsExempt),
    LIRVO_FIELD(LedgerMaster, IsBillWiseOn),
    LIRVO_FIELD(LedgerMaster, IsCostCentresOn),
    LIRVO_FIELD(LedgerMaster, IsCondensed),
    LIRVO_FIELD(LedgerMaster, IsExempted),
    LIRVO_FIELD(LedgerMaster, IsInterestOn),
    LIRVO_FIELD(LedgerMaster, IsInputCredit),
    LIRVO_FIELD(LedgerMaster, IsTcsApplicable),
    LIRVO_FIELD(LedgerMaster, IsTdsApplicable),
    LIRVO_FIELD(LedgerMaster, IsFbtApplicable),
    LIRVO_FIELD(LedgerMaster, IsGstApplicable),
    LIRVO_FIELD(LedgerMaster, LedgerFbtCategory),
    LIRVO_FIELD(LedgerMaster, OverrideInterest),
    LIRVO_FIELD(LedgerMaster, OverrideAdvInterest),
    LIRVO_FIELD(LedgerMaster, Parent),
    LIRVO_FIELD(LedgerMaster, PriceLevel),
    LIRVO_FIELD(LedgerMaster, ServiceCategory),
    LIRVO_FIELD(LedgerMaster, ShowInPayslip),
    LIRVO_FIELD(LedgerMaster, SortPosition),
    LIRVO_FIELD(LedgerMaster, TaxClassificationName),
    LIRVO_FIELD(LedgerMaster, TaxType),
    LIRVO_FIELD(LedgerMaster, TdsDeducteeType),
    LIRVO_FIELD(LedgerMaster, TdsRateName),
    LIRVO_FIELD(LedgerMaster, TdsDeducteeIsSpecialRate),
    LIRVO_FIELD(LedgerMaster, UseForGratuity),
    LIRVO_FIELD(LedgerMaster, UseForVat),
};

constexpr std::array kStockItemFields = {
    LIRVO_FIELD(StockItemMaster, OldName),
    LIRVO_FIELD(StockItemMaster, Name),
    LIRVO_FIELD(StockItemMaster, AdditionalUnits),
    LIRVO_FIELD(StockItemMaster, AllowUseOfExpiredItems),
    LIRVO_FIELD(StockItemMaster, BaseUnits),
    LIRVO_FIELD(StockItemMaster, BasicRateOfExcise),
    LIRVO_FIELD(StockItemMaster, Category),
    LIRVO_FIELD(StockItemMaster, CostingMethod),
    LIRVO_FIELD(StockItemMaster, Denominator),
    LIRVO_FIELD(StockItemMaster, ExciseItemClassification),
    LIRVO_FIELD(StockItemMaster, MinOrderAsHigher),
    LIRVO_FIELD(StockItemMaster, HasMfgDate),
    LIRVO_FIELD(StockItemMaster, IgnoreBatches),
    LIRVO_FIELD(StockItemMaster, IgnoreGodowns),
    LIRVO_FIELD(StockItemMaster, IgnoreNegativeStock),
    LIRVO_FIELD(StockItemMaster, IgnorePhysicalDifference),
    LIRVO_FIELD(StockItemMaster, IsBatchWiseOn),
    LIRVO_FIELD(StockItemMaster, IsCostCentresOn),
    LIRVO_FIELD(StockItemMaster, IsMrpInclOfTax),
    LIRVO_FIELD(StockItemMaster, IsPerishableOn),
    LIRVO_FIELD(StockItemMaster, ReorderAsHigher),
    LIRVO_FIELD(StockItemMaster, RateOfVat),
    LIRVO_FIELD(StockItemMaster, TaxClassificationName),
    LIRVO_FIELD(StockItemMaster, TreatSalesAsManufactured),
    LIRVO_FIELD(StockItemMaster, TreatPurchasesAsConsumed),
    LIRVO_FIELD(StockItemMaster, TreatRejectsAsScrap),
    LIRVO_FIELD(StockItemMaster, ValuationMethod),
};

constexpr std::array kGodownFields = {
    LIRVO_FIELD(GodownMaster, OldName),    LIRVO_FIELD(GodownMaster, Name),
    LIRVO_FIELD(GodownMaster, Parent),     LIRVO_FIELD(GodownMaster, JobName),
    LIRVO_FIELD(GodownMaster, HasNoSpace), LIRVO_FIELD(GodownMaster, HasNoStock),
};

constexpr std::array kGroupFields = {
    LIRVO_FIELD(GroupMaster, OldName),
    LIRVO_FIELD(GroupMaster, Name),
    LIRVO_FIELD(GroupMaster, Parent),
    LIRVO_FIELD(GroupMaster, IsBillWiseOn),
    LIRVO_FIELD(GroupMaster, IsCostCentreOn),
    LIRVO_FIELD(GroupMaster, IsAddable),
    LIRVO_FIELD(GroupMaster, IsSubLedger),
    LIRVO_FIELD(GroupMaster, IsRevenue),
    LIRVO_FIELD(GroupMaster, AffectsGrossProfit),
    LIRVO_FIELD(GroupMaster, IsDeemedPositive),
    LIRVO_FIELD(GroupMaster, TrackNegativeBalances),
    LIRVO_FIELD(GroupMaster, IsCondensed),
    LIRVO_FIELD(GroupMaster, AffectsStock),
    LIRVO_FIELD(GroupMaster, SortPosition),
};

constexpr std::array kStockGroupFields = {
    LIRVO_FIELD(StockGroupMaster, OldName),
    LIRVO_FIELD(StockGroupMaster, Name),
    LIRVO_FIELD(StockGroupMaster, Parent),
    LIRVO_FIELD(StockGroupMaster, CostingMethod),
    LIRVO_FIELD(StockGroupMaster, ValuationMethod),
    LIRVO_FIELD(StockGroupMaster, BaseUnits),
    LIRVO_FIELD(StockGroupMaster, AdditionalUnits),
    LIRVO_FIELD(StockGroupMaster, IsBatchWiseOn),
    LIRVO_FIELD(StockGroupMaster, IsPerishableOn),
    LIRVO_FIELD(StockGroupMaster, IsAddable),
    LIRVO_FIELD(StockGroupMaster, IgnorePhysicalDifference),
    LIRVO_FIELD(StockGroupMaster, IgnoreNegativeStock),
    LIRVO_FIELD(StockGroupMaster, TreatSalesAsManufactured),
    LIRVO_FIELD(StockGroupMaster, TreatPurchasesAsConsumed),
    LIRVO_FIELD(StockGroupMaster, TreatRejectsAsScrap),
    LIRVO_FIELD(StockGroupMaster, HasMfgDate),
    LIRVO_FIELD(StockGroupMaster, AllowUseOfExpiredItems),
    LIRVO_FIELD(StockGroupMaster, IgnoreBatches),
    LIRVO_FIELD(StockGroupMaster, IgnoreGodowns),
};

#undef LIRVO_FIELD

// A record is nothing but its string fields, so a field added to a record and forgotten here
// fails the build instead of becoming an option nobody can set.
template <class Record, std::size_t N>
constexpr bool Covers(const std::array<Field<Record>, N>&) {
  return sizeof(Record) == N * sizeof(std::string);
}
static_assert(Covers(kUnitFields) && Covers(kLedgerFields) && Covers(kStockItemFields) &&
              Covers(kGodownFields) && Covers(kGroupFields) && Covers(kStockGroupFields));

template <class Record>
using Builder = std::string (*)(const std::string&, const Record&, const std::string&);

template <class Record>
void PrintFields(std::ostream& out, std::string_view kind, std::span<const Field<Record>> fields) {
  out << "usage: lirvo build " << kind
      << " [--company NAME] [--action Create|Alter|Delete] [--FIELD VALUE]...\n\nfields:";
  for (const Field<Record>& field : fields) {
    out << " " << field.name;
  }
  out << '\n';
}

// Reads "--option value" or "--option=value" pairs into the record, then builds and prints.
template <class Record>
int BuildKind(std::string_view kind, std::span<const Field<Record>> fields, Builder<Record> build,
              const Args& args) {
  Record record;
  std::string company;
  std::string action = "Create";
  std::vector<std::string> seen;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (arg == "--help" || arg == "-h") {
      PrintFields(std::cout, kind, fields);
      return kExitOk;
    }
    if (arg.size() <= 2 || arg.compare(0, 2, "--") != 0) {
      return UsageError("build " + std::string(kind) +
                        ": expected an option \"--NAME VALUE\", got \"" + arg + "\"");
    }
    const std::size_t equals = arg.find('=');
    const std::string option = arg.substr(2, equals == std::string::npos ? equals : equals - 2);
    std::string value;
    if (equals != std::string::npos) {
      value = arg.substr(equals + 1);
    } else if (i + 1 < args.size()) {
      value = args[++i];
    } else {
      return UsageError("build " + std::string(kind) + ": option \"--" + option +
                        "\" needs a value");
    }
    if (std::find(seen.begin(), seen.end(), option) != seen.end()) {
      return UsageError("build " + std::string(kind) + ": option \"--" + option +
                        "\" is given twice");
    }
    seen.push_back(option);

    if (option == "company") {
      company = std::move(value);
      continue;
    }
    if (option == "action") {
      action = std::move(value);
      continue;
    }
    const auto field = std::find_if(fields.begin(), fields.end(),
                                    [&](const Field<Record>& f) { return f.name == option; });
    if (field == fields.end()) {
      return UsageError("build " + std::string(kind) + ": unknown field \"--" + option +
                        "\" (see lirvo build " + std::string(kind) + " --help for its fields)");
    }
    record.*(field->member) = std::move(value);
  }
  std::cout << build(company, record, action) << '\n';
  return kExitOk;
}

struct Kind {
  std::string_view name;
  int (*run)(std::string_view kind, const Args& args);
};

constexpr std::array kKinds = {
    Kind{"unit",
         [](std::string_view kind, const Args& args) {
           return BuildKind<UnitMaster>(kind, kUnitFields, &BuildUnit, args);
         }},
    Kind{"ledger",
         [](std::string_view kind, const Args& args) {
           return BuildKind<LedgerMaster>(kind, kLedgerFields, &BuildLedger, args);
         }},
    Kind{"stockitem",
         [](std::string_view kind, const Args& args) {
           return BuildKind<StockItemMaster>(kind, kStockItemFields, &BuildStockItem, args);
         }},
    Kind{"godown",
         [](std::string_view kind, const Args& args) {
           return BuildKind<GodownMaster>(kind, kGodownFields, &BuildGodown, args);
         }},
    Kind{"group",
         [](std::string_view kind, const Args& args) {
           return BuildKind<GroupMaster>(kind, kGroupFields, &BuildGroup, args);
         }},
    Kind{"stockgroup",
         [](std::string_view kind, const Args& args) {
           return BuildKind<StockGroupMaster>(kind, kStockGroupFields, &BuildStockGroup, args);
         }},
};

std::string KindList() {
  std::string list;
  for (const Kind& kind : kKinds) {
    list += (list.empty() ? "" : ", ") + std::string(kind.name);
  }
  return list;
}

}  // namespace

int Build(const Args& args) {
  if (args.empty()) {
    return UsageError("build needs a kind of master: one of " + KindList());
  }
  const std::string& name = args.front();
  if (name == "--help" || name == "-h") {
    std::cout << "usage: lirvo build KIND [--company NAME] [--action ACTION] [--FIELD VALUE]...\n"
                 "kinds: "
              << KindList() << "\n(lirvo build KIND --help lists the fields of KIND)\n";
    return kExitOk;
  }
  for (const Kind& kind : kKinds) {
    if (kind.name == name) {
      return kind.run(kind.name, Args(args.begin() + 1, args.end()));
    }
  }
  return UsageError("build: unknown kind of master \"" + name + "\"; it must be one of " +
                    KindList());
}

}  // namespace lirvo::cli
