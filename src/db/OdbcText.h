#pragma once
// UTF-8 <-> UTF-16 for the wide ODBC functions (SQLWCHAR is 16 bits with unixODBC and on
// Windows). Surrogate pairs are combined; malformed input raises instead of being guessed at.

#include <cstddef>
#include <string>
#include <string_view>

namespace db {

std::u16string Utf8ToUtf16(std::string_view utf8);
std::string Utf16ToUtf8(std::u16string_view utf16);
// Appends the UTF-8 form of `count` UTF-16 units to `out`.
void AppendUtf16AsUtf8(const char16_t* units, std::size_t count, std::string& out);

}  // namespace db
