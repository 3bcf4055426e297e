#pragma once
// The subcommands of taxoscope-sim. Each takes the arguments after its own
// name and gives the process's exit status.
#include <cstddef>

constexpr int kExitOk = 0;
constexpr int kExitFailure = 1;  // a file, the line or the terminal failed
constexpr int kExitUsage = 2;

struct SimCommand {
  const char* name;
  const char* summary;
  int (*run)(int argc, char** argv);
  void (*help)();
};

// The commands of this platform's build (serve needs a POSIX pseudo-terminal).
extern const SimCommand kSimCommands[];
extern const size_t kSimCommandCount;

int RunGenerateCommand(int argc, char** argv);
void PrintGenerateHelp();
int RunServeCommand(int argc, char** argv);
void PrintServeHelp();
