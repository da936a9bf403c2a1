#pragma once
// The programs' version and their --version option.

#include <string>

namespace platform {

// The version the project declares (CMake's project version), for example "1.0".
std::string ProgramVersion();

// When the command line `argc`/`argv` is exactly `program --version`, prints
// "<program> <version>" and a line end on standard output and returns true; the caller then
// ends with exit code 0. Returns false for every other command line, without printing.
bool HandleVersionOption(int argc, char** argv, const char* program);

}  // namespace platform
