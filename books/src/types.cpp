// The eight document types: their names and how each goes on the wire.
#include <lirvo/text.h>

#include "internal.h"

namespace lirvo::books {

namespace detail {

namespace {

// THE SIGN CONVENTION. A source writes every amount as a positive number. Each type puts the
// source's lines on one side of the voucher and the party on the other, with the balance of the
// lines as its amount:
//
//   type                                        lines (items, their ledgers, taxes)   party
//   Sales Order, Delivery Note, Sales           credit                                debit
//   Purchase Order, Receipt Note, Purchase      debit                                 credit
//   Receipt  (lines: the cash or bank ledger)   debit                                 credit
//   Payment  (lines: the cash or bank ledger)   credit                                debit
//
// On the wire a debit is a negative AMOUNT with ISDEEMEDPOSITIVE Yes, a credit a positive AMOUNT
// with No. A negative amount in the source is a line that reduces its voucher (a discount on a
// sale, a deduction from a receipt): it keeps its side's ISDEEMEDPOSITIVE and goes with the
// opposite sign, as the server's own exports write such lines. The lines must leave the party an
// amount above zero. So a sale of 1000 with 50 tax and a discount of 20 goes as: item 1000 and
// tax 50 (positive, No), discount -20 (negative, No), party -1030 (Yes).
//
// A receipt's or payment's Party is the customer, supplier or expense; its first line names the
// cash or bank ledger, which the server keeps as PARTYLEDGERNAME with ISPARTYLEDGER Yes.
//
// The views, lists and flags follow the server's own exports (invoices, orders and notes in the
// invoice view, receipts and payments in the accounting view); the sides of Receipt Note,
// Delivery Note and Sales Order are taken from their invoices (exports seen: Sales, Purchase
// Order, Payment; the others unconfirmed).
constexpr Shape kShapes[] = {
    {DocumentType::kSalesOrder, "Sales Order", "sales-orders", View::kInvoice, Side::kCredit, false,
     true, false},
    {DocumentType::kDeliveryNote, "Delivery Note", "delivery-notes", View::kInvoice, Side::kCredit,
     false, false, true},
    {DocumentType::kSales, "Sales", "sales", View::kInvoice, Side::kCredit, true, false, false},
    {DocumentType::kReceipt, "Receipt", "receipts", View::kAccounting, Side::kDebit, false, false,
     false},
    {DocumentType::kPurchaseOrder, "Purchase Order", "purchase-orders", View::kInvoice,
     Side::kDebit, false, true, false},
    {DocumentType::kReceiptNote, "Receipt Note", "receipt-notes", View::kInvoice, Side::kDebit,
     false, false, true},
    {DocumentType::kPurchase, "Purchase", "purchases", View::kInvoice, Side::kDebit, true, false,
     false},
    {DocumentType::kPayment, "Payment", "payments", View::kAccounting, Side::kCredit, false, false,
     false},
};

}  // namespace

const Shape& ShapeOf(DocumentType type) {
  for (const Shape& shape : kShapes) {
    if (shape.type == type) {
      return shape;
    }
  }
  return kShapes[2];  // not reached: every type has its row
}

bool SameName(std::string_view a, std::string_view b) {
  return text::EqualsNoCase(text::Trim(a), text::Trim(b));
}

}  // namespace detail

std::string_view ServerName(DocumentType type) {
  return detail::ShapeOf(type).server_name;
}

std::string_view KindName(DocumentType type) {
  return detail::ShapeOf(type).kind_name;
}

std::optional<DocumentType> TypeOfServerName(std::string_view name) {
  for (const DocumentType type : kDocumentTypes) {
    if (detail::SameName(name, ServerName(type))) {
      return type;
    }
  }
  return std::nullopt;
}

std::optional<DocumentType> TypeOfKindName(std::string_view name) {
  for (const DocumentType type : kDocumentTypes) {
    if (detail::SameName(name, KindName(type))) {
      return type;
    }
  }
  return std::nullopt;
}

}  // namespace lirvo::books
