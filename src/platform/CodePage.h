#pragma once
// Conversion between the program's text (UTF-8, the locale's code page here) and the code page
// of archive entry names, CP936 (GBK). A character without an equivalent becomes '?'.

#include <string>
#include <string_view>

namespace platform {

std::string Utf8ToGbk(std::string_view utf8);
std::string GbkToUtf8(std::string_view gbk);

}  // namespace platform
