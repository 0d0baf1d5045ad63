// The field names of the six master records, spelled once each from the members themselves.
#include <array>

#include "lirvo/modTallyIm.h"

namespace modTallyIm {

namespace {

// clang-format off
#define LIRVO_FIELD(Record, member) Field<Record>{#member, &Record::member}
// clang-format on

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
    LIRVO_FIELD(StockItemMaster, Parent),
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
// fails the build instead of becoming a field nobody can set by name.
template <class Record, std::size_t N>
constexpr bool Covers(const std::array<Field<Record>, N>&) {
  return sizeof(Record) == N * sizeof(std::string);
}
static_assert(Covers(kUnitFields) && Covers(kLedgerFields) && Covers(kStockItemFields) &&
              Covers(kGodownFields) && Covers(kGroupFields) && Covers(kStockGroupFields));

}  // namespace

template <>
std::span<const Field<UnitMaster>> FieldsOf<UnitMaster>() {
  return kUnitFields;
}
template <>
std::span<const Field<LedgerMaster>> FieldsOf<LedgerMaster>() {
  return kLedgerFields;
}
template <>
std::span<const Field<StockItemMaster>> FieldsOf<StockItemMaster>() {
  return kStockItemFields;
}
template <>
std::span<const Field<GodownMaster>> FieldsOf<GodownMaster>() {
  return kGodownFields;
}
template <>
std::span<const Field<GroupMaster>> FieldsOf<GroupMaster>() {
  return kGroupFields;
}
template <>
std::span<const Field<StockGroupMaster>> FieldsOf<StockGroupMaster>() {
  return kStockGroupFields;
}

}  // namespace modTallyIm
