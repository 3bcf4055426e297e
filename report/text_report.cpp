#include "report/text_report.h"

#include "fm/cp1251.h"
#include "report/report_buffer.h"

void TextReport::OnFrame(const RecordFrame& frame) {
  if (!frame.crcOk) ReportPrintf("%s", CP1251("\r\nWARNING: Грешка CRC.\r\n"));
}

void TextReport::OnDailyReport(const DailyReport& report) {
  ReportPrintf("\r\nDate: %s\r\n", report.dateText);
  ReportPrintf(CP1251("Отчет# %i\r\n"), report.number);
  for (int k = 0; k < kTaxGroupCount; ++k)
    if (report.groups[k].counted) ReportPrintf(CP1251("Дан. гр. %i: %s\r\n"), k + 1, report.groups[k].text);
  if (report.modelVariant == 2) return;  // its reports hold tax groups only

  for (int d = 0; d < kDepartmentCount; ++d) {
    const DepartmentAmount& department = report.departments[d];
    if (!department.amount.counted) continue;
    ReportPrintf(CP1251("Деп %i: %s"), d + 1, department.name);
    ReportPrintf(CP1251(" Оборот: %s\r\n"), department.amount.text);
  }
  for (const PaymentSlot& slot : report.slots)
    if (slot.amount.counted) ReportPrintf(CP1251("Плащане %i сума: %s\r\n"), slot.code, slot.amount.text);

  const char* mode = report.decimalFlag == 170  ? CP1251("Дробни числа.")
                     : report.decimalFlag == 85 ? CP1251("Цели числа.")
                                                : CP1251("Грешка десетична точка!");
  ReportPrintf("%s\r\n", mode);
}

void TextReport::OnTotals(const ReportTotals& totals) {
  const char* rule = "_____________\r\n";
  ReportPrintf("%s", CP1251("Оборот:\r\n"));
  ReportPrintf("%s", rule);
  for (int g = 0; g < kTaxGroupCount; ++g) {
    ReportPrintf(CP1251("Дан гр. %i: %.2f\r\n"), g + 1, totals.groupTurnover[g]);
    ReportPrintf(CP1251("    Данък: %.2f\r\n"), totals.groupTax[g]);
  }
  ReportPrintf("%s", CP1251("\r\nОборот по департаменти:\r\n"));
  ReportPrintf("%s", rule);
  for (int d = 0; d < kDepartmentCount; ++d) ReportPrintf(CP1251("Деп. %i: %.2f\r\n"), d + 1, totals.departments[d]);
  ReportPrintf("%s", CP1251("\r\nПлащания:\r\n"));
  ReportPrintf("%s", rule);
  for (int p = 0; p < kPaymentCodeCount; ++p)
    ReportPrintf(CP1251("Плащане %2i %s: %.2f\r\n"), p, PaymentName(p), totals.payments[p]);
}

TextReport& TheTextReport() {
  static TextReport report;
  return report;
}
