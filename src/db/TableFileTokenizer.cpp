#include "db/TableFileTokenizer.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "db/TableFileError.h"
#include "db/TableFileFormat.h"

namespace db::tablefile {

namespace {

// The buffer starts small (most TableFiles are), doubles with each read up to its working size,
// and beyond that only for a tag that does not fit.
constexpr std::size_t kFirstBufferSize = 8 * 1024;
constexpr std::size_t kWorkingBufferSize = 256 * 1024;
// "&#x10FFFF;" and "&#1114111;" are the longest references worth reading.
constexpr std::ptrdiff_t kLongestReference = 12;

bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

// Bytes that end a name: white space and the characters of the tag's own syntax.
constexpr std::array<bool, 256> kEndsName = [] {
  std::array<bool, 256> table{};
  for (unsigned char c : {' ', '\t', '\n', '\r', '=', '/', '>', '<', '"', '\'', '&'}) table[c] = true;
  return table;
}();

// Bytes inside a value that need a closer look: quotes, a reference, '<', and the bytes of
// characters beyond ASCII (checked to be UTF-8).
constexpr std::array<bool, 256> kStopsValue = [] {
  std::array<bool, 256> table{};
  for (unsigned char c : {'"', '\'', '&', '<'}) table[c] = true;
  for (int c = 0x80; c < 0x100; ++c) table[c] = true;
  return table;
}();

// The character a reference's text (between '&' and ';') stands for: the five named entities and
// decimal or hexadecimal character references of any character.
bool DecodeReference(std::string_view body, char32_t& code) {
  if (body == "amp") code = '&';
  else if (body == "lt") code = '<';
  else if (body == "gt") code = '>';
  else if (body == "quot") code = '"';
  else if (body == "apos") code = '\'';
  else {
    if (body.size() < 2 || body[0] != '#') return false;
    const bool hex = body[1] == 'x';
    const std::string_view digits = body.substr(hex ? 2 : 1);
    if (digits.empty()) return false;
    code = 0;
    for (char c : digits) {
      int digit;
      if (c >= '0' && c <= '9') digit = c - '0';
      else if (hex && c >= 'a' && c <= 'f') digit = c - 'a' + 10;
      else if (hex && c >= 'A' && c <= 'F') digit = c - 'A' + 10;
      else return false;
      code = code * (hex ? 16 : 10) + static_cast<char32_t>(digit);
      if (code > 0x10FFFF) return false;
    }
    if (code >= 0xD800 && code <= 0xDFFF) return false;
  }
  return true;
}

const char* FindAfter(const char* p, const char* end, std::string_view what) {
  const std::string_view text(p, static_cast<std::size_t>(end - p));
  const std::size_t at = text.find(what);
  return at == std::string_view::npos ? nullptr : p + at + what.size();
}

// Line and column (1-based, in characters; CR LF, CR and LF each end a line) of an offset in the
// file's text, found by reading the file again: positions are wanted only when something fails,
// so the reading itself does not keep count.
std::string Position(const std::string& path, std::uint64_t offset) {
  try {
    TableFileInput input(path);
    std::vector<char> chunk(16 * 1024);
    std::uint64_t line = 1, column = 1, at = 0;
    bool afterCr = false;
    while (at < offset) {
      const std::size_t got = input.Read(chunk.data(), chunk.size());
      if (got == 0) break;
      for (std::size_t i = 0; i < got && at < offset; ++i, ++at) {
        const auto c = static_cast<unsigned char>(chunk[i]);
        if (c == '\n' || c == '\r') {
          if (!(c == '\n' && afterCr)) ++line;
          column = 1;
        } else if ((c & 0xC0) != 0x80) {
          ++column;
        }
        afterCr = c == '\r';
      }
    }
    return " (line " + std::to_string(line) + ", column " + std::to_string(column) + ")";
  } catch (const ETableFileError&) {
    return std::string();
  }
}

}  // namespace

const TagAttribute* Tag::Find(std::string_view attributeName) const {
  for (const auto& a : attributes)
    if (a.name == attributeName) return &a;
  return nullptr;
}

TableFileTokenizer::TableFileTokenizer(const std::string& path) : path_(path), input_(path), buffer_(kFirstBufferSize) {}

void TableFileTokenizer::Rewind() {
  input_.Rewind();
  pos_ = end_ = 0;
  base_ = tagOffset_ = 0;
}

void TableFileTokenizer::FailAtOffset(const std::string& why, std::uint64_t offset) const {
  throw ETableFileError("The file \"" + path_ + "\" is not a valid table file: " + why + Position(path_, offset));
}

void TableFileTokenizer::FailAtPointer(const std::string& why, const char* where) const {
  FailAtOffset(why, base_ + static_cast<std::uint64_t>(where - buffer_.data()));
}

void TableFileTokenizer::FailAt(const std::string& why, const TagAttribute& attribute) const {
  FailAtPointer(why, attribute.value.data());
}

bool TableFileTokenizer::Refill() {
  const std::size_t keep = end_ - pos_;
  std::memmove(buffer_.data(), buffer_.data() + pos_, keep);
  base_ += pos_;
  pos_ = 0;
  end_ = keep;
  // A tag longer than half the buffer (a large binary value) doubles it, so that scanning it
  // again after each read costs no more than the tag's own length.
  if (buffer_.size() < kWorkingBufferSize || buffer_.size() - end_ < buffer_.size() / 2) buffer_.resize(buffer_.size() * 2);
  const std::size_t got = input_.Read(buffer_.data() + end_, buffer_.size() - end_);
  if (got == 0 && input_.Malformed()) FailAtOffset("the file is not valid UTF-16", base_ + end_);
  end_ += got;
  return got > 0;
}

const Tag& TableFileTokenizer::Next() {
  for (;;) {
    const char* const data = buffer_.data();
    const char* p = data + pos_;
    const char* const end = data + end_;
    while (p < end && IsSpace(*p)) ++p;
    pos_ = static_cast<std::size_t>(p - data);
    if (p < end) {
      if (*p != '<') FailAtPointer("unexpected text between tags", p);
      const char* next = nullptr;
      bool isTag = false;
      if (end - p >= 2 && p[1] == '?') {
        next = FindAfter(p + 2, end, "?>");
      } else if (end - p >= 2 && p[1] == '!') {
        if (end - p >= 4) {
          if (std::memcmp(p, "<!--", 4) != 0) FailAtPointer("unexpected markup (only tags and comments may stand here)", p);
          next = FindAfter(p + 4, end, "-->");
        }
      } else if (end - p >= 2) {
        next = ScanTag(p, end);
        isTag = true;
      }
      if (next) {
        pos_ = static_cast<std::size_t>(next - data);
        if (!isTag) continue;
        tagOffset_ = base_ + static_cast<std::uint64_t>(p - data);
        return tag_;
      }
    }
    const bool inside = p < end;
    if (!Refill()) {
      if (inside) FailAtOffset("the file ends too early", base_ + end_);
      tag_.kind = Tag::Kind::kEndOfFile;
      tag_.name = {};
      tag_.attributes.clear();
      tagOffset_ = base_ + end_;
      return tag_;
    }
  }
}

const char* TableFileTokenizer::ScanTag(const char* p, const char* end) {
  const char* q = p + 1;
  const bool closing = *q == '/';
  if (closing) ++q;
  const char* name = q;
  while (q < end && !kEndsName[static_cast<unsigned char>(*q)]) ++q;
  if (q == end) return nullptr;
  if (q == name) FailAtPointer("malformed tag: a name must follow '<'", q);
  tag_.name = std::string_view(name, static_cast<std::size_t>(q - name));
  tag_.attributes.clear();
  for (;;) {
    const char* const gap = q;
    while (q < end && IsSpace(*q)) ++q;
    if (q == end) return nullptr;
    if (*q == '>') {
      tag_.kind = closing ? Tag::Kind::kEnd : Tag::Kind::kStart;
      return q + 1;
    }
    if (closing) FailAtPointer("malformed end tag: '>' expected", q);
    if (*q == '/') {
      if (q + 1 == end) return nullptr;
      if (q[1] != '>') FailAtPointer("malformed tag: '>' expected after '/'", q + 1);
      tag_.kind = Tag::Kind::kEmpty;
      return q + 2;
    }
    if (q == gap) FailAtPointer("malformed tag: white space expected before an attribute", q);
    const char* attributeName = q;
    while (q < end && !kEndsName[static_cast<unsigned char>(*q)]) ++q;
    if (q == end) return nullptr;
    if (q == attributeName) FailAtPointer("malformed tag: unexpected character", q);
    const std::string_view nameText(attributeName, static_cast<std::size_t>(q - attributeName));
    while (q < end && IsSpace(*q)) ++q;
    if (q == end) return nullptr;
    if (*q != '=') FailAtPointer("malformed tag: '=' expected after \"" + std::string(nameText) + "\"", q);
    ++q;
    while (q < end && IsSpace(*q)) ++q;
    if (q == end) return nullptr;
    if (*q != '"' && *q != '\'') FailAtPointer("malformed tag: the value of \"" + std::string(nameText) + "\" is not quoted", q);
    const char quote = *q++;
    const char* const value = q;
    bool plain = true;
    for (;;) {
      while (q < end && !kStopsValue[static_cast<unsigned char>(*q)]) ++q;
      if (q == end) return nullptr;
      const char c = *q;
      if (c == quote) break;
      if (c == '"' || c == '\'') {
        ++q;
      } else if (c == '<') {
        FailAtPointer("malformed value: '<' inside the value of \"" + std::string(nameText) + "\"", q);
      } else if (c == '&') {
        q = ScanReference(q, end);
        plain = false;
      } else {
        q = ScanValueCharacter(q, end);
      }
      if (!q) return nullptr;
    }
    tag_.attributes.push_back({nameText, std::string_view(value, static_cast<std::size_t>(q - value)), plain});
    ++q;
  }
}

const char* TableFileTokenizer::ScanReference(const char* p, const char* end) const {
  const char* const limit = end - p > kLongestReference ? p + kLongestReference : end;
  const char* q = p + 1;
  while (q < limit && *q != ';') ++q;
  if (q == end) return nullptr;
  char32_t code;
  if (q == limit || !DecodeReference(std::string_view(p + 1, static_cast<std::size_t>(q - p - 1)), code)) {
    FailAtPointer("malformed reference \"" + std::string(p, static_cast<std::size_t>(q - p)) + "\"", p);
  }
  return q + 1;
}

const char* TableFileTokenizer::ScanValueCharacter(const char* p, const char* end) const {
  char32_t code;
  const int length = DecodeUtf8(p, end, code);
  if (length < 0) FailAtPointer("the text is not UTF-8", p);
  return length == 0 ? nullptr : p + length;
}

void TableFileTokenizer::AppendText(const TagAttribute& attribute, std::string& out) {
  const char* p = attribute.value.data();
  const char* const end = p + attribute.value.size();
  while (p < end) {
    const auto* amp = static_cast<const char*>(std::memchr(p, '&', static_cast<std::size_t>(end - p)));
    if (!amp) {
      out.append(p, end);
      return;
    }
    out.append(p, amp);
    // The tag was scanned: every '&' begins a well-formed reference.
    const auto* semicolon = static_cast<const char*>(std::memchr(amp, ';', static_cast<std::size_t>(end - amp)));
    char32_t code = 0;
    DecodeReference(std::string_view(amp + 1, static_cast<std::size_t>(semicolon - amp - 1)), code);
    char utf8[4];
    out.append(utf8, EncodeUtf8(code, utf8));
    p = semicolon + 1;
  }
}

}  // namespace db::tablefile
