// taxoscope-server: the ledger of many shops' registers on the office's
// machine; the shops send their dumps over HTTPS, the accountant reads the
// VAT table in a browser or a program.
#include <cstdio>
#include <cstring>
#include <string>

#include "server/server_commands.h"
#include "taxoscope_version.h"

namespace {

struct Command {
  const char* name;
  const char* summary;
  int (*run)(int argc, char** argv);
  void (*help)();
  bool subcommands = false;
};

const Command kCommands[] = {
    {"serve", "take dumps over HTTP(S), serve the ledger's answers and pages", RunServeCommand, PrintServeHelp},
    {"token", "add, list or remove the tokens of the shops and readers", RunTokenCommand, PrintTokenHelp, true},
    {"register", "add, list or remove the registers the office knows and reads", RunRegisterCommand,
     PrintRegisterHelp, true},
    {"rebuild", "make the ledger again from the stored dumps alone", RunRebuildCommand, PrintRebuildHelp},
    {"withdraw", "take back an upload sent by mistake, kept aside with the reason", RunWithdrawCommand,
     PrintWithdrawHelp},
};

void PrintUsage(FILE* out) {
  std::fprintf(out, "usage: taxoscope-server COMMAND [options]\n\ncommands:\n");
  for (const Command& command : kCommands) std::fprintf(out, "  %-8s %s\n", command.name, command.summary);
  std::fprintf(out,
               "\n'taxoscope-server COMMAND --help' explains a command;\n"
               "'taxoscope-server --version' prints the version.\n");
}

}  // namespace

int ServerUsage(const char* command, const char* usage, const std::string& problem) {
  std::fprintf(stderr, "taxoscope-server %s: %s\nusage: %s\n", command, problem.c_str(), usage);
  return kServerExitUsage;
}

int main(int argc, char** argv) {
  if (argc < 2) {
    PrintUsage(stderr);
    return kServerExitUsage;
  }
  if (!std::strcmp(argv[1], "--help") || !std::strcmp(argv[1], "-h") || !std::strcmp(argv[1], "help")) {
    PrintUsage(stdout);
    return kServerExitOk;
  }
  if (!std::strcmp(argv[1], "--version")) {
    std::printf("taxoscope-server %s\n", TAXOSCOPE_VERSION);
    return kServerExitOk;
  }
  for (const Command& command : kCommands) {
    if (std::strcmp(argv[1], command.name) != 0) continue;
    for (int i = 2; i < argc && !command.subcommands; ++i) {
      if (!std::strcmp(argv[i], "--help") || !std::strcmp(argv[i], "-h")) {
        command.help();
        return kServerExitOk;
      }
    }
    return command.run(argc - 2, argv + 2);
  }
  std::fprintf(stderr, "taxoscope-server: unknown command '%s'\n\n", argv[1]);
  PrintUsage(stderr);
  return kServerExitUsage;
}
