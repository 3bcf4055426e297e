#include "ledger/ledger_schema.h"

// Version 1: the devices with their running totals, the dumps added, the
// daily reports (one row each time the dump that holds a report most often
// holds it), the monthly sums per device, the conflicts and the VAT views. Amounts of
// daily reports are integer hundredths; tax shares, rates and every sum are
// 8-byte floating values exactly as the report computes them.
const char kLedgerSchemaV1[] = R"sql(
CREATE TABLE device (
  id TEXT PRIMARY KEY NOT NULL,
  reports INTEGER NOT NULL DEFAULT 0,
  first_report INTEGER,
  first_recorded_at TEXT,
  last_report INTEGER,
  last_recorded_at TEXT,
  group_1 REAL NOT NULL DEFAULT 0,
  group_2 REAL NOT NULL DEFAULT 0,
  group_3 REAL NOT NULL DEFAULT 0,
  group_4 REAL NOT NULL DEFAULT 0,
  group_5 REAL NOT NULL DEFAULT 0,
  group_6 REAL NOT NULL DEFAULT 0,
  group_7 REAL NOT NULL DEFAULT 0,
  group_8 REAL NOT NULL DEFAULT 0,
  tax_1 REAL NOT NULL DEFAULT 0,
  tax_2 REAL NOT NULL DEFAULT 0,
  tax_3 REAL NOT NULL DEFAULT 0,
  tax_4 REAL NOT NULL DEFAULT 0,
  tax_5 REAL NOT NULL DEFAULT 0,
  tax_6 REAL NOT NULL DEFAULT 0,
  tax_7 REAL NOT NULL DEFAULT 0,
  tax_8 REAL NOT NULL DEFAULT 0,
  department_1 REAL NOT NULL DEFAULT 0,
  department_2 REAL NOT NULL DEFAULT 0,
  department_3 REAL NOT NULL DEFAULT 0,
  department_4 REAL NOT NULL DEFAULT 0,
  department_5 REAL NOT NULL DEFAULT 0,
  department_6 REAL NOT NULL DEFAULT 0,
  department_7 REAL NOT NULL DEFAULT 0,
  department_8 REAL NOT NULL DEFAULT 0,
  department_9 REAL NOT NULL DEFAULT 0,
  payment_0 REAL NOT NULL DEFAULT 0,
  payment_1 REAL NOT NULL DEFAULT 0,
  payment_2 REAL NOT NULL DEFAULT 0,
  payment_3 REAL NOT NULL DEFAULT 0,
  payment_4 REAL NOT NULL DEFAULT 0,
  payment_5 REAL NOT NULL DEFAULT 0,
  payment_6 REAL NOT NULL DEFAULT 0,
  payment_7 REAL NOT NULL DEFAULT 0,
  payment_8 REAL NOT NULL DEFAULT 0,
  payment_9 REAL NOT NULL DEFAULT 0,
  payment_10 REAL NOT NULL DEFAULT 0
);
CREATE TABLE dump (
  id INTEGER PRIMARY KEY,
  device TEXT NOT NULL REFERENCES device(id),
  name TEXT NOT NULL,
  size INTEGER NOT NULL,
  sha256 TEXT NOT NULL,
  added_at TEXT NOT NULL,
  reports INTEGER NOT NULL,
  new_reports INTEGER NOT NULL,
  conflicts INTEGER NOT NULL
);
CREATE INDEX dump_by_device ON dump(device, sha256);
CREATE TABLE daily_report (
  id INTEGER PRIMARY KEY,
  device TEXT NOT NULL REFERENCES device(id),
  dump INTEGER NOT NULL REFERENCES dump(id),
  number INTEGER NOT NULL,
  recorded INTEGER NOT NULL,
  recorded_at TEXT NOT NULL,
  model_variant INTEGER NOT NULL,
  fractional INTEGER NOT NULL,
  crc_ok INTEGER NOT NULL,
  decimal_flag INTEGER NOT NULL,
  group_1 INTEGER NOT NULL,
  group_2 INTEGER NOT NULL,
  group_3 INTEGER NOT NULL,
  group_4 INTEGER NOT NULL,
  group_5 INTEGER NOT NULL,
  group_6 INTEGER NOT NULL,
  group_7 INTEGER NOT NULL,
  group_8 INTEGER NOT NULL,
  tax_1 REAL NOT NULL,
  tax_2 REAL NOT NULL,
  tax_3 REAL NOT NULL,
  tax_4 REAL NOT NULL,
  tax_5 REAL NOT NULL,
  tax_6 REAL NOT NULL,
  tax_7 REAL NOT NULL,
  tax_8 REAL NOT NULL,
  rate_1 REAL NOT NULL,
  rate_2 REAL NOT NULL,
  rate_3 REAL NOT NULL,
  rate_4 REAL NOT NULL,
  rate_5 REAL NOT NULL,
  rate_6 REAL NOT NULL,
  rate_7 REAL NOT NULL,
  rate_8 REAL NOT NULL,
  department_1 INTEGER NOT NULL,
  department_2 INTEGER NOT NULL,
  department_3 INTEGER NOT NULL,
  department_4 INTEGER NOT NULL,
  department_5 INTEGER NOT NULL,
  department_6 INTEGER NOT NULL,
  department_7 INTEGER NOT NULL,
  department_8 INTEGER NOT NULL,
  department_9 INTEGER NOT NULL,
  department_name_1 BLOB,
  department_name_2 BLOB,
  department_name_3 BLOB,
  department_name_4 BLOB,
  department_name_5 BLOB,
  department_name_6 BLOB,
  department_name_7 BLOB,
  department_name_8 BLOB,
  department_name_9 BLOB,
  slot_1_amount INTEGER NOT NULL,
  slot_1_code INTEGER NOT NULL,
  slot_2_amount INTEGER NOT NULL,
  slot_2_code INTEGER NOT NULL,
  slot_3_amount INTEGER NOT NULL,
  slot_3_code INTEGER NOT NULL,
  slot_4_amount INTEGER NOT NULL,
  slot_4_code INTEGER NOT NULL
);
CREATE INDEX daily_report_by_date ON daily_report(device, recorded_at, number);
CREATE TABLE device_month (
  device TEXT NOT NULL REFERENCES device(id),
  month TEXT NOT NULL,
  reports INTEGER NOT NULL DEFAULT 0,
  first_report INTEGER NOT NULL,
  last_report INTEGER NOT NULL,
  group_1 REAL NOT NULL DEFAULT 0,
  group_2 REAL NOT NULL DEFAULT 0,
  group_3 REAL NOT NULL DEFAULT 0,
  group_4 REAL NOT NULL DEFAULT 0,
  group_5 REAL NOT NULL DEFAULT 0,
  group_6 REAL NOT NULL DEFAULT 0,
  group_7 REAL NOT NULL DEFAULT 0,
  group_8 REAL NOT NULL DEFAULT 0,
  tax_1 REAL NOT NULL DEFAULT 0,
  tax_2 REAL NOT NULL DEFAULT 0,
  tax_3 REAL NOT NULL DEFAULT 0,
  tax_4 REAL NOT NULL DEFAULT 0,
  tax_5 REAL NOT NULL DEFAULT 0,
  tax_6 REAL NOT NULL DEFAULT 0,
  tax_7 REAL NOT NULL DEFAULT 0,
  tax_8 REAL NOT NULL DEFAULT 0,
  department_1 REAL NOT NULL DEFAULT 0,
  department_2 REAL NOT NULL DEFAULT 0,
  department_3 REAL NOT NULL DEFAULT 0,
  department_4 REAL NOT NULL DEFAULT 0,
  department_5 REAL NOT NULL DEFAULT 0,
  department_6 REAL NOT NULL DEFAULT 0,
  department_7 REAL NOT NULL DEFAULT 0,
  department_8 REAL NOT NULL DEFAULT 0,
  department_9 REAL NOT NULL DEFAULT 0,
  payment_0 REAL NOT NULL DEFAULT 0,
  payment_1 REAL NOT NULL DEFAULT 0,
  payment_2 REAL NOT NULL DEFAULT 0,
  payment_3 REAL NOT NULL DEFAULT 0,
  payment_4 REAL NOT NULL DEFAULT 0,
  payment_5 REAL NOT NULL DEFAULT 0,
  payment_6 REAL NOT NULL DEFAULT 0,
  payment_7 REAL NOT NULL DEFAULT 0,
  payment_8 REAL NOT NULL DEFAULT 0,
  payment_9 REAL NOT NULL DEFAULT 0,
  payment_10 REAL NOT NULL DEFAULT 0,
  PRIMARY KEY (device, month)
) WITHOUT ROWID;
CREATE TABLE conflict (
  id INTEGER PRIMARY KEY,
  device TEXT NOT NULL REFERENCES device(id),
  dump INTEGER NOT NULL REFERENCES dump(id),
  number INTEGER NOT NULL,
  recorded INTEGER NOT NULL,
  recorded_at TEXT NOT NULL,
  ledger_report INTEGER NOT NULL REFERENCES daily_report(id)
);
CREATE VIEW monthly_vat AS
  SELECT device, month, reports, round(group_1,2) AS group_1, round(group_2,2) AS group_2, round(group_3,2) AS group_3, round(group_4,2) AS group_4, round(group_5,2) AS group_5, round(group_6,2) AS group_6, round(group_7,2) AS group_7, round(group_8,2) AS group_8,
         round(tax_1,2) AS tax_1, round(tax_2,2) AS tax_2, round(tax_3,2) AS tax_3, round(tax_4,2) AS tax_4, round(tax_5,2) AS tax_5, round(tax_6,2) AS tax_6, round(tax_7,2) AS tax_7, round(tax_8,2) AS tax_8
  FROM device_month ORDER BY device, month;
CREATE VIEW monthly_vat_total AS
  SELECT month, count(*) AS devices, sum(reports) AS reports,
         round(sum(group_1),2) AS group_1, round(sum(group_2),2) AS group_2, round(sum(group_3),2) AS group_3, round(sum(group_4),2) AS group_4, round(sum(group_5),2) AS group_5, round(sum(group_6),2) AS group_6, round(sum(group_7),2) AS group_7, round(sum(group_8),2) AS group_8,
         round(sum(tax_1),2) AS tax_1, round(sum(tax_2),2) AS tax_2, round(sum(tax_3),2) AS tax_3, round(sum(tax_4),2) AS tax_4, round(sum(tax_5),2) AS tax_5, round(sum(tax_6),2) AS tax_6, round(sum(tax_7),2) AS tax_7, round(sum(tax_8),2) AS tax_8
  FROM device_month GROUP BY month ORDER BY month;
)sql";

// Version 2: every sum a user reads is decided by the program. The VAT views
// give, as text, the cents the program rounded and stored (SQLite's own
// round() and printf() round a sum's decimal text, not its binary value, and
// differ from version to version): device_month gains them per device and
// month, and month_total holds the sums over the devices. Which dumps hold
// each report (daily_report.dump brought it, dump_report names every other
// dump that holds it), so an add can be taken back; whether a report counts
// (a copy whose CRC failed does not once an intact copy is held); the
// reports a dump repaired; and the dumps refused because they disagree with
// the ledger. The program's step after this SQL fills the new columns and
// tables from what version 1 kept.
const char kLedgerSchemaV2[] = R"sql(
DROP VIEW monthly_vat;
DROP VIEW monthly_vat_total;
ALTER TABLE daily_report ADD COLUMN counted INTEGER NOT NULL DEFAULT 1;
ALTER TABLE dump ADD COLUMN repaired INTEGER NOT NULL DEFAULT 0;
CREATE TABLE dump_report (
  dump INTEGER NOT NULL REFERENCES dump(id),
  report INTEGER NOT NULL REFERENCES daily_report(id),
  PRIMARY KEY (dump, report)
) WITHOUT ROWID;
INSERT INTO dump_report (dump, report)
  SELECT d.id, r.id FROM dump AS d JOIN daily_report AS r ON r.device = d.device AND r.dump < d.id
  WHERE d.reports - d.new_reports - d.conflicts =
        (SELECT count(*) FROM daily_report AS p WHERE p.device = d.device AND p.dump < d.id);
CREATE TABLE refused_dump (
  id INTEGER PRIMARY KEY,
  device TEXT NOT NULL,
  name TEXT NOT NULL,
  size INTEGER NOT NULL,
  sha256 TEXT NOT NULL,
  refused_at TEXT NOT NULL,
  number INTEGER NOT NULL,
  recorded_at TEXT NOT NULL,
  numbers TEXT NOT NULL
);
ALTER TABLE device_month ADD COLUMN group_1_cents INTEGER NOT NULL DEFAULT 0;
ALTER TABLE device_month ADD COLUMN group_2_cents INTEGER NOT NULL DEFAULT 0;
ALTER TABLE device_month ADD COLUMN group_3_cents INTEGER NOT NULL DEFAULT 0;
ALTER TABLE device_month ADD COLUMN group_4_cents INTEGER NOT NULL DEFAULT 0;
ALTER TABLE device_month ADD COLUMN group_5_cents INTEGER NOT NULL DEFAULT 0;
ALTER TABLE device_month ADD COLUMN group_6_cents INTEGER NOT NULL DEFAULT 0;
ALTER TABLE device_month ADD COLUMN group_7_cents INTEGER NOT NULL DEFAULT 0;
ALTER TABLE device_month ADD COLUMN group_8_cents INTEGER NOT NULL DEFAULT 0;
ALTER TABLE device_month ADD COLUMN tax_1_cents INTEGER NOT NULL DEFAULT 0;
ALTER TABLE device_month ADD COLUMN tax_2_cents INTEGER NOT NULL DEFAULT 0;
ALTER TABLE device_month ADD COLUMN tax_3_cents INTEGER NOT NULL DEFAULT 0;
ALTER TABLE device_month ADD COLUMN tax_4_cents INTEGER NOT NULL DEFAULT 0;
ALTER TABLE device_month ADD COLUMN tax_5_cents INTEGER NOT NULL DEFAULT 0;
ALTER TABLE device_month ADD COLUMN tax_6_cents INTEGER NOT NULL DEFAULT 0;
ALTER TABLE device_month ADD COLUMN tax_7_cents INTEGER NOT NULL DEFAULT 0;
ALTER TABLE device_month ADD COLUMN tax_8_cents INTEGER NOT NULL DEFAULT 0;
CREATE TABLE month_total (
  month TEXT PRIMARY KEY NOT NULL,
  devices INTEGER NOT NULL,
  reports INTEGER NOT NULL,
  group_1_cents INTEGER NOT NULL DEFAULT 0,
  group_2_cents INTEGER NOT NULL DEFAULT 0,
  group_3_cents INTEGER NOT NULL DEFAULT 0,
  group_4_cents INTEGER NOT NULL DEFAULT 0,
  group_5_cents INTEGER NOT NULL DEFAULT 0,
  group_6_cents INTEGER NOT NULL DEFAULT 0,
  group_7_cents INTEGER NOT NULL DEFAULT 0,
  group_8_cents INTEGER NOT NULL DEFAULT 0,
  tax_1_cents INTEGER NOT NULL DEFAULT 0,
  tax_2_cents INTEGER NOT NULL DEFAULT 0,
  tax_3_cents INTEGER NOT NULL DEFAULT 0,
  tax_4_cents INTEGER NOT NULL DEFAULT 0,
  tax_5_cents INTEGER NOT NULL DEFAULT 0,
  tax_6_cents INTEGER NOT NULL DEFAULT 0,
  tax_7_cents INTEGER NOT NULL DEFAULT 0,
  tax_8_cents INTEGER NOT NULL DEFAULT 0
) WITHOUT ROWID;
CREATE INDEX device_month_by_month ON device_month(month, device);
CREATE VIEW monthly_vat AS
  SELECT device, month, reports,
         printf('%d.%02d', group_1_cents / 100, group_1_cents % 100) AS group_1,
         printf('%d.%02d', group_2_cents / 100, group_2_cents % 100) AS group_2,
         printf('%d.%02d', group_3_cents / 100, group_3_cents % 100) AS group_3,
         printf('%d.%02d', group_4_cents / 100, group_4_cents % 100) AS group_4,
         printf('%d.%02d', group_5_cents / 100, group_5_cents % 100) AS group_5,
         printf('%d.%02d', group_6_cents / 100, group_6_cents % 100) AS group_6,
         printf('%d.%02d', group_7_cents / 100, group_7_cents % 100) AS group_7,
         printf('%d.%02d', group_8_cents / 100, group_8_cents % 100) AS group_8,
         printf('%d.%02d', tax_1_cents / 100, tax_1_cents % 100) AS tax_1,
         printf('%d.%02d', tax_2_cents / 100, tax_2_cents % 100) AS tax_2,
         printf('%d.%02d', tax_3_cents / 100, tax_3_cents % 100) AS tax_3,
         printf('%d.%02d', tax_4_cents / 100, tax_4_cents % 100) AS tax_4,
         printf('%d.%02d', tax_5_cents / 100, tax_5_cents % 100) AS tax_5,
         printf('%d.%02d', tax_6_cents / 100, tax_6_cents % 100) AS tax_6,
         printf('%d.%02d', tax_7_cents / 100, tax_7_cents % 100) AS tax_7,
         printf('%d.%02d', tax_8_cents / 100, tax_8_cents % 100) AS tax_8
  FROM device_month ORDER BY device, month;
CREATE VIEW monthly_vat_total AS
  SELECT month, devices, reports,
         printf('%d.%02d', group_1_cents / 100, group_1_cents % 100) AS group_1,
         printf('%d.%02d', group_2_cents / 100, group_2_cents % 100) AS group_2,
         printf('%d.%02d', group_3_cents / 100, group_3_cents % 100) AS group_3,
         printf('%d.%02d', group_4_cents / 100, group_4_cents % 100) AS group_4,
         printf('%d.%02d', group_5_cents / 100, group_5_cents % 100) AS group_5,
         printf('%d.%02d', group_6_cents / 100, group_6_cents % 100) AS group_6,
         printf('%d.%02d', group_7_cents / 100, group_7_cents % 100) AS group_7,
         printf('%d.%02d', group_8_cents / 100, group_8_cents % 100) AS group_8,
         printf('%d.%02d', tax_1_cents / 100, tax_1_cents % 100) AS tax_1,
         printf('%d.%02d', tax_2_cents / 100, tax_2_cents % 100) AS tax_2,
         printf('%d.%02d', tax_3_cents / 100, tax_3_cents % 100) AS tax_3,
         printf('%d.%02d', tax_4_cents / 100, tax_4_cents % 100) AS tax_4,
         printf('%d.%02d', tax_5_cents / 100, tax_5_cents % 100) AS tax_5,
         printf('%d.%02d', tax_6_cents / 100, tax_6_cents % 100) AS tax_6,
         printf('%d.%02d', tax_7_cents / 100, tax_7_cents % 100) AS tax_7,
         printf('%d.%02d', tax_8_cents / 100, tax_8_cents % 100) AS tax_8
  FROM month_total ORDER BY month;
)sql";

// Version 3: the ledger counts its changes. Every transaction that changes
// what it holds (an add, a repair, a remove, the note of a refusal) adds one
// to ledger_state.changes, and a device whose reports or sums it changed
// takes the new count as its `changed`. A reader that keeps sums (the server)
// knows from these numbers alone what changed since it read them, whoever
// wrote: counts and times may stay the same when one dump replaces another
// within a second, the counter never does.
const char kLedgerSchemaV3[] = R"sql(
CREATE TABLE ledger_state (
  id INTEGER PRIMARY KEY CHECK (id = 1),
  changes INTEGER NOT NULL
);
INSERT INTO ledger_state (id, changes) VALUES (1, 0);
ALTER TABLE device ADD COLUMN changed INTEGER NOT NULL DEFAULT 0;
)sql";

// Step i takes a ledger of version i to version i + 1.
const char* const kLedgerMigrations[kLedgerSchemaVersion] = {kLedgerSchemaV1, kLedgerSchemaV2, kLedgerSchemaV3};
