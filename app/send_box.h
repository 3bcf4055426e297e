#pragma once
// The main dialog's "send" box: checked, every report run also sends the
// whole dump to the taxoscope-server of the settings (send/send_output.h).
// The server and the token are asked for in a small dialog the first time
// the box is checked, and again after the server refused the token; the
// token is kept sealed for the Windows user (token_vault.h).
#include <windows.h>

#include <memory>
#include <string>

#include "report/report_run.h"

// Asks for the server and the token (the stored server filled in), checks
// the address and keeps both. False when the user cancels.
bool AskForServerAndToken(HWND owner, const char* iniPath);

// Whether the settings hold a server and a token this user can unseal.
bool HasServerAndToken(const char* iniPath);

// The output of a run with "send" checked: the dump sent to the stored
// server; with no server or token kept, an output that says so when it runs.
std::unique_ptr<ReportOutput> MakeSendOutput(const char* iniPath);
