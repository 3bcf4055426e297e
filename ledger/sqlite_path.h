#pragma once
// A file name as SQLite takes it: UTF-8. Windows gives names in the ANSI
// code page (Windows-1251 on a Bulgarian system); POSIX names go as they are.
#include <string>

std::string SqlitePath(const std::string& path);
