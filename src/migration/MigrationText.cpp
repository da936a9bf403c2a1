#include "migration/MigrationText.h"

#include <algorithm>
#include <cstdint>
#include <iterator>

namespace migration {
namespace {

// The letters (Unicode general category L) of the scripts that names of report tables and columns
// are written in: Latin with its extensions and IPA, Greek, Cyrillic, Armenian, Hebrew, Arabic,
// Thai, Hangul, Hiragana, Katakana, Bopomofo, the CJK ideographs of every plane and the fullwidth
// and halfwidth forms. Inside those blocks the ranges leave out what is not a letter: signs such
// as U+00D7 and U+00F7, punctuation such as U+037E GREEK QUESTION MARK (which reads as ';'),
// digits, combining marks. Unassigned code points between two letters count with them. Sorted,
// inclusive.
struct TLetterRange {
  char32_t first, last;
};
constexpr TLetterRange kLetterRanges[] = {
    {0x00C0, 0x00D6},   {0x00D8, 0x00F6},   {0x00F8, 0x024F},   {0x0250, 0x02AF},   {0x0370, 0x0374},
    {0x0376, 0x037D},   {0x037F, 0x037F},   {0x0386, 0x0386},   {0x0388, 0x03F5},   {0x03F7, 0x03FF},
    {0x0400, 0x0481},   {0x048A, 0x052F},   {0x0531, 0x0559},   {0x0560, 0x0588},   {0x05D0, 0x05F2},
    {0x0620, 0x064A},   {0x066E, 0x066F},   {0x0671, 0x06D3},   {0x06D5, 0x06D5},   {0x06E5, 0x06E6},
    {0x06EE, 0x06EF},   {0x06FA, 0x06FC},   {0x06FF, 0x06FF},   {0x0E01, 0x0E30},   {0x0E32, 0x0E33},
    {0x0E40, 0x0E46},   {0x1100, 0x11FF},   {0x1E00, 0x1FBC},   {0x1FBE, 0x1FBE},   {0x1FC2, 0x1FCC},
    {0x1FD0, 0x1FDB},   {0x1FE0, 0x1FEC},   {0x1FF2, 0x1FFC},   {0x3041, 0x3096},   {0x309D, 0x309F},
    {0x30A1, 0x30FA},   {0x30FC, 0x30FF},   {0x3105, 0x312F},   {0x3131, 0x318E},   {0x31A0, 0x31BF},
    {0x31F0, 0x31FF},   {0x3400, 0x4DBF},   {0x4E00, 0x9FFF},   {0xAC00, 0xD7A3},   {0xF900, 0xFAD9},
    {0xFF21, 0xFF3A},   {0xFF41, 0xFF5A},   {0xFF66, 0xFFDC},   {0x20000, 0x3134A},
};

bool IsListedLetter(char32_t c) {
  const auto* after = std::upper_bound(std::begin(kLetterRanges), std::end(kLetterRanges), c,
                                       [](char32_t v, const TLetterRange& r) { return v < r.first; });
  return after != std::begin(kLetterRanges) && c <= std::prev(after)->last;
}

// Decodes the UTF-8 sequence at the front of `text` (whose first byte is not ASCII) and removes
// it; returns U+FFFF for a malformed, overlong or surrogate sequence, which no range lists.
char32_t TakeUtf8(std::string_view& text) {
  const auto lead = static_cast<unsigned char>(text.front());
  const size_t length = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 1;
  constexpr char32_t kSmallest[] = {0, 0, 0x80, 0x800, 0x10000};
  char32_t c = length == 1 ? 0xFFFF : lead & (0x7F >> length);
  for (size_t i = 1; i < length; ++i) {
    const auto next = i < text.size() ? static_cast<unsigned char>(text[i]) : 0u;
    if ((next & 0xC0) != 0x80) {
      text.remove_prefix(i);
      return 0xFFFF;
    }
    c = (c << 6) | (next & 0x3F);
  }
  text.remove_prefix(length);
  if (length == 1 || lead >= 0xF8 || c < kSmallest[length] || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF))
    return 0xFFFF;
  return c;
}

bool IsBlankOrControl(char c) { return static_cast<unsigned char>(c) <= ' '; }

char LowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool IsAsciiLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }

bool IsPlainPart(std::string_view part) {
  if (part.empty() || IsDigit(part.front())) return false;
  while (!part.empty()) {
    const char c = part.front();
    if (static_cast<unsigned char>(c) >= 0x80) {
      if (!IsListedLetter(TakeUtf8(part))) return false;
      continue;
    }
    if (!IsAsciiLetter(c) && !IsDigit(c) && c != '_' && c != '$') return false;
    part.remove_prefix(1);
  }
  return true;
}

}  // namespace

std::string TrimText(std::string_view text) {
  size_t begin = 0;
  size_t end = text.size();
  while (begin < end && IsBlankOrControl(text[begin])) ++begin;
  while (end > begin && IsBlankOrControl(text[end - 1])) --end;
  return std::string(text.substr(begin, end - begin));
}

bool SameTextAscii(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (LowerAscii(a[i]) != LowerAscii(b[i])) return false;
  }
  return true;
}

std::string FolderPart(std::string_view path) {
  const size_t slash = path.rfind('/');
  if (slash == std::string_view::npos) return {};
  return std::string(path.substr(0, slash + 1));
}

std::string ExtensionOf(std::string_view name) {
  const size_t dot = name.rfind('.');
  if (dot == std::string_view::npos) return {};
  return std::string(name.substr(dot));
}

std::string QuotedText(std::string_view text, TBackslashes backslashes) {
  std::string quoted;
  quoted.reserve(text.size() + 2);
  AppendQuotedText(quoted, text, backslashes);
  return quoted;
}

void AppendQuotedText(std::string& out, std::string_view text, TBackslashes backslashes) {
  out.push_back('\'');
  const char* special = backslashes == TBackslashes::Escape ? "'\\" : "'";
  // Runs without a character to double are copied whole.
  for (size_t at = 0; at < text.size();) {
    const size_t next = text.find_first_of(special, at);
    if (next == std::string_view::npos) {
      out.append(text.substr(at));
      break;
    }
    out.append(text.substr(at, next + 1 - at));
    out.push_back(text[next]);
    at = next + 1;
  }
  out.push_back('\'');
}

bool IsPlainIdentifier(std::string_view name) {
  size_t start = 0;
  while (true) {
    const size_t dot = name.find('.', start);
    const std::string_view part =
        name.substr(start, dot == std::string_view::npos ? std::string_view::npos : dot - start);
    if (!IsPlainPart(part)) return false;
    if (dot == std::string_view::npos) return true;
    start = dot + 1;
  }
}

bool IsIntegerLiteral(std::string_view text) {
  if (!text.empty() && text.front() == '-') text.remove_prefix(1);
  if (text.empty()) return false;
  for (char c : text) {
    if (!IsDigit(c)) return false;
  }
  return true;
}

}  // namespace migration
