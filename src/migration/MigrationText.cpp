#include "migration/MigrationText.h"

#include <cstdint>

namespace migration {
namespace {

// What TakeUtf8 returns for a sequence that is not a code point.
constexpr char32_t kMalformed = 0x110000;

// Decodes the UTF-8 sequence at the front of `text` (whose first byte is not ASCII) and removes
// it; returns kMalformed for a malformed, overlong or surrogate sequence.
char32_t TakeUtf8(std::string_view& text) {
  const auto lead = static_cast<unsigned char>(text.front());
  const size_t length = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 1;
  constexpr char32_t kSmallest[] = {0, 0, 0x80, 0x800, 0x10000};
  char32_t c = length == 1 ? kMalformed : lead & (0x7F >> length);
  for (size_t i = 1; i < length; ++i) {
    const auto next = i < text.size() ? static_cast<unsigned char>(text[i]) : 0u;
    if ((next & 0xC0) != 0x80) {
      text.remove_prefix(i);
      return kMalformed;
    }
    c = (c << 6) | (next & 0x3F);
  }
  text.remove_prefix(length);
  if (length == 1 || lead >= 0xF8 || c < kSmallest[length] || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF))
    return kMalformed;
  return c;
}

bool IsBlankOrControl(char c) { return static_cast<unsigned char>(c) <= ' '; }

char LowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool IsAsciiLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }

bool IsPlainPart(std::string_view part) {
  // A leading '$' would start a dollar-quoted string ($a$, $$) or name a parameter ($1).
  if (part.empty() || IsDigit(part.front()) || part.front() == '$') return false;
  while (!part.empty()) {
    const char c = part.front();
    if (static_cast<unsigned char>(c) >= 0x80) {
      if (TakeUtf8(part) == kMalformed) return false;
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
#ifdef _WIN32
  // Windows takes either separator; a path from its dialogs has '\'.
  const size_t slash = path.find_last_of("/\\");
#else
  const size_t slash = path.rfind('/');
#endif
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
