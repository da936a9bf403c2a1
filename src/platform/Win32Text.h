#pragma once
// UTF-8 text to and from the UTF-16 of the wide-character Windows interfaces. Windows only; used
// inside the platform layer, which is the one place that includes <windows.h>.

#include <string>
#include <string_view>

namespace platform::win32 {

// Invalid UTF-8 becomes U+FFFD, as Windows converts it.
std::wstring Widen(std::string_view utf8);
std::string Narrow(std::wstring_view utf16);

}  // namespace platform::win32
