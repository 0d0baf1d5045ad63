-- The sample source: a small electricals wholesaler in the source layout (README, "The source
-- layout"). scripts/sample-source imports SampleData.mdb's SalesMst as the table SampleSales, then
-- runs this: the twelve sales become Vouchers and VoucherLines, the names they use become masters,
-- and hand-made masters of all six kinds and documents of all eight types are added, dated over the
-- financial years 2016-17 and 2017-18. Every value is fixed: the file is the same on every build.
--
-- Amounts are positive, as the layout wants them; a discount is a negative line.

BEGIN;

-- ---------------------------------------------------------------------------------------------
-- Masters, one table per kind; a child is listed before its parent where it has one in the same
-- table, which the feed's ordering has to put right.

CREATE TABLE Units (Name TEXT NOT NULL, IsSimpleUnit TEXT, DecimalPlaces TEXT, BaseUnits TEXT,
                    AdditionalUnits TEXT, Conversion TEXT);
INSERT INTO Units (Name, IsSimpleUnit, DecimalPlaces)
  SELECT DISTINCT Unit, 'Yes', CASE WHEN Unit IN ('Kgs', 'Mtr') THEN '2' ELSE '0' END
  FROM SampleSales ORDER BY Unit;
INSERT INTO Units VALUES
  ('Doz of 12 Nos', 'No', NULL, 'Nos', 'Doz', '12'),
  ('Doz', 'Yes', '0', NULL, NULL, NULL);

CREATE TABLE Godowns (Name TEXT NOT NULL, Parent TEXT);
INSERT INTO Godowns VALUES
  ('Pune Warehouse Bay 2', 'Pune Warehouse'),
  ('Pune Warehouse', NULL),
  ('Showroom', 'Main Location');

CREATE TABLE LedgerGroups (Name TEXT NOT NULL, Parent TEXT, IsBillWiseOn TEXT);
INSERT INTO LedgerGroups VALUES
  ('Pune Customers', 'Retail Customers', 'No'),
  ('Retail Customers', 'Sundry Debtors', 'No'),
  ('Local Suppliers', 'Sundry Creditors', 'No'),
  ('Office Expenses', 'Indirect Expenses', NULL);

CREATE TABLE Ledgers (Name TEXT NOT NULL, Parent TEXT, IsBillWiseOn TEXT);
INSERT INTO Ledgers
  SELECT DISTINCT PartyName,
         CASE WHEN PartyName IN ('Deccan Power Systems', 'Gokul Enterprises')
              THEN 'Pune Customers' ELSE 'Retail Customers' END, 'No'
  FROM SampleSales ORDER BY PartyName;
INSERT INTO Ledgers SELECT DISTINCT SalesLedger, 'Sales Accounts', NULL
  FROM SampleSales ORDER BY SalesLedger;
INSERT INTO Ledgers SELECT DISTINCT TaxAc, 'Duties & Taxes', NULL FROM SampleSales ORDER BY TaxAc;
INSERT INTO Ledgers VALUES
  ('श्री गणेश ट्रेडर्स', 'Pune Customers', 'No'),
  ('Havells Distributors', 'Local Suppliers', 'No'),
  ('Polycab Traders', 'Local Suppliers', 'No'),
  ('Crompton Agencies', 'Local Suppliers', 'No'),
  ('Purchases @ 5%', 'Purchase Accounts', NULL),
  ('Input VAT @ 5%', 'Duties & Taxes', NULL),
  ('HDFC Bank', 'Bank Accounts', NULL),
  ('Office Rent', 'Office Expenses', NULL),
  ('Electricity Charges', 'Office Expenses', NULL),
  ('Bank Charges', 'Indirect Expenses', NULL),
  ('Discount Allowed', 'Indirect Expenses', NULL);

CREATE TABLE StockGroups (Name TEXT NOT NULL, Parent TEXT);
INSERT INTO StockGroups VALUES
  ('Lighting', 'Electricals'),
  ('Fans', 'Electricals'),
  ('Electricals', NULL),
  ('Wiring', 'Electricals'),
  ('Switchgear', 'Electricals'),
  ('Accessories', '');

-- The items of the sample sales and four more, each under its stock group, with the rates the
-- generated documents use.
CREATE TEMP TABLE catalogue (n INTEGER PRIMARY KEY, name TEXT, grp TEXT, unit TEXT, rate TEXT,
                             additional_units TEXT);
INSERT INTO catalogue (name, grp, unit, rate, additional_units) VALUES
  ('Cable Tie 200mm', 'Accessories', 'Pcs', '1.20', NULL),
  ('Ceiling Fan 48in', 'Fans', 'Nos', '1450.00', NULL),
  ('Copper Wire 1.5 sq mm', 'Wiring', 'Mtr', '18.40', NULL),
  ('Distribution Box 8 Way', 'Switchgear', 'Box', '845.50', NULL),
  ('LED Bulb 9W', 'Lighting', 'Nos', '95.00', NULL),
  ('Insulation Tape', 'Accessories', 'Pcs', '14.75', NULL),
  ('MCB 32A Double Pole', 'Switchgear', 'Box', '2160.00', NULL),
  ('Solder Wire 500g', 'Wiring', 'Kgs', '640.00', NULL),
  ('PVC Conduit Pipe 20mm', 'Wiring', 'Mtr', '22.75', NULL),
  ('Switch Board 6 Module', 'Switchgear', 'Pcs', '135.50', NULL),
  ('Extension Cord 5m', 'Wiring', 'Nos', '310.25', NULL),
  ('Tube Light 20W', 'Lighting', 'Nos', '180.00', NULL),
  ('Exhaust Fan 12in', 'Fans', 'Nos', '1275.00', NULL),
  ('Wall Socket 16A', 'Switchgear', 'Nos', '64.50', 'Doz'),
  ('Fan Regulator', 'Fans', 'Nos', '240.00', NULL);

CREATE TABLE StockItems (Name TEXT NOT NULL, Parent TEXT, BaseUnits TEXT, AdditionalUnits TEXT);
INSERT INTO StockItems SELECT name, grp, unit, additional_units FROM catalogue ORDER BY n;

-- ---------------------------------------------------------------------------------------------
-- Documents

CREATE TABLE Vouchers (VoucherID TEXT NOT NULL, VoucherType TEXT NOT NULL, Date TEXT NOT NULL,
                       Number TEXT, Reference TEXT, Party TEXT, Narration TEXT);
CREATE TABLE VoucherLines (VoucherID TEXT NOT NULL, Line INTEGER, Ledger TEXT, Item TEXT,
                           Godown TEXT, Quantity TEXT, Unit TEXT, Rate TEXT, Amount TEXT NOT NULL);

-- SampleData.mdb's sales: the item on line 1 under its sales ledger, the tax on line 2.
INSERT INTO Vouchers SELECT VoucherID, 'Sales', date(VoucherDate), NULL, RefNo, PartyName, NULL
  FROM SampleSales ORDER BY VoucherID;
INSERT INTO VoucherLines
  SELECT VoucherID, 1, SalesLedger, ItemName, NULL, Qty, Unit, Rate, Amount
  FROM SampleSales
  UNION ALL
  SELECT VoucherID, 2, TaxAc, NULL, NULL, NULL, NULL, NULL,
         printf('%.2f', round(Amount * TaxPer / 100, 2))
  FROM SampleSales
  ORDER BY 1, 2;

-- Who the generated documents are with.
CREATE TEMP TABLE customers (n INTEGER PRIMARY KEY, name TEXT);
INSERT INTO customers (name) SELECT Name FROM Ledgers
  WHERE Parent IN ('Retail Customers', 'Pune Customers') ORDER BY rowid;
CREATE TEMP TABLE suppliers (n INTEGER PRIMARY KEY, name TEXT);
INSERT INTO suppliers (name) SELECT Name FROM Ledgers WHERE Parent = 'Local Suppliers'
  ORDER BY rowid;

-- 24 documents of each type, n = 1 to 24, one about every 27 days from April 2016 to December
-- 2017; each type starts on a day of its own. The items, parties, quantities and godowns turn
-- with n. `kind` is each type's prefix.
CREATE TEMP TABLE plan AS
  WITH RECURSIVE k(n) AS (SELECT 1 UNION ALL SELECT n + 1 FROM k WHERE n < 24),
  kinds(kind, type, start, tax) AS (VALUES
    ('SO', 'Sales Order', 2, 0), ('DN', 'Delivery Note', 4, 0), ('SI', 'Sales', 6, 1),
    ('RC', 'Receipt', 9, 0), ('PO', 'Purchase Order', 11, 0), ('RN', 'Receipt Note', 13, 0),
    ('PI', 'Purchase', 15, 1), ('PY', 'Payment', 20, 0))
  SELECT kind, type, n, kind || '-' || printf('%04d', n) AS id,
         date('2016-04-01', '+' || ((n - 1) * 27 + start) || ' days') AS day,
         1 + (n * 5 + start) % 15 AS item,
         1 + (n * 7 + start) % 15 AS second_item,
         1 + (n * 3 + start) % 9 AS customer,
         1 + (n + start) % 3 AS supplier,
         1 + (n * 2 + start) % 9 AS quantity
  FROM k, kinds;

-- Sales Orders, Delivery Notes and Sales go to customers, the other inventory types come from
-- suppliers, receipts from customers, and payments to suppliers or for expenses.
INSERT INTO Vouchers
  SELECT p.id, p.type, p.day,
         CASE p.kind WHEN 'SO' THEN 'SO/' || p.n WHEN 'PO' THEN 'PO/' || p.n
                     WHEN 'DN' THEN 'DN/' || p.n WHEN 'RN' THEN 'RN/' || p.n END,
         CASE p.kind WHEN 'SI' THEN 'INV/' || (200 + p.n) WHEN 'PI' THEN 'BILL-' || (7000 + p.n) END,
         CASE WHEN p.kind IN ('SO', 'DN', 'SI', 'RC') THEN c.name
              WHEN p.kind = 'PY' AND p.n % 3 = 1 THEN 'Office Rent'
              WHEN p.kind = 'PY' AND p.n % 3 = 2 THEN 'Electricity Charges'
              ELSE s.name END,
         CASE WHEN p.n % 6 = 0 THEN 'Goods & services for ' || p.type || ' ' || p.n END
  FROM plan p JOIN customers c ON c.n = p.customer JOIN suppliers s ON s.n = p.supplier
  ORDER BY p.day, p.id;

-- The item lines: one, and a second on every third inventory document. Purchases go to
-- "Purchases @ 5%"; sales to the ledger of their first item's rate, as in the sample (4% on items
-- under 200, 12.5% on the rest).
CREATE TEMP TABLE item_lines AS
  SELECT p.id, p.kind, p.n, 1 AS line, c.name AS item, c.unit, c.rate, p.quantity,
         CAST(c.rate AS REAL) < 200 AS low_rate
  FROM plan p JOIN catalogue c ON c.n = p.item
  WHERE p.kind NOT IN ('RC', 'PY')
  UNION ALL
  SELECT p.id, p.kind, p.n, 2, c.name, c.unit, c.rate, 1 + p.quantity % 4,
         CAST(first.rate AS REAL) < 200
  FROM plan p JOIN catalogue c ON c.n = p.second_item JOIN catalogue first ON first.n = p.item
  WHERE p.kind NOT IN ('RC', 'PY') AND p.n % 3 = 0 AND p.second_item <> p.item;
INSERT INTO VoucherLines
  SELECT id, line,
         CASE WHEN kind IN ('PO', 'RN', 'PI') THEN 'Purchases @ 5%'
              WHEN low_rate THEN 'Sales @ 4%' ELSE 'Sales @ 12.5%' END,
         item,
         CASE WHEN kind IN ('DN', 'SI') AND n % 2 = 0 THEN 'Showroom'
              WHEN kind = 'RN' THEN 'Pune Warehouse Bay 2'
              WHEN kind = 'PI' AND n % 2 = 1 THEN 'Pune Warehouse' END,
         quantity * CASE WHEN unit IN ('Pcs', 'Mtr') THEN 25 ELSE 1 END, unit, rate,
         printf('%.2f', quantity * CASE WHEN unit IN ('Pcs', 'Mtr') THEN 25 ELSE 1 END * rate)
  FROM item_lines ORDER BY id, line;

-- Taxes on sales and purchases: the sales at the rate of their sales ledger, the purchases at 5%.
INSERT INTO VoucherLines
  SELECT l.VoucherID, 3,
         CASE WHEN p.kind = 'PI' THEN 'Input VAT @ 5%'
              WHEN first.Ledger = 'Sales @ 4%' THEN 'Output VAT @ 4%' ELSE 'Output VAT @ 12.5%' END,
         NULL, NULL, NULL, NULL, NULL,
         printf('%.2f', round(sum(CAST(l.Amount AS REAL)) *
                              CASE WHEN p.kind = 'PI' THEN 5
                                   WHEN first.Ledger = 'Sales @ 4%' THEN 4 ELSE 12.5 END / 100, 2))
  FROM plan p
  JOIN VoucherLines l ON l.VoucherID = p.id
  JOIN VoucherLines first ON first.VoucherID = p.id AND first.Line = 1
  WHERE p.kind IN ('SI', 'PI')
  GROUP BY l.VoucherID;

-- Every fourth sale gives a discount: a line that reduces the voucher.
INSERT INTO VoucherLines
  SELECT id, 4, 'Discount Allowed', NULL, NULL, NULL, NULL, NULL, printf('%.2f', -10.0 * n)
  FROM plan WHERE kind = 'SI' AND n % 4 = 0;

-- Receipts into the bank (or cash on every fifth), every third less bank charges; payments from
-- the bank, or cash for the electricity.
INSERT INTO VoucherLines
  SELECT id, 1, CASE WHEN n % 5 = 0 THEN 'Cash' ELSE 'HDFC Bank' END, NULL, NULL, NULL, NULL,
         NULL, printf('%.2f', 1000 + 250 * n - CASE WHEN n % 3 = 0 THEN 35 ELSE 0 END)
  FROM plan WHERE kind = 'RC'
  UNION ALL
  SELECT id, 2, 'Bank Charges', NULL, NULL, NULL, NULL, NULL, '35.00'
  FROM plan WHERE kind = 'RC' AND n % 3 = 0
  UNION ALL
  SELECT id, 1, CASE WHEN n % 3 = 2 THEN 'Cash' ELSE 'HDFC Bank' END, NULL, NULL, NULL, NULL,
         NULL, printf('%.2f', CASE n % 3 WHEN 1 THEN 18000 WHEN 2 THEN 2150 + 40 * n
                                         ELSE 5000 + 125 * n END)
  FROM plan WHERE kind = 'PY'
  ORDER BY 1, 2;

DROP TABLE SampleSales;
COMMIT;
VACUUM;
