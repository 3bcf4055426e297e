// taxoscope-sim: realistic dump images and a fiscal device on a serial line,
// for tests and demonstrations.
#include <cstdio>
#include <cstring>

#include "sim/sim_commands.h"
#include "taxoscope_version.h"

namespace {

bool IsHelp(const char* arg) {
  return !std::strcmp(arg, "--help") || !std::strcmp(arg, "-h") || !std::strcmp(arg, "help");
}

void PrintUsage(FILE* out) {
  std::fprintf(out, "usage: taxoscope-sim COMMAND [options]\n\ncommands:\n");
  for (size_t i = 0; i < kSimCommandCount; ++i)
    std::fprintf(out, "  %-9s %s\n", kSimCommands[i].name, kSimCommands[i].summary);
  std::fprintf(out, "\n'taxoscope-sim COMMAND --help' explains a command;\n"
                    "'taxoscope-sim --version' prints the version.\n");
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    PrintUsage(stderr);
    return kExitUsage;
  }
  if (IsHelp(argv[1])) {
    PrintUsage(stdout);
    return kExitOk;
  }
  if (!std::strcmp(argv[1], "--version")) {
    std::printf("taxoscope-sim %s\n", TAXOSCOPE_VERSION);
    return kExitOk;
  }
  for (size_t c = 0; c < kSimCommandCount; ++c) {
    const SimCommand& command = kSimCommands[c];
    if (std::strcmp(argv[1], command.name) != 0) continue;
    for (int i = 2; i < argc; ++i) {
      if (!std::strcmp(argv[i], "--help") || !std::strcmp(argv[i], "-h")) {
        command.help();
        return kExitOk;
      }
    }
    return command.run(argc - 2, argv + 2);
  }
  std::fprintf(stderr, "taxoscope-sim: unknown command '%s'\n\n", argv[1]);
  PrintUsage(stderr);
  return kExitUsage;
}
