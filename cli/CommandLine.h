#pragma once
// The program's arguments in UTF-8, the encoding of every path and text inside Kestrel. On
// Windows main's argv is in the "ANSI" code page, which cannot hold every file name (a Chinese
// name on an English system, say); the wide command line can. One implementation per platform.

#include <string>
#include <vector>

std::vector<std::string> CommandLineArguments(int argc, char** argv);
