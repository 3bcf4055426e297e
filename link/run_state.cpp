#include "link/run_state.h"

int busyFlag = 0;
int cancelFlag = 0;
int interruptFlag = 0;
int32_t readTimeout = 5;
uint8_t portPresent[256];
