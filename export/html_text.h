#pragma once
// Small pieces of HTML text.
#include <string>

#include "export/export_output.h"

// Appends UTF-8 text with &, <, > and " escaped.
void AppendEscaped(std::string* out, const std::string& text);
// One table cell: <td class="n">text</td> for a number, <td>text</td> else.
void AppendCell(std::string* out, const std::string& text, bool number = false);
void AppendAmountCell(std::string* out, double value);

// The style sheet of the exported pages.
extern const char kHtmlStyle[];
// <p class="meta">Филтър: ...</p> for the filter as typed.
void AppendHtmlFilter(std::string* out, const ExportFilter& filter);
