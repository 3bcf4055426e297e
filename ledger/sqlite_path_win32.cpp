#include "ledger/sqlite_path.h"

#include "export/path_utf8.h"

std::string SqlitePath(const std::string& path) { return PathAsUtf8(path); }
