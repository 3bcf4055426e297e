#include "export/bar_chart_svg.h"

#include <cmath>

#include "export/amount_text.h"
#include "export/html_text.h"

namespace {

constexpr double kWidth = 960, kHeight = 360;
constexpr double kLeft = 90, kRight = 16, kTop = 40, kBottom = 40;
constexpr double kPlotWidth = kWidth - kLeft - kRight;
constexpr double kPlotHeight = kHeight - kTop - kBottom;

// A step of 1, 2 or 5 times a power of ten that cuts 0..top into about five parts.
double RoundStep(double top) {
  double raw = top / 5;
  double power = std::pow(10.0, std::floor(std::log10(raw)));
  for (double factor : {1.0, 2.0, 5.0})
    if (raw <= factor * power) return factor * power;
  return 10 * power;
}

// A coordinate, to a tenth of a pixel.
std::string Number(double value) {
  std::string text;
  AppendFixed(&text, value, 1);
  return text;
}

// An axis label: whole steps without decimals.
std::string StepLabel(double value, double step) {
  std::string text;
  AppendFixed(&text, value, step >= 1 ? 0 : 2);
  return text;
}

void AppendLegend(std::string* out, const bool* groupUsed) {
  double x = kLeft;
  for (int g = 0; g < kTaxGroupCount; ++g) {
    if (!groupUsed[g]) continue;
    *out += "<rect x=\"" + Number(x) + "\" y=\"12\" width=\"12\" height=\"12\" fill=\"" + GroupColour(g) + "\"/>";
    *out += "<text x=\"" + Number(x + 17) + "\" y=\"22\">Дан гр. " +
            std::to_string(g + 1) + "</text>";
    x += 96;
  }
}

}  // namespace

const char* GroupColour(int g) {
  static const char* const kColours[kTaxGroupCount] = {"#2f6db5", "#e08a1e", "#3a9a4a", "#c43c3c",
                                                       "#7d5bb0", "#8c6239", "#d46fb0", "#6f7f8f"};
  return kColours[g];
}

void AppendMonthlyChart(std::string* out, const std::vector<MonthRow>& rows, const bool* groupUsed) {
  double top = 0;
  for (const MonthRow& row : rows) {
    double total = 0;
    for (double value : row.groups) total += value;
    if (total > top) top = total;
  }
  const double step = top > 0 ? RoundStep(top) : 1;
  const double axisTop = top > 0 ? std::ceil(top / step) * step : 5;
  const double scale = kPlotHeight / axisTop;
  const double baseline = kTop + kPlotHeight;

  *out += "<svg xmlns=\"http://www.w3.org/2000/svg\" viewBox=\"0 0 960 360\" width=\"960\" height=\"360\" "
          "font-family=\"sans-serif\" font-size=\"11\" role=\"img\">\n";
  AppendLegend(out, groupUsed);
  for (double tick = 0; tick <= axisTop + step / 2; tick += step) {
    std::string y = Number(baseline - tick * scale);
    *out += "<line x1=\"" + Number(kLeft) + "\" x2=\"" + Number(kWidth - kRight) + "\" y1=\"" + y + "\" y2=\"" + y +
            "\" stroke=\"#ddd\"/>";
    *out += "<text x=\"" + Number(kLeft - 6) + "\" y=\"" + Number(baseline - tick * scale + 4) +
            "\" text-anchor=\"end\">" + StepLabel(tick, step) + "</text>\n";
  }

  const double slot = rows.empty() ? kPlotWidth : kPlotWidth / static_cast<double>(rows.size());
  const double barWidth = slot > 3 ? slot * 0.75 : slot;
  // Month labels about 64 pixels apart at least.
  const size_t labelEvery = static_cast<size_t>(std::ceil(64 / slot));
  for (size_t i = 0; i < rows.size(); ++i) {
    const MonthRow& row = rows[i];
    const double x = kLeft + slot * static_cast<double>(i) + (slot - barWidth) / 2;
    double y = baseline;
    for (int g = 0; g < kTaxGroupCount; ++g) {
      if (!(row.groups[g] > 0)) continue;
      const double height = row.groups[g] * scale;
      y -= height;
      *out += "<rect x=\"" + Number(x) + "\" y=\"" + Number(y) + "\" width=\"" + Number(barWidth) +
              "\" height=\"" + Number(height) + "\" fill=\"" + GroupColour(g) + "\"><title>" + row.MonthText() +
              " Дан гр. " + std::to_string(g + 1) + ": " +
              AmountText(row.groups[g]) + "</title></rect>";
    }
    *out += '\n';
    if (i % labelEvery == 0)
      *out += "<text x=\"" + Number(x + barWidth / 2) + "\" y=\"" + Number(baseline + 16) +
              "\" text-anchor=\"middle\">" + row.MonthText() + "</text>\n";
  }
  *out += "<line x1=\"" + Number(kLeft) + "\" x2=\"" + Number(kWidth - kRight) + "\" y1=\"" + Number(baseline) +
          "\" y2=\"" + Number(baseline) + "\" stroke=\"#444\"/>\n</svg>\n";
}
