#pragma once
// Small pieces of HTML text.
#include <string>

// Appends UTF-8 text with &, <, > and " escaped.
void AppendEscaped(std::string* out, const std::string& text);
// One table cell: <td class="n">text</td> for a number, <td>text</td> else.
void AppendCell(std::string* out, const std::string& text, bool number = false);
void AppendAmountCell(std::string* out, double value);
