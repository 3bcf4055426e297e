#pragma once
// The subcommands of taxoscope-cli ledger, each with the arguments after
// its own name.
int RunLedgerAddCommand(int argc, char** argv);
void PrintLedgerAddHelp();
int RunLedgerDevicesCommand(int argc, char** argv);
void PrintLedgerDevicesHelp();
int RunLedgerSummaryCommand(int argc, char** argv);
void PrintLedgerSummaryHelp();
int RunLedgerExportCommand(int argc, char** argv);
void PrintLedgerExportHelp();
int RunLedgerRemoveCommand(int argc, char** argv);
void PrintLedgerRemoveHelp();
int RunLedgerCheckCommand(int argc, char** argv);
void PrintLedgerCheckHelp();
