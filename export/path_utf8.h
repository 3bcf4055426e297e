#pragma once
// A file name as the exports show it, in UTF-8. Windows gives names in the
// ANSI code page (Windows-1251 on a Bulgarian system); POSIX systems give
// bytes that are UTF-8 in practice.
#include <string>

std::string PathAsUtf8(const std::string& path);
