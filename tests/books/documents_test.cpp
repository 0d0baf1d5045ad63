// Documents: each type's shape on the wire, the sign convention, the local checks, and the round
// trip from a document to its message, read back and compared.
#include <gtest/gtest.h>

#include <lirvo/books/document.h>

#include "parsed.h"

namespace {

using lirvo::test::Parsed;

using lirvo::books::Document;
using lirvo::books::DocumentType;
using lirvo::books::Line;

bool IsInvoiceView(DocumentType type) {
  return type != DocumentType::kReceipt && type != DocumentType::kPayment;
}

// A document of `type` with a value in every field: an item with its tax for the invoice view, the
// bank and a charge for a receipt or payment.
Document Sample(DocumentType type) {
  Document d{"V-1", type, "20250401", "INV/7", "PO <12> & co", "Rao & Sons", "first\nsecond", {}};
  if (IsInvoiceView(type)) {
    d.lines = {{"1", "Sales @ 5%", "Brass Lota", "Store 2", "2.5", "Nos", "400", "1000"},
               {"2", "Output GST", "", "", "", "", "", "50"},
               {"3", "Discount", "", "", "", "", "", "-20"}};
  } else {
    d.lines = {{"1", "State Bank", "", "", "", "", "", "990"},
               {"2", "Bank Charges", "", "", "", "", "", "10"}};
  }
  return d;
}

std::string At(const pugi::xml_node& node, const std::string& xpath) {
  const pugi::xpath_node found = node.select_node(xpath.c_str());
  return found.attribute() ? found.attribute().value() : modTally::NodeText(found.node());
}

struct ShapeCase {
  DocumentType type;
  const char* server_name;
  const char* kind_name;
  const char* view;
  const char* invoice;  // ISINVOICE
  const char* mode;     // VCHENTRYMODE, "" when none
  const char* order_no;
  const char* due_date;  // ORDERDUEDATE and its P attribute
  const char* tracking;
  const char* bill;  // the party's BILLTYPE and NAME
};

TEST(DocumentShape, EachTypeGoesInTheServersViewWithItsNumbers) {
  const ShapeCase cases[] = {
      {DocumentType::kSalesOrder, "Sales Order", "sales-orders", "Invoice Voucher View", "No", "",
       "INV/7", "20250401 1-Apr-25", "", "|"},
      {DocumentType::kDeliveryNote, "Delivery Note", "delivery-notes", "Invoice Voucher View", "No",
       "", "", " ", "INV/7", "|"},
      {DocumentType::kSales, "Sales", "sales", "Invoice Voucher View", "Yes", "Item Invoice", "",
       " ", "", "New Ref|PO <12> & co"},
      {DocumentType::kReceipt, "Receipt", "receipts", "Accounting Voucher View", "No", "", "", " ",
       "", "Agst Ref|PO <12> & co"},
      {DocumentType::kPurchaseOrder, "Purchase Order", "purchase-orders", "Invoice Voucher View",
       "No", "", "INV/7", "20250401 1-Apr-25", "", "|"},
      {DocumentType::kReceiptNote, "Receipt Note", "receipt-notes", "Invoice Voucher View", "No",
       "", "", " ", "INV/7", "|"},
      {DocumentType::kPurchase, "Purchase", "purchases", "Invoice Voucher View", "Yes",
       "Item Invoice", "", " ", "", "New Ref|PO <12> & co"},
      {DocumentType::kPayment, "Payment", "payments", "Accounting Voucher View", "No", "", "", " ",
       "", "Agst Ref|PO <12> & co"},
  };
  for (const ShapeCase& c : cases) {
    SCOPED_TRACE(c.server_name);
    EXPECT_EQ(lirvo::books::ServerName(c.type), c.server_name);
    EXPECT_EQ(lirvo::books::KindName(c.type), c.kind_name);
    EXPECT_EQ(lirvo::books::TypeOfServerName(std::string(" ") + c.server_name), c.type);
    EXPECT_EQ(lirvo::books::TypeOfKindName(c.kind_name), c.type);
    const pugi::xml_document xml = Parsed(lirvo::books::Message(Sample(c.type)));
    const pugi::xml_node v = xml.select_node("/TALLYMESSAGE/VOUCHER").node();
    EXPECT_EQ(At(v, "@REMOTEID"), "V-1");
    EXPECT_EQ(At(v, "@VCHTYPE"), c.server_name);
    EXPECT_EQ(At(v, "VOUCHERTYPENAME"), c.server_name);
    EXPECT_EQ(At(v, "@OBJVIEW"), c.view);
    EXPECT_EQ(At(v, "PERSISTEDVIEW"), c.view);
    EXPECT_EQ(At(v, "ISINVOICE"), c.invoice);
    EXPECT_EQ(At(v, "VCHENTRYMODE"), c.mode);
    EXPECT_EQ(At(v, "VOUCHERNUMBER"), "INV/7");
    EXPECT_EQ(At(v, "REFERENCE"), "PO <12> & co");
    EXPECT_EQ(At(v, "NARRATION"), "first\nsecond");
    const std::string batch = "ALLINVENTORYENTRIES.LIST/BATCHALLOCATIONS.LIST/";
    EXPECT_EQ(At(v, batch + "ORDERNO"), c.order_no);
    EXPECT_EQ(At(v, batch + "ORDERDUEDATE") + " " + At(v, batch + "ORDERDUEDATE/@P"), c.due_date);
    EXPECT_EQ(At(v, batch + "TRACKINGNUMBER"), c.tracking);
    const std::string party_bill = "//*[LEDGERNAME='Rao & Sons']/BILLALLOCATIONS.LIST/";
    EXPECT_EQ(At(v, party_bill + "BILLTYPE") + "|" + At(v, party_bill + "NAME"), c.bill);
    EXPECT_EQ(v.select_nodes("//BILLALLOCATIONS.LIST").size(),
              std::string(c.bill) == "|" ? 0U : 1U);
    if (IsInvoiceView(c.type)) {
      EXPECT_EQ(At(v, "PARTYLEDGERNAME"), "Rao & Sons");
      EXPECT_EQ(At(v, batch + "GODOWNNAME"), "Store 2");
      EXPECT_EQ(At(v, "ALLINVENTORYENTRIES.LIST/ACTUALQTY"), " 2.5 Nos");
      EXPECT_EQ(At(v, "ALLINVENTORYENTRIES.LIST/RATE"), "400/Nos");
      EXPECT_EQ(At(v, "ALLINVENTORYENTRIES.LIST/ACCOUNTINGALLOCATIONS.LIST/LEDGERNAME"),
                "Sales @ 5%");
      EXPECT_EQ(v.select_nodes("LEDGERENTRIES.LIST").size(), 3u);
      EXPECT_FALSE(v.child("ALLLEDGERENTRIES.LIST"));
    } else {
      // The cash or bank ledger (the first line) is the voucher's party ledger.
      EXPECT_EQ(At(v, "PARTYLEDGERNAME"), "State Bank");
      EXPECT_EQ(At(v, "ALLLEDGERENTRIES.LIST[ISPARTYLEDGER='Yes']/LEDGERNAME"), "State Bank");
      EXPECT_EQ(v.select_nodes("ALLLEDGERENTRIES.LIST").size(), 3u);
      EXPECT_FALSE(v.child("LEDGERENTRIES.LIST") || v.child("ALLINVENTORYENTRIES.LIST"));
    }
  }
}

// Without a number the VoucherID stands for it; without a reference an invoice's bill is named
// by its number and a receipt stands on account.
TEST(DocumentShape, NumberIsTheVoucherIdWhenTheSourceGivesNone) {
  Document d = Sample(DocumentType::kSalesOrder);
  d.number = " ";
  const pugi::xml_document xml = Parsed(lirvo::books::Message(d));
  EXPECT_EQ(At(xml, "//VOUCHERNUMBER"), "V-1");
  EXPECT_EQ(At(xml, "//ORDERNO"), "V-1");
  Document sale = Sample(DocumentType::kSales);
  sale.reference = "";
  EXPECT_EQ(At(Parsed(lirvo::books::Message(sale)), "//BILLALLOCATIONS.LIST/NAME"), "INV/7");
  Document receipt = Sample(DocumentType::kReceipt);
  receipt.reference = "";
  const pugi::xml_document on_account = Parsed(lirvo::books::Message(receipt));
  EXPECT_EQ(At(on_account, "//BILLALLOCATIONS.LIST/BILLTYPE"), "On Account");
  EXPECT_FALSE(on_account.select_node("//BILLALLOCATIONS.LIST/NAME"));
}

// The party's side and amount, and each line's, across the eight types: debit lines negative with
// ISDEEMEDPOSITIVE Yes, credit lines positive with No, a reducing line keeping its side's flag
// with the opposite sign; the voucher balances.
TEST(DocumentSigns, EachTypePutsItsLinesOnTheServersSide) {
  struct Case {
    DocumentType type;
    bool party_debit;
  };
  for (const Case& c : {Case{DocumentType::kSalesOrder, true},
                        {DocumentType::kDeliveryNote, true},
                        {DocumentType::kSales, true},
                        {DocumentType::kReceipt, false},
                        {DocumentType::kPurchaseOrder, false},
                        {DocumentType::kReceiptNote, false},
                        {DocumentType::kPurchase, false},
                        {DocumentType::kPayment, true}}) {
    SCOPED_TRACE(std::string(lirvo::books::ServerName(c.type)));
    const pugi::xml_document xml = Parsed(lirvo::books::Message(Sample(c.type)));
    const char* party_flag = c.party_debit ? "Yes" : "No";
    const char* line_flag = c.party_debit ? "No" : "Yes";
    const int line_sign = c.party_debit ? 1 : -1;
    const std::string party_entry = "//*[LEDGERNAME='Rao & Sons']/";
    EXPECT_EQ(At(xml, party_entry + "ISDEEMEDPOSITIVE"), party_flag);
    if (xml.select_node("//BILLALLOCATIONS.LIST")) {
      EXPECT_EQ(At(xml, party_entry + "BILLALLOCATIONS.LIST/AMOUNT"),
                At(xml, party_entry + "AMOUNT"));
    }
    if (IsInvoiceView(c.type)) {
      EXPECT_EQ(At(xml, party_entry + "AMOUNT"), c.party_debit ? "-1030" : "1030");
      EXPECT_EQ(At(xml, "//ALLINVENTORYENTRIES.LIST/ISDEEMEDPOSITIVE"), line_flag);
      EXPECT_EQ(At(xml, "//ALLINVENTORYENTRIES.LIST/AMOUNT"), std::to_string(line_sign * 1000));
      EXPECT_EQ(At(xml, "//ACCOUNTINGALLOCATIONS.LIST/ISDEEMEDPOSITIVE"), line_flag);
      EXPECT_EQ(At(xml, "//ACCOUNTINGALLOCATIONS.LIST/AMOUNT"), std::to_string(line_sign * 1000));
      EXPECT_EQ(At(xml, "//*[LEDGERNAME='Output GST']/AMOUNT"), std::to_string(line_sign * 50));
      EXPECT_EQ(At(xml, "//*[LEDGERNAME='Discount']/ISDEEMEDPOSITIVE"), line_flag);
      EXPECT_EQ(At(xml, "//*[LEDGERNAME='Discount']/AMOUNT"), std::to_string(-line_sign * 20));
    } else {
      EXPECT_EQ(At(xml, party_entry + "AMOUNT"), c.party_debit ? "-1000" : "1000");
      EXPECT_EQ(At(xml, "//*[LEDGERNAME='State Bank']/ISDEEMEDPOSITIVE"), line_flag);
      EXPECT_EQ(At(xml, "//*[LEDGERNAME='State Bank']/AMOUNT"), std::to_string(line_sign * 990));
    }
    double balance = 0;
    for (const pugi::xpath_node& amount :
         xml.select_nodes("//LEDGERENTRIES.LIST/AMOUNT | //ALLLEDGERENTRIES.LIST/AMOUNT | "
                          "//ALLINVENTORYENTRIES.LIST/AMOUNT")) {
      balance += std::stod(modTally::NodeText(amount.node()));
    }
    EXPECT_EQ(balance, 0);
  }
}

TEST(DocumentChecks, EachFaultIsNamedByVoucherLineAndColumn) {
  struct Case {
    const char* what;
    DocumentType type;
    void (*change)(Document&);
    const char* line;
    const char* column;
    const char* reason;
  };
  const Case cases[] = {
      {"no id", DocumentType::kSales, [](Document& d) { d.voucher_id = " "; }, "", "VoucherID",
       "no VoucherID"},
      {"30 February", DocumentType::kSales, [](Document& d) { d.date = "20250230"; }, "", "Date",
       "\"20250230\" is not a calendar date written YYYY-MM-DD or YYYYMMDD"},
      {"29 February 2100", DocumentType::kSales, [](Document& d) { d.date = "2100-02-29"; }, "",
       "Date", "not a calendar date"},
      {"no party", DocumentType::kSales, [](Document& d) { d.party = ""; }, "", "Party",
       "no party"},
      {"no lines", DocumentType::kPayment, [](Document& d) { d.lines.clear(); }, "", "VoucherLines",
       "no lines"},
      {"no ledger", DocumentType::kSales, [](Document& d) { d.lines[1].ledger = ""; }, "2",
       "Ledger", "no ledger"},
      {"no ledger, no line number", DocumentType::kSales,
       [](Document& d) { d.lines[1] = {"", "", "", "", "", "", "", "5"}; }, "#2", "Ledger",
       "no ledger"},
      {"amount with a comma", DocumentType::kSales,
       [](Document& d) { d.lines[0].amount = "1,000"; }, "1", "Amount",
       "\"1,000\" is not a number"},
      {"amount beyond the largest", DocumentType::kSales,
       [](Document& d) { d.lines[0].amount = "9223372036854775807"; }, "1", "Amount",
       "is too large: the largest number is 100000000000"},
      {"no amount", DocumentType::kReceipt, [](Document& d) { d.lines[1].amount = ""; }, "2",
       "Amount", "no amount"},
      {"quantity with its unit", DocumentType::kSales,
       [](Document& d) { d.lines[0].quantity = "2 kg"; }, "1", "Quantity", "is not a number"},
      {"rate", DocumentType::kSales, [](Document& d) { d.lines[0].rate = "1e3"; }, "1", "Rate",
       "is not a number"},
      {"quantity without unit", DocumentType::kSales, [](Document& d) { d.lines[0].unit = ""; },
       "1", "Unit", "without a Unit"},
      {"item without quantity", DocumentType::kSales, [](Document& d) { d.lines[0].quantity = ""; },
       "1", "Quantity", "needs a Quantity"},
      {"negative item", DocumentType::kSales, [](Document& d) { d.lines[0].amount = "-5"; }, "1",
       "Amount", "must not be negative"},
      {"item on a receipt", DocumentType::kReceipt, [](Document& d) { d.lines[1].item = "Lota"; },
       "2", "Item", "holds ledger lines only"},
      {"godown on a ledger line", DocumentType::kSales,
       [](Document& d) { d.lines[1].godown = "Store 2"; }, "2", "Godown",
       "Godown is given on a line without an Item"},
      {"an order without items", DocumentType::kPurchaseOrder,
       [](Document& d) { d.lines.erase(d.lines.begin()); }, "", "Item",
       "a Purchase Order needs at least one line with an Item"},
      {"a control character", DocumentType::kSales,
       [](Document& d) { d.lines[0].item = "Lota\x01"; }, "1", "Item", "control character 0x01"},
      {"a NUL in the party", DocumentType::kSales,
       [](Document& d) { d.party = std::string("Ram\0Lal", 7); }, "", "Party",
       "control character 0x00"},
      {"bytes that are not UTF-8", DocumentType::kReceipt,
       [](Document& d) { d.narration = "Caf\xC3"; }, "", "Narration",
       "is not UTF-8 text (from its byte 4)"},
      {"a surrogate written as UTF-8", DocumentType::kSales,
       [](Document& d) { d.lines[1].ledger = "Tax \xED\xA0\x80"; }, "2", "Ledger",
       "is not UTF-8 text"},
      {"lines that leave the party nothing", DocumentType::kPayment,
       [](Document& d) { d.lines[1].amount = "-990"; }, "", "Amount", "add up to 0"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Document d = Sample(c.type);
    c.change(d);
    const std::optional<lirvo::books::Problem> problem = lirvo::books::Check(d);
    ASSERT_TRUE(problem);
    EXPECT_EQ(problem->line, c.line);
    EXPECT_EQ(problem->column, c.column);
    EXPECT_NE(problem->reason.find(c.reason), std::string::npos) << problem->reason;
    try {
      lirvo::books::Message(d);
      ADD_FAILURE() << "built";
    } catch (const lirvo::books::DocumentFailure& failure) {
      EXPECT_EQ(failure.description(), problem->Text());
      EXPECT_EQ(failure.description().rfind("voucher " + d.voucher_id, 0), 0u);
    }
  }
  const lirvo::books::Problem unknown = lirvo::books::UnknownType("V-9", "Journal");
  EXPECT_EQ(unknown.Text().substr(0, 52), "voucher V-9, VoucherType: \"Journal\" is not a voucher");
  EXPECT_FALSE(lirvo::books::Check(Sample(DocumentType::kSales)));
}

TEST(DocumentChecks, SourceDates) {
  EXPECT_EQ(lirvo::books::SourceDate("20240229"), "20240229");
  EXPECT_EQ(lirvo::books::SourceDate(" 2025-04-01 00:00:00"), "20250401");
  EXPECT_EQ(lirvo::books::SourceDate("2025-03-31T23:59"), "20250331");
  for (const char* bad : {"20230229", "20251301", "20250400", "2025-4-01", "2025/04/01", "1-Apr-25",
                          "202504011", "", "2024a229", "2025-0x-01", "2025-04-01x", "20x5-04-01"}) {
    EXPECT_FALSE(lirvo::books::SourceDate(bad)) << bad;
  }
}

lirvo::books::BooksDocument RoundTrip(const Document& d) {
  const pugi::xml_document xml = Parsed(lirvo::books::Message(d));
  const auto books = lirvo::books::ReadDocument(xml.select_node("//VOUCHER").node());
  EXPECT_TRUE(books);
  return books.value_or(lirvo::books::BooksDocument{});
}

std::string Differences(const Document& source, const lirvo::books::BooksDocument& books) {
  std::string text;
  for (const auto& d : lirvo::books::Compare(source, books)) {
    text += d.field + ": " + d.source + " | " + d.books + "\n";
  }
  return text;
}

TEST(DocumentReadBack, EachTypeComesBackAsSent) {
  for (const DocumentType type : lirvo::books::kDocumentTypes) {
    SCOPED_TRACE(std::string(lirvo::books::ServerName(type)));
    const Document source = Sample(type);
    const lirvo::books::BooksDocument books = RoundTrip(source);
    EXPECT_EQ(Differences(source, books), "");
    EXPECT_EQ(books.document.voucher_id, "V-1");
    EXPECT_EQ(books.document.party, "Rao & Sons");
    EXPECT_EQ(books.party_amount, IsInvoiceView(type) ? "1030" : "1000");
  }
}

// A message many times the usual size (a long narration of characters to escape, hundreds of
// lines) comes back whole, appended after what its string already held.
TEST(DocumentReadBack, ALongDocumentComesBackWhole) {
  Document source = Sample(DocumentType::kSales);
  for (int i = 0; i < 2000; ++i) {
    source.narration += "a <b> & \"c\"\n";
  }
  source.narration += "end";  // read back trimmed, as every value
  const Line tax = source.lines.back();
  for (int i = 0; i < 300; ++i) {
    source.lines.push_back(tax);
    source.lines.back().line = std::to_string(100 + i);
    source.lines.back().amount = "0.25";
  }
  std::string out = "before";
  lirvo::books::AppendMessage(out, source);
  ASSERT_EQ(out.rfind("before<TALLYMESSAGE", 0), 0u);
  EXPECT_TRUE(out.ends_with("</VOUCHER></TALLYMESSAGE>"));
  const pugi::xml_document xml = Parsed(out.substr(6));
  const auto books = lirvo::books::ReadDocument(xml.select_node("//VOUCHER").node());
  ASSERT_TRUE(books);
  EXPECT_EQ(Differences(source, *books), "");
  const std::string& back = books->document.narration;
  const auto [at, _] =
      std::mismatch(back.begin(), back.end(), source.narration.begin(), source.narration.end());
  EXPECT_EQ(at - back.begin(), static_cast<long>(source.narration.size()))
      << back.size() << " " << back.substr(at - back.begin(), 40);
}

TEST(DocumentReadBack, DifferencesAreNamedInVerifysWords) {
  const Document source = Sample(DocumentType::kPurchase);
  lirvo::books::BooksDocument books = RoundTrip(source);
  books.document.date = "20250402";
  books.document.party = "rao & sons ";  // the server's way of comparing names: the same
  books.party_amount = "1030.004";       // within half a paisa: the same
  books.document.lines[0].quantity = "2.50";
  books.document.lines[0].unit = "Kg";
  books.document.lines[1].amount = "49";
  books.document.lines.pop_back();
  EXPECT_EQ(Differences(source, books),
            "date: 20250401 | 20250402\n"
            "ledger entries: 2 | 1\n"
            "line 1 quantity: 2.5 Nos | 2.50 Kg\n"
            "line 2 amount: 50 | 49\n");
}

// A purchase as the server exports it: TYPE attributes, blanks before numbers, the party line in
// both ledger lists and the purchase ledger restated with its INVENTORYALLOCATIONS.LIST.
TEST(DocumentReadBack, TheServersExportShape) {
  const char* exported = R"(<VOUCHER REMOTEID=" V-1" VCHTYPE="Purchase" ACTION="Create">
    <DATE TYPE="Date">20250401</DATE><PARTYLEDGERNAME TYPE="String">&#4; Rao &amp; Sons</PARTYLEDGERNAME>
    <REFERENCE>PO &lt;12&gt; &amp; co</REFERENCE><NARRATION>first&#10;second</NARRATION>
    <ALLINVENTORYENTRIES.LIST><STOCKITEMNAME>Brass Lota</STOCKITEMNAME>
      <RATE TYPE="Rate">400.00/Nos</RATE><AMOUNT TYPE="Amount">-1000.00</AMOUNT>
      <ACTUALQTY TYPE="Quantity"> 2.50 Nos</ACTUALQTY>
      <BATCHALLOCATIONS.LIST><GODOWNNAME>Store 2</GODOWNNAME></BATCHALLOCATIONS.LIST>
      <ACCOUNTINGALLOCATIONS.LIST><LEDGERNAME>Sales @ 5%</LEDGERNAME><AMOUNT>-1000.00</AMOUNT>
      </ACCOUNTINGALLOCATIONS.LIST></ALLINVENTORYENTRIES.LIST>
    <LEDGERENTRIES.LIST><LEDGERNAME>Rao &amp; Sons</LEDGERNAME><ISDEEMEDPOSITIVE>No</ISDEEMEDPOSITIVE>
      <ISPARTYLEDGER>Yes</ISPARTYLEDGER><AMOUNT> 1030.00</AMOUNT></LEDGERENTRIES.LIST>
    <LEDGERENTRIES.LIST><LEDGERNAME>Output GST</LEDGERNAME><AMOUNT>-50.00</AMOUNT></LEDGERENTRIES.LIST>
    <LEDGERENTRIES.LIST><LEDGERNAME>Discount</LEDGERNAME><ISDEEMEDPOSITIVE>Yes</ISDEEMEDPOSITIVE>
      <AMOUNT>20.00</AMOUNT></LEDGERENTRIES.LIST>
    <ALLLEDGERENTRIES.LIST><LEDGERNAME>Rao &amp; Sons</LEDGERNAME><AMOUNT>1030.00</AMOUNT>
    </ALLLEDGERENTRIES.LIST><ALLLEDGERENTRIES.LIST><LEDGERNAME>Sales @ 5%</LEDGERNAME>
      <AMOUNT>-1000.00</AMOUNT><INVENTORYALLOCATIONS.LIST/></ALLLEDGERENTRIES.LIST></VOUCHER>)";
  const pugi::xml_document xml = Parsed(exported);
  const auto books = lirvo::books::ReadDocument(xml.document_element());
  ASSERT_TRUE(books);
  EXPECT_EQ(Differences(Sample(DocumentType::kPurchase), *books), "");

  // Without LEDGERENTRIES.LIST the accounting view is read, the restated ledger left out.
  pugi::xml_document accounting = Parsed(exported);
  while (accounting.document_element().remove_child("LEDGERENTRIES.LIST")) {
  }
  const auto from_all = lirvo::books::ReadDocument(accounting.document_element());
  ASSERT_TRUE(from_all);
  EXPECT_EQ(from_all->party_amount, "1030");
  EXPECT_EQ(from_all->document.lines.size(), 1u);

  const pugi::xml_document journal = Parsed(R"(<VOUCHER VCHTYPE="Journal"/>)");
  EXPECT_FALSE(lirvo::books::ReadDocument(journal.document_element()));
}

}  // namespace
