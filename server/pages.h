#pragma once
// The pages for a browser, read role: `/` (the registers, the monthly VAT
// table over all of them with the ledger export's chart, a link to each
// register) and `/devices/ID` (that register's months, its check findings
// and conflicts, its uploads). Each page is one self-contained document:
// every text escaped, one style sheet whose hash the Content-Security-
// Policy names, and one script from this server, which only keeps the token
// (entered once, in the tab's session storage) and sends it with each page it
// loads. The tables and the chart are in the HTML itself, so a browser
// without JavaScript reads them wherever a reverse proxy gives the token.
#include <string>

#include "ledger/ledger_file.h"
#include "server/api_answers.h"
#include "server/dump_archive.h"

Answer IndexPage(LedgerFile& ledger, SumsCache* cache);
Answer DevicePage(LedgerFile& ledger, const DumpArchive& archive, const std::string& device);
// The answer to a page asked for without a valid token: a form for it.
Answer TokenPage(int status, const std::string& message);

// The script the pages load, /static/taxoscope.js.
extern const char kPageScript[];
constexpr char kPageScriptPath[] = "/static/taxoscope.js";
// The pages' policy: nothing from elsewhere, the one style sheet by its hash,
// scripts only from this server.
const std::string& PageContentSecurityPolicy();
// The link to a register's page: /devices/ID, its id with every byte other
// than an unreserved one as %XX; for the ids "." and "..", which a browser
// would take for a path's own steps, /devices?device=ID.
std::string DevicePageLink(const std::string& device);
