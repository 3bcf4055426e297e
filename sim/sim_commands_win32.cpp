#include "sim/sim_commands.h"

// No pseudo-terminals on Windows: the device is served from Linux (Wine maps
// a COM port to its tty).
const SimCommand kSimCommands[] = {
    {"generate", "write a realistic dump image to a file", RunGenerateCommand, PrintGenerateHelp},
};
const size_t kSimCommandCount = sizeof(kSimCommands) / sizeof(kSimCommands[0]);
