#pragma once
// UTF-8 text to and from the UTF-16 of the wide-character Windows interfaces. Windows only; used
// inside the platform layer, which is the one place that includes <windows.h>.

#include <string>
#include <string_view>

namespace platform::win32 {

// Invalid UTF-8 becomes U+FFFD, as Windows converts it.
std::wstring Widen(std::string_view utf8);
std::string Narrow(std::wstring_view utf16);

// A path for the wide-character file functions: '/' becomes '\', and an absolute path (a drive
// letter or a UNC name) is made whole ('.', '..' and doubled separators resolved, as Win32 itself
// would) and given the "\\?\" (or "\\?\UNC\") form, which Windows takes beyond MAX_PATH
// (260) characters. Relative paths and paths already in a device form stay as they are.
std::wstring LongPath(std::wstring_view path);
std::wstring LongPath(std::string_view utf8);
inline std::wstring LongPath(const std::string& utf8) { return LongPath(std::string_view(utf8)); }
inline std::wstring LongPath(const std::wstring& path) { return LongPath(std::wstring_view(path)); }

}  // namespace platform::win32
