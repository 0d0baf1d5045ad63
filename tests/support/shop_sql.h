// A shop's masters (a unit, seven ledgers, a stock item) and the tables of its documents, still
// empty, as SQL that SQLite and PostgreSQL both take: the tests that read a shop add documents.
#pragma once

namespace lirvo::test {

inline constexpr const char* kShopTables =
    "CREATE TABLE Units (Name TEXT); INSERT INTO Units VALUES ('Nos');"
    "CREATE TABLE Ledgers (Name TEXT, Parent TEXT); INSERT INTO Ledgers VALUES ('Anand "
    "Hardware', 'Sundry Debtors'), ('Sales @ 4%', 'Sales Accounts'), ('Output VAT', 'Duties & "
    "Taxes'), ('Purchases', 'Purchase Accounts'), ('Supplier Co', 'Sundry Creditors'), ('HDFC "
    "Bank', 'Bank Accounts'), ('Rent', 'Indirect Expenses');"
    "CREATE TABLE StockItems (Name TEXT, BaseUnits TEXT); INSERT INTO StockItems VALUES ('LED "
    "Bulb', 'Nos');"
    "CREATE TABLE Vouchers (VoucherID TEXT, VoucherType TEXT, Date TEXT, Number TEXT, Party "
    "TEXT);"
    "CREATE TABLE VoucherLines (VoucherID TEXT, Line INTEGER, Ledger TEXT, Item TEXT, Quantity "
    "NUMERIC, Unit TEXT, Rate NUMERIC, Amount NUMERIC);";

}  // namespace lirvo::test
