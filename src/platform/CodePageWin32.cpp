// GBK through the system's code page 936, with the same rule as elsewhere: a character without
// an equivalent, or bytes that are not a valid character, become one '?'.
#include <windows.h>

#include <algorithm>
#include <climits>

#include "platform/CodePage.h"
#include "platform/Win32Text.h"

namespace platform {
namespace {

constexpr UINT kGbk = 936;

// Bytes to UTF-16 in one call; false when any of them is not valid in the code page.
bool ToWide(UINT codePage, std::string_view in, std::wstring& out) {
  out.clear();
  if (in.empty()) return true;
  if (in.size() > INT_MAX) return false;
  const int size = static_cast<int>(in.size());
  const int length = ::MultiByteToWideChar(codePage, MB_ERR_INVALID_CHARS, in.data(), size, nullptr, 0);
  if (length <= 0) return false;
  out.resize(static_cast<size_t>(length));
  ::MultiByteToWideChar(codePage, MB_ERR_INVALID_CHARS, in.data(), size, out.data(), length);
  return true;
}

// Converts character by character: `next` gives the length of the character starting at a
// position; a character that does not convert becomes '?' and is skipped whole.
template <typename NextLength>
std::wstring ToWideEach(UINT codePage, std::string_view in, NextLength next) {
  std::wstring out;
  std::wstring one;
  for (size_t pos = 0; pos < in.size();) {
    const size_t length = std::min(next(in.substr(pos)), in.size() - pos);
    if (ToWide(codePage, in.substr(pos, length), one)) {
      out += one;
    } else {
      out += L'?';
    }
    pos += length;
  }
  return out;
}

size_t Utf8Length(std::string_view s) {
  const auto c = static_cast<unsigned char>(s[0]);
  return c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : c >= 0xC0 ? 2 : 1;
}

// A lead byte followed by a trail byte is one double-byte character, even when it has no
// equivalent; anything else is one byte.
size_t GbkLength(std::string_view s) {
  if (s.size() < 2) return 1;
  const auto lead = static_cast<unsigned char>(s[0]);
  const auto trail = static_cast<unsigned char>(s[1]);
  return lead >= 0x81 && lead <= 0xFE && trail >= 0x40 && trail <= 0xFE && trail != 0x7F ? 2 : 1;
}

bool IsHighSurrogate(wchar_t c) { return c >= 0xD800 && c <= 0xDBFF; }

}  // namespace

std::string Utf8ToGbk(std::string_view utf8) {
  std::wstring wide;
  if (!ToWide(CP_UTF8, utf8, wide)) wide = ToWideEach(CP_UTF8, utf8, Utf8Length);
  // GBK has nothing beyond the Basic Multilingual Plane: such a character is one '?', not two.
  std::wstring bmp;
  bmp.reserve(wide.size());
  for (size_t i = 0; i < wide.size(); ++i) {
    if (IsHighSurrogate(wide[i]) && i + 1 < wide.size()) {
      bmp += L'?';
      ++i;
    } else {
      bmp += wide[i];
    }
  }
  if (bmp.empty() || bmp.size() > INT_MAX) return {};
  // No "best fit" either: a character GBK lacks must not turn into a look-alike.
  const int size = static_cast<int>(bmp.size());
  const int length = ::WideCharToMultiByte(kGbk, WC_NO_BEST_FIT_CHARS, bmp.data(), size, nullptr, 0, "?", nullptr);
  std::string out(static_cast<size_t>(length), '\0');
  ::WideCharToMultiByte(kGbk, WC_NO_BEST_FIT_CHARS, bmp.data(), size, out.data(), length, "?", nullptr);
  return out;
}

std::string GbkToUtf8(std::string_view gbk) {
  std::wstring wide;
  if (!ToWide(kGbk, gbk, wide)) wide = ToWideEach(kGbk, gbk, GbkLength);
  return win32::Narrow(wide);
}

}  // namespace platform
