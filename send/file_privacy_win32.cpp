#include "send/file_privacy.h"

bool OthersMayRead(const std::string&) { return false; }
