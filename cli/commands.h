#pragma once
// The subcommands of taxoscope-cli. Each takes the arguments after its own
// name and gives the process's exit status.

// Exit statuses shared by the subcommands.
constexpr int kExitOk = 0;
constexpr int kExitUsage = 2;

int RunReportCommand(int argc, char** argv);
void PrintReportHelp();

int RunReadCommand(int argc, char** argv);
void PrintReadHelp();

int RunPortsCommand(int argc, char** argv);
void PrintPortsHelp();

int RunExportCommand(int argc, char** argv);
void PrintExportHelp();

int RunSummaryCommand(int argc, char** argv);
void PrintSummaryHelp();

int RunInfoCommand(int argc, char** argv);
void PrintInfoHelp();

int RunCheckCommand(int argc, char** argv);
void PrintCheckHelp();

int RunSendCommand(int argc, char** argv);
void PrintSendHelp();

// ledger has subcommands, each with its own --help.
int RunLedgerCommand(int argc, char** argv);
void PrintLedgerHelp();
