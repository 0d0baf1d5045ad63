// The sample calls the request console makes of every builder when it loads.
#include "lirvo/modTallyIm.h"

namespace modTallyIm {

// Long: the nine sample requests listed in order, data more than logic.
std::vector<std::pair<std::string, std::string>> SampleRequests(const std::string& company) {
  std::vector<std::pair<std::string, std::string>> requests;
  requests.reserve(9);

  UnitMaster simple_unit;
  simple_unit.Name = "Nos";
  simple_unit.IsSimpleUnit = "Yes";
  simple_unit.OriginalName = "Nos";
  simple_unit.DecimalPlaces = "2";
  requests.emplace_back("BuildUnit Create \"Nos\"", BuildUnit(company, simple_unit, "Create"));

  UnitMaster compound_unit;
  compound_unit.Name = "Doz of 12 Nos";
  compound_unit.IsSimpleUnit = "No";
  compound_unit.BaseUnits = "Nos";
  compound_unit.AdditionalUnits = "Doz";
  compound_unit.Conversion = "12";
  requests.emplace_back("BuildUnit Create \"Doz of 12 Nos\"",
                        BuildUnit(company, compound_unit, "Create"));

  GroupMaster group;
  group.Name = "My NewGroup";
  group.IsCondensed = "Yes";
  for (std::string* flag :
       {&group.IsBillWiseOn, &group.IsCostCentreOn, &group.IsAddable, &group.IsSubLedger,
        &group.IsRevenue, &group.AffectsGrossProfit, &group.IsDeemedPositive,
        &group.TrackNegativeBalances, &group.AffectsStock}) {
    *flag = "No";
  }
  requests.emplace_back("BuildGroup Create \"My NewGroup\"", BuildGroup(company, group, "Create"));

  LedgerMaster tax_ledger;
  tax_ledger.Name = "VAT OUTPUT 4%";
  tax_ledger.Parent = "Sundry Creditors";
  tax_ledger.IsBillWiseOn = "Yes";
  for (std::string* flag :
       {&tax_ledger.AffectsStock, &tax_ledger.AllowInMobile, &tax_ledger.ForPayroll,
        &tax_ledger.InterestOnBillWise, &tax_ledger.IgnoreTdsExempt, &tax_ledger.IsCostCentresOn,
        &tax_ledger.IsCondensed, &tax_ledger.IsInterestOn, &tax_ledger.IsTcsApplicable,
        &tax_ledger.IsTdsApplicable, &tax_ledger.IsFbtApplicable, &tax_ledger.IsGstApplicable,
        &tax_ledger.OverrideInterest, &tax_ledger.OverrideAdvInterest, &tax_ledger.UseForVat}) {
    *flag = "No";
  }
  requests.emplace_back("BuildLedger Create \"VAT OUTPUT 4%\"",
                        BuildLedger(company, tax_ledger, "Create"));

  StockGroupMaster stock_group;
  stock_group.Name = "ItemGroup1";
  stock_group.CostingMethod = "Avg. Cost";
  stock_group.ValuationMethod = "Avg. Price";
  requests.emplace_back("BuildStockGroup Create \"ItemGroup1\"",
                        BuildStockGroup(company, stock_group, "Create"));

  StockItemMaster item;
  item.Name = "BUSH";
  item.BaseUnits = "Nos";
  item.CostingMethod = "Avg. Cost";
  item.ValuationMethod = "Avg. Price";
  item.Denominator = "1";
  item.BasicRateOfExcise = "4";
  item.RateOfVat = "4";
  requests.emplace_back("BuildStockItem Create \"BUSH\"", BuildStockItem(company, item, "Create"));

  UnitMaster unit_to_delete;
  unit_to_delete.Name = "Nos";
  requests.emplace_back("BuildUnit Delete \"Nos\"", BuildUnit(company, unit_to_delete, "Delete"));

  GodownMaster godown;
  godown.OldName = "Location2";
  godown.Name = "NumberLocation3";
  requests.emplace_back("BuildGodown Alter \"Location2\" to \"NumberLocation3\"",
                        BuildGodown(company, godown, "Alter"));

  LedgerMaster customer;
  customer.OldName = "Ramesh Bhai";
  customer.Name = "Ramesh Patel";
  customer.Parent = "Sundry Debtors";
  requests.emplace_back("BuildLedger Alter \"Ramesh Bhai\" to \"Ramesh Patel\"",
                        BuildLedger(company, customer, "Alter"));

  return requests;
}

}  // namespace modTallyIm
