#pragma once
// The hidden file list fllst1 of the main window, as the restore reads it.

#include <string>
#include <vector>

namespace migration {

// The names (without path) of the plain files in `directory`: no directories, no hidden files
// (names starting with '.'), sorted ascending without regard to the case of ASCII letters.
// Raises std::filesystem::filesystem_error when the directory cannot be read.
std::vector<std::string> ListPlainFiles(const std::string& directory);

}  // namespace migration
