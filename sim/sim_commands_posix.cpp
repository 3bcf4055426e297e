#include "sim/sim_commands.h"

const SimCommand kSimCommands[] = {
    {"generate", "write a realistic dump image to a file", RunGenerateCommand, PrintGenerateHelp},
    {"serve", "play the fiscal device on a pseudo-terminal, a tty or a TCP port", RunServeCommand, PrintServeHelp},
};
const size_t kSimCommandCount = sizeof(kSimCommands) / sizeof(kSimCommands[0]);
