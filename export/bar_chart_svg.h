#pragma once
// The monthly turnover as an inline SVG bar chart: one bar per month, stacked
// by tax group, a legend of the groups in use, a value axis with round steps.
#include <string>
#include <vector>

#include "export/month_table.h"

// groupUsed[g]: whether tax group g + 1 has turnover anywhere (only those
// groups get a colour in the legend).
void AppendMonthlyChart(std::string* out, const std::vector<MonthRow>& rows, const bool* groupUsed);

// The general form: one bar per month (label), stacked by series; values[i][s]
// is series s in month i. Every series gets a legend entry, nine to a line.
struct ChartSeries {
  std::string name;
  std::string colour;
};
void AppendStackedChart(std::string* out, const std::vector<std::string>& labels, const std::vector<ChartSeries>& series,
                        const std::vector<std::vector<double>>& values);
// The colour of series i of a chart stacked by something other than tax group.
const char* SeriesColour(size_t i);

// The fill colour of tax group g (0-based), shared by the chart and its legend.
const char* GroupColour(int g);
