#pragma once
// The monthly turnover as an inline SVG bar chart: one bar per month, stacked
// by tax group, a legend of the groups in use, a value axis with round steps.
#include <string>
#include <vector>

#include "export/month_table.h"

// groupUsed[g]: whether tax group g + 1 has turnover anywhere (only those
// groups get a colour in the legend).
void AppendMonthlyChart(std::string* out, const std::vector<MonthRow>& rows, const bool* groupUsed);

// The fill colour of tax group g (0-based), shared by the chart and its legend.
const char* GroupColour(int g);
