#include "db/TableFileFormat.h"

#include <algorithm>

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
  throw ETableFileError("Invalid value in column " + QuoteName(column.name) + " (" + FieldTypeName(column.type) +
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
  throw ETableFileError("Unsupported data type in the file's schema: dt:type=" + QuoteName(dt));
}

std::size_t EncodeUtf8(char32_t code, char* out) {
  if (code < 0x80) {
    out[0] = static_cast<char>(code);
    return 1;
  }
  if (code < 0x800) {
    out[0] = static_cast<char>(0xC0 | (code >> 6));
    out[1] = static_cast<char>(0x80 | (code & 0x3F));
    return 2;
  }
  if (code < 0x10000) {
    out[0] = static_cast<char>(0xE0 | (code >> 12));
    out[1] = static_cast<char>(0x80 | ((code >> 6) & 0x3F));
    out[2] = static_cast<char>(0x80 | (code & 0x3F));
    return 3;
  }
  out[0] = static_cast<char>(0xF0 | (code >> 18));
  out[1] = static_cast<char>(0x80 | ((code >> 12) & 0x3F));
  out[2] = static_cast<char>(0x80 | ((code >> 6) & 0x3F));
  out[3] = static_cast<char>(0x80 | (code & 0x3F));
  return 4;
}

int DecodeUtf8(const char* p, const char* end, char32_t& code) {
  const auto lead = static_cast<unsigned char>(*p);
  if (lead < 0x80) {
    code = lead;
    return 1;
  }
  const int length = lead >= 0xC2 && lead <= 0xDF ? 2 : lead >= 0xE0 && lead <= 0xEF ? 3 : lead >= 0xF0 && lead <= 0xF4 ? 4 : 0;
  if (length == 0) return -1;
  code = lead & (0x7F >> length);
  for (int k = 1; k < length; ++k) {
    if (p + k >= end) return 0;
    const auto next = static_cast<unsigned char>(p[k]);
    if ((next & 0xC0) != 0x80) return -1;
    code = (code << 6) | (next & 0x3F);
  }
  static constexpr char32_t kSmallest[] = {0, 0, 0x80, 0x800, 0x10000};
  if (code < kSmallest[length] || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return -1;
  return length;
}

namespace {

// XML 1.0 (fifth edition) NameStartChar without the colon, and NameChar.
bool IsNameStart(char32_t c) {
  if (c < 0x80) return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_';
  return (c >= 0xC0 && c <= 0xD6) || (c >= 0xD8 && c <= 0xF6) || (c >= 0xF8 && c <= 0x2FF) ||
         (c >= 0x370 && c <= 0x37D) || (c >= 0x37F && c <= 0x1FFF) || (c >= 0x200C && c <= 0x200D) ||
         (c >= 0x2070 && c <= 0x218F) || (c >= 0x2C00 && c <= 0x2FEF) || (c >= 0x3001 && c <= 0xD7FF) ||
         (c >= 0xF900 && c <= 0xFDCF) || (c >= 0xFDF0 && c <= 0xFFFD) || (c >= 0x10000 && c <= 0xEFFFF);
}

bool IsNameChar(char32_t c) {
  return IsNameStart(c) || (c >= '0' && c <= '9') || c == '-' || c == '.' || c == 0xB7 ||
         (c >= 0x300 && c <= 0x36F) || (c >= 0x203F && c <= 0x2040);
}

}  // namespace

bool IsPlainXmlName(std::string_view name) {
  if (name.empty()) return false;
  // Names beginning with "xml" in any case are reserved.
  if (name.size() >= 3 && EqualsNoCase(name.substr(0, 3), "xml")) return false;
  const char* p = name.data();
  const char* const end = p + name.size();
  for (bool first = true; p < end; first = false) {
    char32_t c;
    const int length = DecodeUtf8(p, end, c);
    if (length <= 0 || !(first ? IsNameStart(c) : IsNameChar(c))) return false;
    p += length;
  }
  return true;
}

bool IsValidUtf8(std::string_view text) {
  const char* p = text.data();
  const char* const end = p + text.size();
  while (p < end) {
    if (static_cast<unsigned char>(*p) < 0x80) {
      ++p;
      continue;
    }
    char32_t code;
    const int length = DecodeUtf8(p, end, code);
    if (length <= 0) return false;
    p += length;
  }
  return true;
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
    case TFieldType::ftTimeStamp: {
      // The date ends at the first blank: after ten characters, or more for a year of five
      // digits (10000 and later), which XML Schema's dateTime allows and FromXmlValue reads back.
      out.assign(value);
      const std::size_t blank = out.find(' ');
      if (blank != std::string::npos && blank >= 10) out[blank] = 'T';
      return;
    }
    case TFieldType::ftBoolean:
      // ADO writes True and False; the AsString text is already that.
      out.assign(value);
      return;
    case TFieldType::ftFloat:
    case TFieldType::ftSingle:
      out = value == "Infinity" ? "INF" : value == "-Infinity" ? "-INF" : std::string(value);
      return;
    default:
      break;
  }
  // Text: every character has a form in the file (control characters and U+FFFE / U+FFFF
  // included, as ADO writes them); only bytes that are no UTF-8 have none.
  if (!IsValidUtf8(value)) BadValue(column, "the text is not valid UTF-8");
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

// ADO writes a zero of a decimal column as ".0000"; its AsString text has the leading zero.
void AddLeadingZero(std::string& number) {
  const std::size_t sign = !number.empty() && (number[0] == '-' || number[0] == '+') ? 1 : 0;
  if (number.size() > sign && number[sign] == '.') number.insert(sign, 1, '0');
}


// Digits of a date or time field: exactly `count` of them (at least `count` with `more`), at `i`.
bool TakeDigits(std::string_view text, std::size_t& i, std::size_t count, bool more, unsigned long& out) {
  const std::size_t start = i;
  out = 0;
  while (i < text.size() && text[i] >= '0' && text[i] <= '9' && (more || i - start < count)) {
    if (out < 100000000) out = out * 10 + static_cast<unsigned long>(text[i] - '0');
    ++i;
  }
  return i - start >= count;
}

bool IsLeapYear(unsigned long year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

// [-]YYYY-MM-DD, the year of four or more digits, the day within its month.
bool TakeDate(std::string_view text, std::size_t& i) {
  if (i < text.size() && text[i] == '-') ++i;
  unsigned long year, month, day;
  if (!TakeDigits(text, i, 4, true, year) || i >= text.size() || text[i++] != '-') return false;
  if (!TakeDigits(text, i, 2, false, month) || i >= text.size() || text[i++] != '-') return false;
  if (!TakeDigits(text, i, 2, false, day) || month < 1 || month > 12 || day < 1) return false;
  static constexpr unsigned long kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return day <= kDays[month - 1] + (month == 2 && IsLeapYear(year) ? 1 : 0);
}

// hh:mm:ss[.fraction]
bool TakeTime(std::string_view text, std::size_t& i) {
  unsigned long hour, minute, second, fraction;
  if (!TakeDigits(text, i, 2, false, hour) || i >= text.size() || text[i++] != ':') return false;
  if (!TakeDigits(text, i, 2, false, minute) || i >= text.size() || text[i++] != ':') return false;
  if (!TakeDigits(text, i, 2, false, second) || hour > 23 || minute > 59 || second > 59) return false;
  if (i < text.size() && text[i] == '.') {
    ++i;
    if (!TakeDigits(text, i, 1, true, fraction)) return false;
  }
  return true;
}

// A time zone after a date or time: Z, or +hh:mm / -hh:mm.
bool TakeZone(std::string_view text, std::size_t& i) {
  if (i == text.size()) return true;
  if (text[i] == 'Z') return ++i == text.size();
  if (text[i] != '+' && text[i] != '-') return false;
  ++i;
  unsigned long hours, minutes;
  if (!TakeDigits(text, i, 2, false, hours) || i >= text.size() || text[i++] != ':') return false;
  return TakeDigits(text, i, 2, false, minutes) && hours <= 14 && minutes <= 59 && i == text.size();
}

enum class Whole { kValid, kNotWhole, kOutOfRange };

// The form nearly every whole number has: digits without a leading zero, perhaps after '-',
// within the range; such a text stays as it is.
bool IsPlainWholeNumber(std::string_view text, const WholeNumberRange& range) {
  const bool negative = !text.empty() && text[0] == '-';
  const std::string_view digits = text.substr(negative ? 1 : 0);
  if (digits.empty() || digits.size() > 19 || (digits[0] == '0' && (digits.size() > 1 || negative))) return false;
  std::uint64_t magnitude = 0;
  for (char c : digits) {
    if (c < '0' || c > '9') return false;
    magnitude = magnitude * 10 + static_cast<std::uint64_t>(c - '0');
  }
  return magnitude <= (negative ? range.maxNegative : range.maxPositive);
}

// A whole number in `text` -> its plain digits with an optional '-', within `range`. With
// `range.decimalForm` also a decimal or exponent form whose fraction is all zeros.
Whole ToWholeNumber(std::string& text, const WholeNumberRange& range) {
  std::size_t i = 0;
  const bool negative = !text.empty() && text[0] == '-';
  if (!text.empty() && (text[0] == '-' || text[0] == '+')) ++i;
  std::string digits;  // integer and fraction digits, without leading zeros of the whole
  std::int64_t point = 0;  // where the decimal point stands in `digits`
  bool any = false;
  auto take = [&](bool fraction) {
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
      any = true;
      if (digits.empty() && text[i] == '0') {
        if (fraction) --point;
        continue;
      }
      digits.push_back(text[i]);
      if (!fraction) ++point;
    }
  };
  take(false);
  if (range.decimalForm && i < text.size() && text[i] == '.') {
    ++i;
    take(true);
  }
  if (!any) return Whole::kNotWhole;
  if (range.decimalForm && i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
    ++i;
    const bool down = i < text.size() && text[i] == '-';
    if (i < text.size() && (text[i] == '-' || text[i] == '+')) ++i;
    std::int64_t exponent = 0;
    const std::size_t start = i;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i)
      if (exponent < 1000000) exponent = exponent * 10 + (text[i] - '0');
    if (i == start) return Whole::kNotWhole;
    point += down ? -exponent : exponent;
  }
  if (i != text.size()) return Whole::kNotWhole;
  // The digits after the point must all be zeros: a whole number; none before it: zero.
  if (point < 0) point = digits.empty() ? 0 : point;
  if (static_cast<std::int64_t>(digits.size()) > point &&
      digits.find_first_not_of('0', static_cast<std::size_t>(std::max<std::int64_t>(point, 0))) != std::string::npos) {
    return Whole::kNotWhole;
  }
  if (point > 20) return Whole::kOutOfRange;
  digits.resize(static_cast<std::size_t>(point), '0');
  std::uint64_t magnitude = 0;
  for (char c : digits) {
    const std::uint64_t digit = static_cast<std::uint64_t>(c - '0');
    if (magnitude > (UINT64_MAX - digit) / 10) return Whole::kOutOfRange;
    magnitude = magnitude * 10 + digit;
  }
  if (magnitude > (negative ? range.maxNegative : range.maxPositive)) return Whole::kOutOfRange;
  text = magnitude == 0 ? "0" : (negative ? "-" : "") + std::to_string(magnitude);
  return Whole::kValid;
}

}  // namespace

WholeNumberRange WholeNumberRangeFor(std::string_view dt, int precision, TFieldType type) {
  auto signedBits = [](int bits) {
    return WholeNumberRange{(std::uint64_t{1} << (bits - 1)) - 1, std::uint64_t{1} << (bits - 1), false};
  };
  auto unsignedBits = [](int bits) {
    return WholeNumberRange{bits == 64 ? UINT64_MAX : (std::uint64_t{1} << bits) - 1, 0, false};
  };
  if (dt == "i1") return signedBits(8);
  if (dt == "ui1") return unsignedBits(8);
  if (dt == "ui2") return unsignedBits(16);
  if (dt == "ui4") return unsignedBits(32);
  if (dt == "ui8") return unsignedBits(64);
  if ((dt == "number" || dt == "fixed.14.4") && precision > 0 && precision < 19) {
    std::uint64_t largest = 1;
    for (int k = 0; k < precision; ++k) largest *= 10;
    return {largest - 1, largest - 1, true};
  }
  switch (type) {
    case TFieldType::ftSmallint: return signedBits(16);
    case TFieldType::ftWord: return unsignedBits(16);
    case TFieldType::ftLargeint: return signedBits(64);
    default: return signedBits(32);
  }
}

std::string QuoteName(std::string_view text) {
  static constexpr char kHex[] = "0123456789abcdef";
  std::string out(1, '"');
  const char* p = text.data();
  const char* const end = p + text.size();
  while (p < end) {
    const auto c = static_cast<unsigned char>(*p);
    char32_t code;
    const int length = c < 0x80 ? 1 : DecodeUtf8(p, end, code);
    if (length <= 0 || c < 0x20 || c == 0x7F) {
      out += "\\x";
      out += kHex[c >> 4];
      out += kHex[c & 15];
      ++p;
      continue;
    }
    if (c == '"' || c == '\\') out += '\\';
    out.append(p, static_cast<std::size_t>(length));
    p += length;
  }
  out += '"';
  return out;
}

bool IsXmlChar(char32_t c) {
  return c == 0x9 || c == 0xA || c == 0xD || (c >= 0x20 && c <= 0xD7FF) || (c >= 0xE000 && c <= 0xFFFD) ||
         (c >= 0x10000 && c <= 0x10FFFF);
}

void FromXmlValue(const DbColumn& column, std::string& value, const WholeNumberRange* range) {
  switch (column.type) {
    case TFieldType::ftBytes:
    case TFieldType::ftVarBytes:
    case TFieldType::ftBlob: {
      if (value.size() % 2 != 0) BadValue(column, "odd number of hex digits");
      const std::size_t bytes = value.size() / 2;
      for (std::size_t i = 0; i < bytes; ++i) {
        const int hi = HexDigit(value[2 * i]), lo = HexDigit(value[2 * i + 1]);
        if (hi < 0 || lo < 0) BadValue(column, "not a hex digit");
        value[i] = static_cast<char>((hi << 4) | lo);
      }
      value.resize(bytes);
      return;
    }
    case TFieldType::ftDateTime:
    case TFieldType::ftTimeStamp:
    case TFieldType::ftDate:
    case TFieldType::ftTime: {
      // A date, a time, or a date and a time joined by 'T' (a blank in the AsString text), each
      // field within its range: a value that is no date would only fail at the INSERT.
      std::size_t i = 0;
      bool valid;
      if (column.type == TFieldType::ftTime) {
        valid = TakeTime(value, i);
      } else {
        valid = TakeDate(value, i);
        if (valid && i < value.size() && (value[i] == 'T' || value[i] == ' ')) {
          value[i++] = ' ';
          valid = TakeTime(value, i);
        }
      }
      if (!valid || !TakeZone(value, i)) BadValue(column, "not a valid date or time");
      // A UTC designator after the time adds nothing to the stored wall-clock value.
      if (value.back() == 'Z') value.pop_back();
      return;
    }
    case TFieldType::ftBoolean:
      if (value == "1" || value == "-1" || EqualsNoCase(value, "true")) value = "True";
      else if (value == "0" || EqualsNoCase(value, "false")) value = "False";
      else BadValue(column, "not a boolean");
      return;
    case TFieldType::ftFloat:
    case TFieldType::ftSingle:
      if (value == "INF") value = "Infinity";
      else if (value == "-INF") value = "-Infinity";
      if (!IsNumberText(value, true)) BadValue(column, "not a number");
      AddLeadingZero(value);
      return;
    case TFieldType::ftSmallint:
    case TFieldType::ftInteger:
    case TFieldType::ftWord:
    case TFieldType::ftAutoInc:
    case TFieldType::ftLargeint: {
      const WholeNumberRange own = range ? WholeNumberRange{} : WholeNumberRangeFor({}, 0, column.type);
      const WholeNumberRange& r = range ? *range : own;
      if (IsPlainWholeNumber(value, r)) return;
      const Whole whole = IsNumberText(value, r.decimalForm) ? ToWholeNumber(value, r) : Whole::kNotWhole;
      if (whole == Whole::kNotWhole) BadValue(column, "not a whole number");
      if (whole == Whole::kOutOfRange) BadValue(column, "the number is out of the column's range");
      return;
    }
    case TFieldType::ftBCD:
    case TFieldType::ftFMTBcd:
    case TFieldType::ftCurrency:
      if (!IsNumberText(value, true)) BadValue(column, "not a number");
      AddLeadingZero(value);
      return;
    default:
      return;
  }
}

}  // namespace db::tablefile
