#pragma once
// The fiscal-memory reader base. It owns the dump source and the record
// buffer for one report run, holds the report filter and the running totals,
// and drives the record loop. A device-model class supplies the framing,
// the record handlers and the summary.
#include <cstdint>

#include "fm/daily_report.h"
#include "fm/input_file.h"
#include "fm/record.h"

class CFM {
 public:
  explicit CFM(const char* path);
  // Walks the bytes `input` gives (the reader owns it): a dump held in memory.
  explicit CFM(CInputFileBase* input);

  // The record loop: ReadRecord until the end of the input, then the
  // summary. Gives 1, or 0 when the dump file could not be opened.
  virtual int32_t Parse();
  virtual ~CFM();
  virtual void PrintTotals() = 0;
  virtual int32_t GetRecordSize(uint32_t type) = 0;
  virtual int32_t ProcessRecord(uint32_t type) = 0;
  virtual int32_t ReadRecord() = 0;
  virtual int32_t CheckRecord() = 0;

  CFM(const CFM&) = delete;
  CFM& operator=(const CFM&) = delete;

  // Sets every turnover, tax, department and payment total to 0.
  void ResetTotals();
  // Adds the amount in `text` and its tax share to tax group `group`
  // (0-based); gives `text` back for printing.
  const char* AddTurnover(const char* text, int32_t group);
  // The tax part of an amount of tax group `group` at its rate in force:
  // amounts include their tax.
  double TaxShare(double amount, int32_t group) const {
    double rate = taxRates[group];
    return amount * (rate / (rate + 100));
  }

  int32_t reportType = 0;  // ReportAll, ReportByNumber or ReportByDate; set by the report run
  int64_t fromValue = 0;
  int64_t toValue = 0;
  double* groupTurnover;
  double* groupTax;
  double* taxRates;  // percent per tax group
  double* departmentTurnover;
  double* paymentTotals;
  int32_t groupCount = 8;
  int32_t fractional = 0;  // amounts in hundredths
  CRecord* record;
  CInputFileBase* input;
  int32_t recordSize = 48;

};

// The number at the start of an amount text as a double, '.' as the decimal
// separator whatever the locale; 0 when the text holds no number.
double AmountValue(const char* text);
