// DataToTally: the six phases that move SalesMst into the server, masters first, then vouchers.
#include <optional>

#include <lirvo/books/judge.h>
#include <lirvo/books/sales.h>
#include <lirvo/books/send.h>
#include <lirvo/modTallyIm.h>
#include <lirvo/salesdb.h>
#include <lirvo/transfer.h>

namespace lirvo::transfer {

using access::FieldValue;
using access::Recordset;
using access::SalesDatabase;
using books::BuildSalesVoucher;
using books::CountSentObjects;
using books::ImportOutcome;
using books::ImportVerdict;
using books::JudgeImport;
using books::ReadSalesRow;
using books::SalesRow;
using books::SendRequest;

namespace {

using modTally::Failure;
namespace FailureNumber = modTally::FailureNumber;

constexpr std::size_t kRejectionTextsKept = 10;

// Posts one request of the transfer and notes what the server did with it.
void Post(const modTally::Server& server, const std::string& request, const std::string& where,
          TransferResult& result) {
  const modTally::Reply reply = SendRequest(server, request);
  ++result.posted;
  const ImportVerdict verdict = JudgeImport(reply, CountSentObjects(request));
  if (verdict.outcome != ImportOutcome::kAccepted) {
    ++result.rejected;
    if (result.rejections.size() < kRejectionTextsKept) {
      result.rejections.push_back(where + ": " + verdict.reason);
    }
  }
}

[[noreturn]] void Stop(const Failure& failure, const std::string& where,
                       const TransferResult& result) {
  throw TransferStopped(failure, where, result.posted);
}

std::string Unit(const std::string& company, const std::string& value) {
  modTallyIm::UnitMaster unit;
  unit.Name = value;
  unit.IsSimpleUnit = "Yes";
  unit.OriginalName = value;
  unit.DecimalPlaces = "2";
  return modTallyIm::BuildUnit(company, unit, "Create");
}

modTallyIm::LedgerMaster Ledger(const std::string& value, const char* parent) {
  modTallyIm::LedgerMaster ledger;
  ledger.OldName = value;
  ledger.Name = value;
  ledger.Parent = parent;
  return ledger;
}

std::string Customer(const std::string& company, const std::string& value) {
  return modTallyIm::BuildLedger(company, Ledger(value, "Sundry Debtors"), "Alter");
}

std::string SalesAccount(const std::string& company, const std::string& value) {
  return modTallyIm::BuildLedger(company, Ledger(value, "Sales Accounts"), "Alter");
}

std::string TaxAccount(const std::string& company, const std::string& value) {
  // Tax ledgers go under the same group as the sales ledgers.
  return modTallyIm::BuildLedger(company, Ledger(value, "Sales Accounts"), "Alter");
}

std::string StockItem(const std::string& company, const std::string& value) {
  modTallyIm::StockItemMaster item;
  item.Name = value;
  item.BaseUnits = "Nos";
  item.CostingMethod = "Avg. Cost";
  item.ValuationMethod = "Avg. Price";
  item.Denominator = "1";
  return modTallyIm::BuildStockItem(company, item, "Create");
}

constexpr MasterPhase kMasterPhases[] = {
    {"Creaing Units", "Unit", "units", &Unit},
    {"Creaing Customer Ledgers", "PartyName", "customer ledgers", &Customer},
    {"Creaing Sales Acounts", "SalesLedger", "sales ledgers", &SalesAccount},
    {"Creaing Tax Acounts", "TaxAc", "tax ledgers", &TaxAccount},
    {"Creaing Items", "ItemName", "stock items", &StockItem},
};

constexpr const char* kTable = "SalesMst";

std::string Row(const char* what, int row) {
  return std::string(what) + ", row " + std::to_string(row);
}

void Show(const StatFn& stat, const std::string& message) {
  if (stat) {
    stat(message);
  }
}

}  // namespace

std::span<const MasterPhase> MasterPhases() {
  return kMasterPhases;
}

std::filesystem::path DefaultDatabasePath() {
  std::error_code error;
  const std::filesystem::path executable = std::filesystem::read_symlink("/proc/self/exe", error);
  if (error || executable.empty()) {
    return "SampleData.mdb";
  }
  return executable.parent_path() / "SampleData.mdb";
}

TransferStopped::TransferStopped(const Failure& cause, const std::string& where, int posted)
    : Failure(cause, (where.empty() ? std::string("the transfer stopped before sending "
                                                  "anything: ")
                                    : "the transfer stopped at " + where + ": ") +
                         cause.description()),
      posted_(posted) {}

// Long: the six phases in the order they run, clearer whole.
TransferResult DataToTally(const modTally::Server& server, const std::string& company,
                           const StatFn& stat, const std::filesystem::path& database) {
  TransferResult result;
  if (company.empty()) {
    Stop(Failure(FailureNumber::kValue, "there is no company to send to (the server at " +
                                            modTally::ShownUrl(server.url) +
                                            " named no current company)"),
         "", result);
  }
  std::optional<SalesDatabase> db;
  try {
    db.emplace(database);
  } catch (const Failure& failure) {
    Stop(failure, "", result);
  }

  for (const MasterPhase& phase : MasterPhases()) {
    Show(stat, phase.heading);
    const std::string prefix = std::string(phase.heading) + " - ";
    std::optional<Recordset> values;
    try {
      values.emplace(db->Open(std::string("Select DISTINCT ") + phase.column + " from " + kTable));
    } catch (const Failure& failure) {
      Stop(failure, phase.what, result);
    }
    const long count = values->RecordCount();
    for (int i = 0; i < count && i < kRowLimit; ++i) {
      Show(stat, prefix + std::to_string(i + 1));
      const std::string where = Row(phase.what, i + 1);
      try {
        const FieldValue& value = values->Field(phase.column);
        if (!value) {
          throw Failure(FailureNumber::kValue, std::string(phase.column) + " is null in " + kTable +
                                                   " of " + database.string() +
                                                   ", and a master needs a name");
        }
        Post(server, phase.build(company, *value), where + " (\"" + *value + "\")", result);
        values->MoveNext();
      } catch (const Failure& failure) {
        Stop(failure, where, result);
      }
    }
  }

  // The vouchers: no heading of their own, one per row.
  const char* const what = "sales vouchers";
  std::optional<Recordset> rows;
  try {
    rows.emplace(db->Open(std::string("Select * from ") + kTable));
  } catch (const Failure& failure) {
    Stop(failure, what, result);
  }
  const long count = rows->RecordCount();
  for (int i = 0; i < count && i < kRowLimit; ++i) {
    Show(stat, "Creaing Sales Vouchers - " + std::to_string(i + 1));
    std::string where = Row(what, i + 1);
    try {
      const SalesRow row = ReadSalesRow(*rows);
      if (row.VoucherID) {
        where += " (voucher \"" + *row.VoucherID + "\")";
      }
      Post(server, BuildSalesVoucher(row, company), where, result);
      rows->MoveNext();
    } catch (const Failure& failure) {
      Stop(failure, where, result);
    }
  }
  return result;
}

TransferResult DataToTally(const std::string& company, const StatFn& stat,
                           const std::filesystem::path& database) {
  std::optional<modTally::Server> server;
  try {
    server.emplace(modTally::Server::At(modTally::TallyUrl));
  } catch (const Failure& failure) {
    Stop(failure, "", {});
  }
  return DataToTally(*server, company, stat, database);
}

std::string StopMessage(const Failure& failure) {
  const auto* const stopped = dynamic_cast<const TransferStopped*>(&failure);
  if (stopped == nullptr) {
    return "The transfer stopped: " + failure.description();
  }
  std::string message = failure.description();
  if (!message.empty() && message[0] >= 'a' && message[0] <= 'z') {
    message[0] = static_cast<char>(message[0] - 'a' + 'A');
  }
  if (stopped->posted() == 0) {
    return message + "\n\nNothing was sent to Tally.";
  }
  if (stopped->posted() == 1) {
    return message + "\n\nThe one request sent before it stopped stays in Tally.";
  }
  return message + "\n\nThe " + std::to_string(stopped->posted()) +
         " requests sent before it stopped stay in Tally.";
}

std::string FinalMessage(const TransferResult& result) {
  if (result.rejected == 0) {
    return kSuccessMessage;
  }
  std::string message = "The server rejected " + std::to_string(result.rejected) + " of the " +
                        std::to_string(result.posted) +
                        " requests sent, so not all of the data is in Tally:";
  for (const std::string& rejection : result.rejections) {
    message += "\n- " + rejection;
  }
  const auto untold = static_cast<std::size_t>(result.rejected) - result.rejections.size();
  if (result.rejected > 0 && untold > 0) {
    message += "\n- and " + std::to_string(untold) + " more";
  }
  return message;
}

}  // namespace lirvo::transfer
