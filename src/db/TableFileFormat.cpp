#include "db/TableFileFormat.h"

#include <algorithm>
#include <cstdio>

#include "db/TableFileError.h"

namespace db::tablefile {

namespace {

constexpr std::int64_t kLongLength = 2147483647;

bool EqualsNoCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return (x >= 'A' && x <= 'Z' ? x + 32 : x) == (y >= 'A' && y <= 'Z' ? y + 32 : y);
         });
}

std::int64_t SizeOr(std::int64_t size, std::int64_t fallback) { return size > 0 ? size : fallback; }

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

[[noreturn]] void BadValue(const DbColumn& column, std::string_view why) {
  throw ETableFileError("Invalid value in column \"" + column.name + "\" (" + FieldTypeName(column.type) +
                        "): " + std::string(why));
}

}  // namespace

XmlType XmlTypeFor(const DbColumn& c) {
  XmlType t;
  switch (c.type) {
    case TFieldType::ftSmallint: t = {"i2", nullptr, 2, 5, -1, true, false}; break;
    case TFieldType::ftWord: t = {"ui2", nullptr, 2, 5, -1, true, false}; break;
    case TFieldType::ftInteger:
    case TFieldType::ftAutoInc: t = {"int", nullptr, 4, 10, -1, true, false}; break;
    case TFieldType::ftLargeint: t = {"i8", nullptr, 8, 19, -1, true, false}; break;
    case TFieldType::ftBoolean: t = {"boolean", nullptr, 2, 0, -1, true, false}; break;
    case TFieldType::ftFloat: t = {"float", nullptr, 8, 15, -1, true, false}; break;
    case TFieldType::ftSingle: t = {"r4", nullptr, 4, 7, -1, true, false}; break;
    case TFieldType::ftCurrency: t = {"i8", "currency", 8, 19, -1, true, false}; break;
    case TFieldType::ftBCD:
    case TFieldType::ftFMTBcd:
      t = {"number", "numeric", 19, c.precision > 0 ? c.precision : 0, std::max(c.scale, 0), true, false};
      break;
    case TFieldType::ftDate: t = {"date", nullptr, 6, 0, -1, true, false}; break;
    case TFieldType::ftTime: t = {"time", nullptr, 6, 0, -1, true, false}; break;
    case TFieldType::ftDateTime:
    case TFieldType::ftTimeStamp:
      t = {"dateTime", "timestamp", 16, 19, std::max(c.scale, 0), true, false};
      break;
    case TFieldType::ftBytes: t = {"bin.hex", nullptr, SizeOr(c.size, 1), 0, -1, true, false}; break;
    case TFieldType::ftVarBytes: t = {"bin.hex", nullptr, SizeOr(c.size, 1), 0, -1, false, false}; break;
    case TFieldType::ftBlob: t = {"bin.hex", nullptr, kLongLength, 0, -1, false, true}; break;
    case TFieldType::ftGuid: t = {"uuid", nullptr, 16, 0, -1, true, false}; break;
    case TFieldType::ftString: t = {"string", "str", SizeOr(c.size, 1), 0, -1, false, false}; break;
    case TFieldType::ftFixedChar: t = {"string", "str", SizeOr(c.size, 1), 0, -1, true, false}; break;
    case TFieldType::ftMemo: t = {"string", "str", kLongLength, 0, -1, false, true}; break;
    case TFieldType::ftFixedWideChar: t = {"string", nullptr, SizeOr(c.size, 1), 0, -1, true, false}; break;
    case TFieldType::ftWideMemo: t = {"string", nullptr, 1073741823, 0, -1, false, true}; break;
    case TFieldType::ftWideString:
    case TFieldType::ftUnknown: t = {"string", nullptr, SizeOr(c.size, 1), 0, -1, false, false}; break;
  }
  return t;
}

TFieldType FieldTypeFromXml(std::string_view dt, std::string_view dbType, bool fixed, bool isLong, bool autoInc) {
  if (dt.empty() || dt == "string") {
    // ADO marks single-byte text with rs:dbtype='str'; wide text carries no dbtype (or 'wstr').
    const bool ansi = dbType == "str";
    if (isLong) return ansi ? TFieldType::ftMemo : TFieldType::ftWideMemo;
    // Fixed-length wide text loads as wide text, as ADO gives it.
    if (fixed) return ansi ? TFieldType::ftFixedChar : TFieldType::ftWideString;
    return ansi ? TFieldType::ftString : TFieldType::ftWideString;
  }
  if (dt == "int" || dt == "i4") return autoInc ? TFieldType::ftAutoInc : TFieldType::ftInteger;
  if (dt == "ui4") return TFieldType::ftInteger;
  if (dt == "i2" || dt == "i1") return TFieldType::ftSmallint;
  if (dt == "ui2" || dt == "ui1") return TFieldType::ftWord;
  if (dt == "i8") return dbType == "currency" ? TFieldType::ftCurrency : TFieldType::ftLargeint;
  if (dt == "ui8") return TFieldType::ftLargeint;
  if (dt == "number" || dt == "fixed.14.4") return dbType == "currency" ? TFieldType::ftCurrency : TFieldType::ftBCD;
  if (dt == "float" || dt == "r8") return TFieldType::ftFloat;
  if (dt == "r4") return TFieldType::ftSingle;
  if (dt == "boolean") return TFieldType::ftBoolean;
  if (dt == "dateTime" || dt == "dateTime.tz") return TFieldType::ftDateTime;
  if (dt == "date") return TFieldType::ftDate;
  if (dt == "time" || dt == "time.tz") return TFieldType::ftTime;
  if (dt == "bin.hex") return isLong ? TFieldType::ftBlob : fixed ? TFieldType::ftBytes : TFieldType::ftVarBytes;
  if (dt == "uuid") return TFieldType::ftGuid;
  throw ETableFileError("Unsupported data type in the file's schema: dt:type='" + std::string(dt) + "'");
}

bool IsPlainXmlName(std::string_view name) {
  if (name.empty()) return false;
  // ASCII letters, digits, '_', '-', '.' and any non-ASCII byte (which Qt's writer and every
  // XML reader accept in names only when they are name characters; keep it strict: letters of
  // other scripts are allowed, punctuation outside ASCII is rare in column names).
  auto start = [](unsigned char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_' || c >= 0x80; };
  auto follow = [&](unsigned char c) { return start(c) || (c >= '0' && c <= '9') || c == '-' || c == '.'; };
  if (!start(static_cast<unsigned char>(name[0]))) return false;
  for (char ch : name.substr(1))
    if (!follow(static_cast<unsigned char>(ch))) return false;
  // Names beginning with "xml" in any case are reserved.
  return !(name.size() >= 3 && EqualsNoCase(name.substr(0, 3), "xml"));
}

void ToXmlValue(const DbColumn& column, std::string_view value, std::string& out) {
  out.clear();
  switch (column.type) {
    case TFieldType::ftBytes:
    case TFieldType::ftVarBytes:
    case TFieldType::ftBlob: {
      static constexpr char kHex[] = "0123456789abcdef";
      out.resize(value.size() * 2);
      for (std::size_t i = 0; i < value.size(); ++i) {
        auto b = static_cast<unsigned char>(value[i]);
        out[2 * i] = kHex[b >> 4];
        out[2 * i + 1] = kHex[b & 15];
      }
      return;
    }
    case TFieldType::ftDateTime:
    case TFieldType::ftTimeStamp:
      out.assign(value);
      if (out.size() > 10 && out[10] == ' ') out[10] = 'T';
      return;
    case TFieldType::ftBoolean:
      out = value == "True" ? "1" : value == "False" ? "0" : std::string(value);
      return;
    case TFieldType::ftFloat:
    case TFieldType::ftSingle:
      out = value == "Infinity" ? "INF" : value == "-Infinity" ? "-INF" : std::string(value);
      return;
    default:
      break;
  }
  // Text: XML 1.0 has no form for most control characters (not even as character references) nor
  // for U+FFFE / U+FFFF. Refuse them rather than write a file that no reader accepts.
  const auto* p = reinterpret_cast<const unsigned char*>(value.data());
  const std::size_t n = value.size();
  for (std::size_t i = 0; i < n;) {
    const unsigned char c = p[i];
    if (c >= 0x20 && c < 0x80) {
      ++i;
      continue;
    }
    if (c < 0x20) {
      if (c != '\t' && c != '\n' && c != '\r') {
        char code[8];
        std::snprintf(code, sizeof code, "U+%04X", c);
        BadValue(column, std::string("the character ") + code + " cannot be stored in an XML file");
      }
      ++i;
      continue;
    }
    // A multi-byte sequence: it must be well-formed UTF-8, and not U+FFFE / U+FFFF.
    int extra = (c & 0xE0) == 0xC0 ? 1 : (c & 0xF0) == 0xE0 ? 2 : (c & 0xF8) == 0xF0 ? 3 : -1;
    if (c == 0xC0 || c == 0xC1 || c > 0xF4) extra = -1;
    if (extra < 0 || i + static_cast<std::size_t>(extra) >= n) BadValue(column, "the text is not valid UTF-8");
    for (int k = 1; k <= extra; ++k)
      if ((p[i + k] & 0xC0) != 0x80) BadValue(column, "the text is not valid UTF-8");
    if (extra == 2 && ((c == 0xE0 && p[i + 1] < 0xA0) || (c == 0xED && p[i + 1] >= 0xA0)))
      BadValue(column, "the text is not valid UTF-8");
    if (extra == 3 && ((c == 0xF0 && p[i + 1] < 0x90) || (c == 0xF4 && p[i + 1] >= 0x90)))
      BadValue(column, "the text is not valid UTF-8");
    if (c == 0xEF && p[i + 1] == 0xBF && (p[i + 2] == 0xBE || p[i + 2] == 0xBF))
      BadValue(column, "the character U+FFFE or U+FFFF cannot be stored in an XML file");
    i += static_cast<std::size_t>(extra) + 1;
  }
  out.assign(value);
}

namespace {

// An optional sign and digits; with `decimal` also a fraction, an exponent, or one of the
// values a database may hold beside numbers (NaN, Infinity).
bool IsNumberText(std::string_view text, bool decimal) {
  std::size_t i = 0;
  if (i < text.size() && (text[i] == '-' || text[i] == '+')) ++i;
  const std::string_view rest = text.substr(i);
  if (decimal && (rest == "Infinity" || (i == 0 && rest == "NaN"))) return true;
  auto digits = [&] {
    const std::size_t start = i;
    while (i < text.size() && text[i] >= '0' && text[i] <= '9') ++i;
    return i - start;
  };
  std::size_t count = digits();
  if (!decimal) return count > 0 && i == text.size();
  if (i < text.size() && text[i] == '.') {
    ++i;
    count += digits();
  }
  if (count == 0) return false;
  if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
    ++i;
    if (i < text.size() && (text[i] == '-' || text[i] == '+')) ++i;
    if (digits() == 0) return false;
  }
  return i == text.size();
}

}  // namespace

void FromXmlValue(const DbColumn& column, std::string_view xml, std::string& out) {
  out.clear();
  switch (column.type) {
    case TFieldType::ftBytes:
    case TFieldType::ftVarBytes:
    case TFieldType::ftBlob: {
      if (xml.size() % 2 != 0) BadValue(column, "odd number of hex digits");
      out.resize(xml.size() / 2);
      for (std::size_t i = 0; i < out.size(); ++i) {
        int hi = HexDigit(xml[2 * i]), lo = HexDigit(xml[2 * i + 1]);
        if (hi < 0 || lo < 0) BadValue(column, "not a hex digit");
        out[i] = static_cast<char>((hi << 4) | lo);
      }
      return;
    }
    case TFieldType::ftDateTime:
    case TFieldType::ftTimeStamp:
    case TFieldType::ftDate:
    case TFieldType::ftTime:
      out.assign(xml);
      if (out.size() > 10 && out[10] == 'T' && column.type != TFieldType::ftTime) out[10] = ' ';
      // A UTC designator adds nothing to the stored wall-clock value.
      if (!out.empty() && out.back() == 'Z') out.pop_back();
      return;
    case TFieldType::ftBoolean:
      if (xml == "1" || xml == "-1" || EqualsNoCase(xml, "true")) out = "True";
      else if (xml == "0" || EqualsNoCase(xml, "false")) out = "False";
      else BadValue(column, "not a boolean");
      return;
    case TFieldType::ftFloat:
    case TFieldType::ftSingle:
      out = xml == "INF" ? "Infinity" : xml == "-INF" ? "-Infinity" : std::string(xml);
      if (!IsNumberText(out, true)) BadValue(column, "not a number");
      return;
    case TFieldType::ftSmallint:
    case TFieldType::ftInteger:
    case TFieldType::ftWord:
    case TFieldType::ftAutoInc:
    case TFieldType::ftLargeint:
      if (!IsNumberText(xml, false)) BadValue(column, "not a whole number");
      out.assign(xml);
      return;
    case TFieldType::ftBCD:
    case TFieldType::ftFMTBcd:
    case TFieldType::ftCurrency:
      if (!IsNumberText(xml, true)) BadValue(column, "not a number");
      out.assign(xml);
      return;
    default:
      out.assign(xml);
      return;
  }
}

}  // namespace db::tablefile
