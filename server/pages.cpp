#include "server/pages.h"

#include <algorithm>

#include "export/html_text.h"
#include "export/ledger_export.h"
#include "export/utf8_text.h"
#include "ledger/ledger_check.h"
#include "ledger/ledger_query.h"
#include "ledger/sha256.h"

namespace {

const char kPageStyle[] =
    "a{color:#1a4f8b}"
    "nav{margin:0 0 12px;font-size:13px}"
    "form{margin:16px 0}"
    "input{font:inherit;padding:3px 6px;width:28em}"
    "button{font:inherit;padding:3px 12px}"
    "td.error{color:#b00020}";

// The style element's text: the exports' style sheet and the pages' own.
const std::string& StyleText() {
  static const std::string text = std::string(kHtmlStyle) + kPageStyle;
  return text;
}

std::string Base64(const unsigned char* bytes, size_t size) {
  static const char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  for (size_t i = 0; i < size; i += 3) {
    uint32_t chunk = bytes[i] << 16 | (i + 1 < size ? bytes[i + 1] << 8 : 0) | (i + 2 < size ? bytes[i + 2] : 0);
    out += kAlphabet[chunk >> 18 & 63];
    out += kAlphabet[chunk >> 12 & 63];
    out += i + 1 < size ? kAlphabet[chunk >> 6 & 63] : '=';
    out += i + 2 < size ? kAlphabet[chunk & 63] : '=';
  }
  return out;
}

std::string StyleHash() {
  const std::string hex = Sha256Hex(StyleText().data(), StyleText().size());
  unsigned char digest[32];
  for (size_t i = 0; i < sizeof digest; ++i) digest[i] = static_cast<unsigned char>(std::stoi(hex.substr(2 * i, 2), nullptr, 16));
  return Base64(digest, sizeof digest);
}

void AppendHead(std::string* out, const std::string& title) {
  *out += "<!DOCTYPE html>\n<html lang=\"bg\">\n<head>\n<meta charset=\"utf-8\">\n<title>";
  AppendEscaped(out, title);
  *out += "</title>\n<style>" + StyleText() + "</style>\n<script src=\"";
  *out += kPageScriptPath;
  *out += "\" defer></script>\n</head>\n<body>\n";
}

Answer Page(std::string body, int status = 200) {
  Answer answer;
  answer.status = status;
  answer.contentType = "text/html; charset=utf-8";
  answer.body = std::move(body);
  return answer;
}

Answer Unreadable(const std::string& reason) {
  std::string out;
  AppendHead(&out, "Taxoscope");
  out += "<h1>Taxoscope</h1>\n<p>Регистърът не може да бъде прочетен: ";
  AppendEscaped(&out, reason);
  out += "</p>\n</body>\n</html>\n";
  return Page(out, 503);
}

void AppendFindings(std::string* out, const std::vector<Finding>& findings) {
  if (findings.empty()) {
    *out += "<p>Няма находки.</p>\n";
    return;
  }
  *out += "<table>\n<tr><th>Тежест</th><th>Вид</th><th>Отчет</th><th>Дата</th><th>Подробности</th></tr>\n";
  for (const Finding& finding : findings) {
    *out += finding.severity == FindingError ? "<tr><td class=\"error\">" : "<tr><td>";
    AppendEscaped(out, SeverityName(finding.severity));
    *out += "</td>";
    AppendCell(out, finding.kind);
    AppendCell(out, finding.report ? std::to_string(*finding.report) : "", true);
    AppendCell(out, finding.date ? *finding.date : "");
    AppendCell(out, finding.detail);
    *out += "</tr>\n";
  }
  *out += "</table>\n";
}

std::string FindingsSummary(const std::vector<Finding>& findings) {
  FindingCounts counts = CountFindings(findings);
  return std::to_string(counts.errors) + " / " + std::to_string(counts.warnings) + " / " + std::to_string(counts.notes);
}

}  // namespace

const char kPageScript[] = R"js(// Taxoscope pages: the read token, entered once, stays in this tab's session
// storage and goes with each page the script loads, as Authorization: Bearer.
(function () {
  'use strict';
  var KEY = 'taxoscope-token';
  function token() {
    try { return sessionStorage.getItem(KEY); } catch (e) { return null; }
  }
  function keep(value) {
    try { if (value) sessionStorage.setItem(KEY, value); else sessionStorage.removeItem(KEY); } catch (e) {}
  }
  function show(html, url, push) {
    var page = new DOMParser().parseFromString(html, 'text/html');
    document.title = page.title;
    document.body.replaceWith(document.adoptNode(page.body));
    if (push) history.pushState(null, '', url);
    bind();
  }
  function load(url, push) {
    fetch(url, {headers: {Authorization: 'Bearer ' + token()}, cache: 'no-store', credentials: 'omit'})
      .then(function (response) {
        if (response.status === 401) keep(null);
        return response.text().then(function (html) { show(html, url, push); });
      })
      .catch(function () { bind(); });
  }
  function bind() {
    var form = document.getElementById('token-form');
    if (form) {
      form.addEventListener('submit', function (event) {
        event.preventDefault();
        keep(document.getElementById('token').value.trim());
        load(location.pathname + location.search, false);
      });
    }
    Array.prototype.forEach.call(document.querySelectorAll('a[href^="/"]'), function (link) {
      link.addEventListener('click', function (event) {
        if (!token()) return;
        event.preventDefault();
        load(link.getAttribute('href'), true);
      });
    });
  }
  window.addEventListener('popstate', function () { if (token()) load(location.pathname + location.search, false); });
  // A token in the address's fragment (#token=...), which no request carries,
  // is kept and taken out of the address.
  var given = /^#token=(.+)$/.exec(location.hash);
  if (given) {
    keep(decodeURIComponent(given[1]));
    history.replaceState(null, '', location.pathname + location.search);
  }
  if (document.getElementById('token-form') && token()) load(location.pathname + location.search, false);
  else bind();
})();
)js";

const std::string& PageContentSecurityPolicy() {
  static const std::string policy = "default-src 'none'; style-src 'sha256-" + StyleHash() +
                                    "'; script-src 'self'; connect-src 'self'; img-src 'self'; "
                                    "form-action 'self'; base-uri 'none'; frame-ancestors 'none'";
  return policy;
}

std::string DevicePageLink(const std::string& device) {
  static const char kHex[] = "0123456789ABCDEF";
  // A path segment "." or ".." is taken away by every browser, spelled
  // "%2E%2E" too: those two ids go in the query instead.
  const bool dots = device == "." || device == "..";
  std::string link = dots ? "/devices?device=" : "/devices/";
  for (char c : device) {
    unsigned char byte = static_cast<unsigned char>(c);
    if (std::isalnum(byte) || byte == '-' || byte == '_' || byte == '.' || byte == '~') {
      link += c;
    } else {
      link += '%';
      link += kHex[byte >> 4];
      link += kHex[byte & 15];
    }
  }
  return link;
}

Answer TokenPage(int status, const std::string& message) {
  std::string out;
  AppendHead(&out, "Taxoscope");
  out += "<h1>Taxoscope</h1>\n<p>";
  AppendEscaped(&out, message);
  out += "</p>\n<form id=\"token-form\"><label>Ключ за четене: <input type=\"password\" id=\"token\" "
         "autocomplete=\"off\" required></label> <button type=\"submit\">Вход</button></form>\n"
         "<p class=\"meta\">Ключът остава само в този раздел на браузъра.</p>\n"
         "<noscript><p>Без JavaScript ключът идва от обратния прокси (Authorization: Bearer).</p></noscript>\n"
         "</body>\n</html>\n";
  return Page(out, status);
}

Answer IndexPage(LedgerFile& ledger, SumsCache* cache) {
  std::vector<LedgerDevice> devices;
  std::vector<std::vector<Finding>> findings;
  LedgerSelectionSums sums;
  std::string reason;
  bool read = InSnapshot(ledger, &reason, [&] {
    ResolvedSelection everything;
    if (ResolveSelection(ledger, LedgerSelection(), &everything, &reason) != SelectionOk ||
        !ListDevices(ledger, &devices, &reason) || !cache->Sums(ledger, everything, devices, true, &sums, &reason))
      return false;
    for (const LedgerDevice& device : devices) {
      ResolvedSelection one = everything;
      one.devices = {device.id};
      findings.emplace_back();
      if (!CheckLedger(ledger, one, &findings.back(), &reason)) return false;
    }
    return true;
  });
  if (!read) return Unreadable(reason);

  std::string out;
  AppendHead(&out, "Taxoscope: оборот по каси");
  out += "<h1>Оборот по каси</h1>\n<p class=\"meta\">Каси: " + std::to_string(devices.size()) +
         "</p>\n<p class=\"meta\">Отчети: " + std::to_string(sums.reports) + "</p>\n<h2>Каси</h2>\n";
  if (devices.empty()) {
    out += "<p>Няма каси.</p>\n";
  } else {
    out += "<table>\n<tr><th>Каса</th><th>Отчети</th><th>Първа дата</th><th>Последна дата</th>"
           "<th>Последно изпращане</th><th>Находки (грешки / предупреждения / бележки)</th></tr>\n";
    for (size_t i = 0; i < devices.size(); ++i) {
      const LedgerDevice& device = devices[i];
      const bool any = device.reports > 0;
      out += "<tr><td><a href=\"" + DevicePageLink(device.id) + "\">";
      AppendEscaped(&out, device.id);
      out += "</a></td>";
      AppendCell(&out, std::to_string(device.reports), true);
      AppendCell(&out, any ? device.firstAt : "-");
      AppendCell(&out, any ? device.lastAt : "-");
      AppendCell(&out, device.lastAdded);
      AppendCell(&out, FindingsSummary(findings[i]), true);
      out += "</tr>\n";
    }
    out += "</table>\n";
  }
  AppendLedgerHtmlSections(&out, sums);
  out += "</body>\n</html>\n";
  return Page(out);
}

Answer DevicePage(LedgerFile& ledger, const DumpArchive& archive, const std::string& device) {
  LedgerSelection selection;
  selection.devices = {device};
  ResolvedSelection resolved;
  LedgerSelectionSums sums;
  std::vector<Finding> findings;
  std::string reason;
  bool known = true;
  bool read = InSnapshot(ledger, &reason, [&] {
    switch (ResolveSelection(ledger, selection, &resolved, &reason)) {
      case SelectionOk: break;
      case SelectionUnknownDevice: known = false; return false;
      default: return false;
    }
    return QuerySums(ledger, resolved, &sums, &reason) && CheckLedger(ledger, resolved, &findings, &reason);
  });
  std::string out;
  if (!known) {
    AppendHead(&out, "Taxoscope");
    out += "<nav><a href=\"/\">Всички каси</a></nav>\n<h1>Няма такава каса</h1>\n<p>Регистърът не познава касата ";
    AppendEscaped(&out, device);
    out += ".</p>\n</body>\n</html>\n";
    return Page(out, 404);
  }
  if (!read) return Unreadable(reason);
  std::vector<StoredDump> stored, uploads;
  std::vector<std::string> skipped;
  std::string archiveError;
  archive.List(&stored, &skipped, &archiveError);
  for (const StoredDump& dump : stored)
    if (dump.device == device) uploads.push_back(dump);

  AppendHead(&out, "Taxoscope: каса " + device);
  out += "<nav><a href=\"/\">Всички каси</a></nav>\n<h1>Каса ";
  AppendEscaped(&out, device);
  out += "</h1>\n<p class=\"meta\">Отчети: " + std::to_string(sums.reports) + "</p>\n";
  AppendLedgerHtmlSections(&out, sums);
  out += "<h2>Проверка</h2>\n";
  AppendFindings(&out, findings);
  out += "<h2>Получени файлове</h2>\n";
  if (uploads.empty()) {
    out += "<p>Няма получени файлове.</p>\n";
  } else {
    out += "<table>\n<tr><th>Получена (UTC)</th><th>Име</th><th>SHA-256</th></tr>\n";
    for (auto it = uploads.rbegin(); it != uploads.rend(); ++it) {
      out += "<tr>";
      AppendCell(&out, it->addedAt);
      AppendCell(&out, ValidUtf8(it->name));
      AppendCell(&out, it->sha256);
      out += "</tr>\n";
    }
    out += "</table>\n";
  }
  out += "</body>\n</html>\n";
  return Page(out);
}
