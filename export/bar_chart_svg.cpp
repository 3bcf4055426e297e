#include "export/bar_chart_svg.h"

#include <cmath>

#include "export/amount_text.h"
#include "export/html_text.h"

namespace {

constexpr double kWidth = 960, kHeight = 360;
constexpr double kLeft = 90, kRight = 16, kTop = 40, kBottom = 40;
constexpr double kPlotWidth = kWidth - kLeft - kRight;
constexpr double kPlotHeight = kHeight - kTop - kBottom;

// A step of 1, 2 or 5 times a power of ten that cuts 0..top into about five
// parts, and a cent at the least: the labels show amounts to the cent, so a
// finer step would label several lines alike.
double RoundStep(double top) {
  constexpr double kCent = 0.01;
  double raw = top / 5;
  if (raw <= kCent) return kCent;
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

std::string Whole(double value) {
  std::string text;
  AppendFixed(&text, value, 0);
  return text;
}

constexpr size_t kLegendPerLine = 9;
constexpr double kLegendLine = 16;

void AppendLegend(std::string* out, const std::vector<ChartSeries>& series) {
  for (size_t i = 0; i < series.size(); ++i) {
    const double x = kLeft + 96 * static_cast<double>(i % kLegendPerLine);
    const double y = 12 + kLegendLine * static_cast<double>(i / kLegendPerLine);
    *out += "<rect x=\"" + Number(x) + "\" y=\"" + Whole(y) + "\" width=\"12\" height=\"12\" fill=\"" +
            series[i].colour + "\"/>";
    *out += "<text x=\"" + Number(x + 17) + "\" y=\"" + Whole(y + 10) + "\">";
    AppendEscaped(out, series[i].name);
    *out += "</text>";
  }
}


}  // namespace

const char* GroupColour(int g) {
  static const char* const kColours[kTaxGroupCount] = {"#2f6db5", "#e08a1e", "#3a9a4a", "#c43c3c",
                                                       "#7d5bb0", "#8c6239", "#d46fb0", "#6f7f8f"};
  return kColours[g];
}

const char* SeriesColour(size_t i) {
  static const char* const kColours[] = {"#2f6db5", "#e08a1e", "#3a9a4a", "#c43c3c", "#7d5bb0", "#8c6239",
                                         "#d46fb0", "#6f7f8f", "#b5b52f", "#2fb5a8", "#5b6fd4", "#d4a35b"};
  return kColours[i % (sizeof(kColours) / sizeof(kColours[0]))];
}

void AppendMonthlyChart(std::string* out, const std::vector<MonthRow>& rows, const bool* groupUsed) {
  std::vector<ChartSeries> series;
  std::vector<int> groups;
  for (int g = 0; g < kTaxGroupCount; ++g) {
    if (!groupUsed[g]) continue;
    series.push_back({"Дан гр. " + std::to_string(g + 1), GroupColour(g)});
    groups.push_back(g);
  }
  std::vector<std::string> labels;
  std::vector<std::vector<double>> values;
  for (const MonthRow& row : rows) {
    labels.push_back(row.MonthText());
    values.emplace_back();
    for (int g : groups) values.back().push_back(row.groups[g]);
  }
  AppendStackedChart(out, labels, series, values);
}

void AppendStackedChart(std::string* out, const std::vector<std::string>& labels, const std::vector<ChartSeries>& series,
                        const std::vector<std::vector<double>>& values) {
  double top = 0;
  for (const std::vector<double>& row : values) {
    double total = 0;
    for (double value : row) total += value;
    if (total > top) top = total;
  }
  // Legend lines after the first push the plot down.
  const size_t legendLines = series.empty() ? 1 : (series.size() + kLegendPerLine - 1) / kLegendPerLine;
  const double extra = kLegendLine * static_cast<double>(legendLines - 1);
  const double plotTop = kTop + extra;
  const double height = kHeight + extra;
  const double step = top > 0 ? RoundStep(top) : 1;
  const double axisTop = top > 0 ? std::ceil(top / step) * step : 5;
  const double scale = kPlotHeight / axisTop;
  const double baseline = plotTop + kPlotHeight;

  *out += "<svg xmlns=\"http://www.w3.org/2000/svg\" viewBox=\"0 0 960 " + Whole(height) + "\" width=\"960\" height=\"" +
          Whole(height) + "\" font-family=\"sans-serif\" font-size=\"11\" role=\"img\">\n";
  AppendLegend(out, series);
  for (double tick = 0; tick <= axisTop + step / 2; tick += step) {
    std::string y = Number(baseline - tick * scale);
    *out += "<line x1=\"" + Number(kLeft) + "\" x2=\"" + Number(kWidth - kRight) + "\" y1=\"" + y + "\" y2=\"" + y +
            "\" stroke=\"#ddd\"/>";
    *out += "<text x=\"" + Number(kLeft - 6) + "\" y=\"" + Number(baseline - tick * scale + 4) +
            "\" text-anchor=\"end\">" + StepLabel(tick, step) + "</text>\n";
  }

  const double slot = labels.empty() ? kPlotWidth : kPlotWidth / static_cast<double>(labels.size());
  const double barWidth = slot > 3 ? slot * 0.75 : slot;
  // Month labels about 64 pixels apart at least.
  const size_t labelEvery = static_cast<size_t>(std::ceil(64 / slot));
  for (size_t i = 0; i < labels.size(); ++i) {
    const double x = kLeft + slot * static_cast<double>(i) + (slot - barWidth) / 2;
    double y = baseline;
    for (size_t s = 0; s < series.size(); ++s) {
      const double value = values[i][s];
      if (!(value > 0)) continue;
      const double barHeight = value * scale;
      y -= barHeight;
      *out += "<rect x=\"" + Number(x) + "\" y=\"" + Number(y) + "\" width=\"" + Number(barWidth) +
              "\" height=\"" + Number(barHeight) + "\" fill=\"" + series[s].colour + "\"><title>" + labels[i] + " ";
      AppendEscaped(out, series[s].name);
      *out += ": " + AmountText(value) + "</title></rect>";
    }
    *out += '\n';
    if (i % labelEvery == 0)
      *out += "<text x=\"" + Number(x + barWidth / 2) + "\" y=\"" + Number(baseline + 16) +
              "\" text-anchor=\"middle\">" + labels[i] + "</text>\n";
  }
  *out += "<line x1=\"" + Number(kLeft) + "\" x2=\"" + Number(kWidth - kRight) + "\" y1=\"" + Number(baseline) +
          "\" y2=\"" + Number(baseline) + "\" stroke=\"#444\"/>\n</svg>\n";
}
