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
// The namespaces XML binds itself: the prefix "xml", and "xmlns" of the declarations.
constexpr char kNsXml[] = "http://www.w3.org/XML/1998/namespace";
constexpr char kNsXmlns[] = "http://www.w3.org/2000/xmlns/";
// Up to this many attributes are checked pairwise for one given twice; more are sorted.
constexpr std::size_t kPairwiseAttributes = 8;

bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

bool IsReferenceChar(char c) { return c == '#' || (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

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
// decimal or hexadecimal character references (leading zeros of any number) of any code point;
// whether XML allows that character is the caller's check.
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

const TagAttribute* Tag::Find(std::string_view namespaceUri, std::string_view localName) const {
  for (const auto& a : attributes)
    if (a.local == localName && a.uri == namespaceUri) return &a;
  return nullptr;
}

TableFileTokenizer::TableFileTokenizer(const std::string& path) : path_(path), input_(path) { Rewind(); }

void TableFileTokenizer::Rewind() {
  input_.Rewind();
  pos_ = end_ = 0;
  base_ = tagOffset_ = 0;
  inside_ = Inside::kNothing;
  // A large tag of the last pass grew the buffer; this pass starts small again.
  if (buffer_.size() != kFirstBufferSize) std::vector<char>(kFirstBufferSize).swap(buffer_);
  bindings_.clear();
  bindings_.push_back({"xml", kNsXml});
  bindings_.push_back({"xmlns", kNsXmlns});
  unbindTo_ = bindings_.size();
  open_.clear();
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
  // The declarations of the last tag end with it when it was empty or an end tag.
  bindings_.resize(unbindTo_);
  for (;;) {
    const char* const data = buffer_.data();
    const char* p = data + pos_;
    const char* const end = data + end_;
    if (inside_ != Inside::kNothing) {
      // A comment or processing instruction is passed over as it is read: only what may begin
      // its closing delimiter is carried into the next read, so its length costs no memory.
      const std::string_view close = inside_ == Inside::kComment ? "-->" : "?>";
      if (const char* after = FindAfter(p, end, close)) {
        pos_ = static_cast<std::size_t>(after - data);
        inside_ = Inside::kNothing;
        continue;
      }
      if (static_cast<std::size_t>(end - p) >= close.size()) pos_ = static_cast<std::size_t>(end - data) - (close.size() - 1);
      if (!Refill()) FailAtOffset("the file ends too early", base_ + end_);
      continue;
    }
    while (p < end && IsSpace(*p)) ++p;
    pos_ = static_cast<std::size_t>(p - data);
    if (p < end) {
      if (*p != '<') FailAtPointer("unexpected text between tags", p);
      if (end - p >= 2 && p[1] == '?') {
        inside_ = Inside::kInstruction;
        pos_ += 2;
        continue;
      }
      if (end - p >= 2 && p[1] == '!') {
        if (end - p >= 4) {
          if (std::memcmp(p, "<!--", 4) != 0) FailAtPointer("unexpected markup (only tags and comments may stand here)", p);
          inside_ = Inside::kComment;
          pos_ += 4;
          continue;
        }
      } else if (end - p >= 2) {
        if (const char* next = ScanTag(p, end)) {
          tagOffset_ = base_ + static_cast<std::uint64_t>(p - data);
          Resolve(p);
          pos_ = static_cast<std::size_t>(next - data);
          return tag_;
        }
      }
    }
    const bool inside = p < end;
    if (!Refill()) {
      if (inside) FailAtOffset("the file ends too early", base_ + end_);
      tag_.kind = Tag::Kind::kEndOfFile;
      tag_.name = tag_.uri = tag_.local = {};
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
  q = ScanName(q, end);
  if (!q) return nullptr;
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
    q = ScanName(q, end);
    if (!q) return nullptr;
    if (q == attributeName) FailAtPointer("malformed tag: unexpected character", q);
    const std::string_view nameText(attributeName, static_cast<std::size_t>(q - attributeName));
    while (q < end && IsSpace(*q)) ++q;
    if (q == end) return nullptr;
    if (*q != '=') FailAtPointer("malformed tag: '=' expected after " + QuoteName(nameText), q);
    ++q;
    while (q < end && IsSpace(*q)) ++q;
    if (q == end) return nullptr;
    if (*q != '"' && *q != '\'') FailAtPointer("malformed tag: the value of " + QuoteName(nameText) + " is not quoted", q);
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
        FailAtPointer("malformed value: '<' inside the value of " + QuoteName(nameText), q);
      } else if (c == '&') {
        q = ScanReference(q, end);
        plain = false;
      } else {
        q = ScanValueCharacter(q, end);
      }
      if (!q) return nullptr;
    }
    tag_.attributes.push_back({nameText, {}, {}, std::string_view(value, static_cast<std::size_t>(q - value)), plain});
    ++q;
  }
}

const char* TableFileTokenizer::ScanName(const char* p, const char* end) const {
  while (p < end && !kEndsName[static_cast<unsigned char>(*p)]) {
    if (static_cast<unsigned char>(*p) < 0x80) ++p;
    else if (!(p = ScanValueCharacter(p, end))) return nullptr;
  }
  return p == end ? nullptr : p;
}

const char* TableFileTokenizer::ScanReference(const char* p, const char* end) const {
  const char* q = p + 1;
  while (q < end && IsReferenceChar(*q)) ++q;
  if (q == end) return nullptr;
  // The reference as the message shows it: up to its ';', and not much of a long one.
  const std::string_view text(p, std::min<std::size_t>(static_cast<std::size_t>(q - p) + (*q == ';'), 24));
  char32_t code;
  if (*q != ';' || !DecodeReference(std::string_view(p + 1, static_cast<std::size_t>(q - p - 1)), code)) {
    FailAtPointer("malformed reference " + QuoteName(text), p);
  }
  if (!IsXmlChar(code)) FailAtPointer("the reference " + QuoteName(text) + " stands for a character XML does not allow", p);
  return q + 1;
}

std::string_view TableFileTokenizer::Lookup(std::string_view prefix, bool element, const char* where) const {
  for (auto b = bindings_.rbegin(); b != bindings_.rend(); ++b)
    if (b->prefix == prefix) return b->uri;
  if (!prefix.empty()) {
    FailAtPointer("the namespace prefix " + QuoteName(prefix) + " of " + (element ? "an element" : "an attribute") +
                      " is not declared",
                  where);
  }
  return {};
}

void TableFileTokenizer::Split(std::string_view name, std::string_view& uri, std::string_view& local, bool element,
                               const char* where) const {
  // Names are short: a plain loop finds the colon sooner than a library call.
  std::size_t colon = 0;
  while (colon < name.size() && name[colon] != ':') ++colon;
  if (colon == name.size()) {
    local = name;
    // The default namespace applies to elements only; "xmlns" itself is a declaration.
    uri = element ? Lookup({}, true, where) : name == "xmlns" ? std::string_view(kNsXmlns) : std::string_view();
    return;
  }
  local = name.substr(colon + 1);
  if (colon == 0 || local.empty() || local.find(':') != std::string_view::npos) {
    FailAtPointer("malformed name " + QuoteName(name) + " (a prefix, one colon and a local name)", where);
  }
  uri = Lookup(name.substr(0, colon), element, where);
}

void TableFileTokenizer::Resolve(const char* tagStart) {
  if (tag_.kind == Tag::Kind::kEnd) {
    if (open_.empty() || open_.back().name != tag_.name) {
      Fail(open_.empty() ? "unexpected end tag " + QuoteName(tag_.name)
                         : "the end tag " + QuoteName(tag_.name) + " does not match the start tag " + QuoteName(open_.back().name));
    }
    Split(tag_.name, tag_.uri, tag_.local, true, tagStart + 2);
    unbindTo_ = open_.back().bindings;
    open_.pop_back();
    return;
  }
  const std::size_t outside = bindings_.size();
  for (const auto& a : tag_.attributes) {
    if (a.name.substr(0, 5) != "xmlns" || (a.name.size() > 5 && a.name[5] != ':')) continue;
    Binding b;
    const bool prefixed = a.name.size() > 5;
    if (prefixed) b.prefix = a.name.substr(6);
    AppendText(a, b.uri);
    if (prefixed && (b.prefix.empty() || b.uri.empty())) {
      FailAtPointer("the declaration " + QuoteName(a.name) + " has no prefix or no namespace name", a.name.data());
    }
    if (b.prefix == "xmlns" || (b.prefix == "xml") != (b.uri == kNsXml) || b.uri == kNsXmlns) {
      FailAtPointer("the declaration " + QuoteName(a.name) + " binds a reserved prefix or namespace", a.name.data());
    }
    bindings_.push_back(std::move(b));
  }
  Split(tag_.name, tag_.uri, tag_.local, true, tagStart + 1);
  for (auto& a : tag_.attributes) Split(a.name, a.uri, a.local, false, a.name.data());
  // No attribute twice, by its name as written or as its namespace resolves it.
  auto same = [](const TagAttribute* a, const TagAttribute* b) { return a->local == b->local && a->uri == b->uri; };
  const auto& all = tag_.attributes;
  if (all.size() <= kPairwiseAttributes) {
    for (std::size_t i = 1; i < all.size(); ++i)
      for (std::size_t j = 0; j < i; ++j)
        if (same(&all[i], &all[j])) FailAtPointer("the attribute " + QuoteName(all[i].name) + " is given twice", all[i].name.data());
  } else {
    // A row of many columns: the names' keys sorted, equal keys compared in full. A key is a
    // name's length and a few of its bytes (the last ones, where names of columns differ most),
    // taken without a loop over the name.
    auto key = [](std::string_view text) -> std::uint64_t {
      if (text.empty()) return 0;
      const auto at = [&](std::size_t back) {
        return static_cast<std::uint64_t>(static_cast<unsigned char>(text[text.size() > back ? text.size() - 1 - back : 0]));
      };
      return text.size() ^ (at(0) << 16) ^ (at(1) << 24) ^ (at(2) << 32) ^ (static_cast<std::uint64_t>(static_cast<unsigned char>(text[0])) << 40) ^
             (static_cast<std::uint64_t>(static_cast<unsigned char>(text[text.size() / 2])) << 48);
    };
    hashed_.clear();
    for (std::size_t i = 0; i < all.size(); ++i) {
      const std::uint64_t local = key(all[i].local);
      hashed_.emplace_back(all[i].uri.empty() ? local : local ^ (key(all[i].uri) * 0x9E3779B97F4A7C15u), i);
    }
    std::sort(hashed_.begin(), hashed_.end());
    for (std::size_t from = 0; from < hashed_.size();) {
      std::size_t to = from + 1;
      while (to < hashed_.size() && hashed_[to].first == hashed_[from].first) ++to;
      // Within a run of equal keys the indexes ascend: the later attribute is named.
      for (std::size_t m = from + 1; m < to; ++m)
        for (std::size_t j = from; j < m; ++j)
          if (same(&all[hashed_[j].second], &all[hashed_[m].second])) {
            const TagAttribute& later = all[hashed_[m].second];
            FailAtPointer("the attribute " + QuoteName(later.name) + " is given twice", later.name.data());
          }
      from = to;
    }
  }
  if (tag_.kind == Tag::Kind::kStart) open_.push_back({std::string(tag_.name), outside});
  unbindTo_ = tag_.kind == Tag::Kind::kStart ? bindings_.size() : outside;
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
