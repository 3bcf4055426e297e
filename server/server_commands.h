#pragma once
// The commands of taxoscope-server, each with the arguments after its name.
#include <string>

constexpr int kServerExitOk = 0;
constexpr int kServerExitFailed = 1;  // the state folder, the ledger or the address cannot be used
constexpr int kServerExitUsage = 2;

int RunServeCommand(int argc, char** argv);
void PrintServeHelp();
int RunTokenCommand(int argc, char** argv);
void PrintTokenHelp();
int RunRegisterCommand(int argc, char** argv);
void PrintRegisterHelp();
int RunRebuildCommand(int argc, char** argv);
void PrintRebuildHelp();
int RunWithdrawCommand(int argc, char** argv);
void PrintWithdrawHelp();

// "taxoscope-server CMD: problem" and the usage line on stderr; the usage status.
int ServerUsage(const char* command, const char* usage, const std::string& problem);
