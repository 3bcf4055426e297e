#include "export/path_utf8.h"

#include "export/utf8_text.h"

std::string PathAsUtf8(const std::string& path) { return ValidUtf8(path); }
