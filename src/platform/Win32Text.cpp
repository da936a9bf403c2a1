#include "platform/Win32Text.h"

#include <windows.h>

#include <climits>
#include <vector>

namespace platform::win32 {

std::wstring Widen(std::string_view utf8) {
  if (utf8.empty() || utf8.size() > INT_MAX) return {};
  const int size = static_cast<int>(utf8.size());
  const int length = ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), size, nullptr, 0);
  std::wstring out(static_cast<size_t>(length), L'\0');
  ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), size, out.data(), length);
  return out;
}

std::string Narrow(std::wstring_view utf16) {
  if (utf16.empty() || utf16.size() > INT_MAX) return {};
  const int size = static_cast<int>(utf16.size());
  const int length = ::WideCharToMultiByte(CP_UTF8, 0, utf16.data(), size, nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<size_t>(length), '\0');
  ::WideCharToMultiByte(CP_UTF8, 0, utf16.data(), size, out.data(), length, nullptr, nullptr);
  return out;
}

std::wstring LongPath(std::wstring_view path) {
  std::wstring given(path);
  for (wchar_t& c : given)
    if (c == L'/') c = L'\\';
  // "\\?\" and "\\.\" paths are taken as they are written.
  if (given.rfind(L"\\\\?\\", 0) == 0 || given.rfind(L"\\\\.\\", 0) == 0) return given;
  const bool drive = given.size() >= 3 && given[1] == L':' && given[2] == L'\\';
  const bool unc = given.size() > 2 && given[0] == L'\\' && given[1] == L'\\';
  if (!drive && !unc) return given;
  std::vector<wchar_t> buffer(given.size() + 16);
  for (;;) {
    const DWORD n = ::GetFullPathNameW(given.c_str(), static_cast<DWORD>(buffer.size()), buffer.data(), nullptr);
    if (n == 0) return given;
    if (n < buffer.size()) {
      const std::wstring full(buffer.data(), n);
      if (full.rfind(L"\\\\", 0) == 0) return L"\\\\?\\UNC\\" + full.substr(2);
      return L"\\\\?\\" + full;
    }
    buffer.resize(n + 1);
  }
}

std::wstring LongPath(std::string_view utf8) { return LongPath(std::wstring_view(Widen(utf8))); }

}  // namespace platform::win32
