#pragma once
// The vocabulary of the TableFile (ADO's XML persistence format): namespaces, the dt:type and
// rs:dbtype a field type is written with and read back from, and the value forms.

#include <cstdint>
#include <string>
#include <string_view>

#include "db/DbColumn.h"

namespace db::tablefile {

inline constexpr char kNsSchema[] = "uuid:BDC6E3F0-6DA3-11d1-A2A3-00AA00C14882";
inline constexpr char kNsDataType[] = "uuid:C2F41010-65B3-11d1-A29F-00AA00C14882";
inline constexpr char kNsRowset[] = "urn:schemas-microsoft-com:rowset";
inline constexpr char kNsRow[] = "#RowsetSchema";

// How one column is described in the s:datatype element.
struct XmlType {
  const char* dtType = "string";
  const char* dbType = nullptr;   // rs:dbtype, when ADO writes one
  std::int64_t maxLength = 0;     // dt:maxLength (0: not written)
  int precision = 0;              // rs:precision (0: not written)
  int scale = -1;                 // rs:scale (-1: not written)
  bool fixedLength = false;       // rs:fixedlength
  bool isLong = false;            // rs:long
};

XmlType XmlTypeFor(const DbColumn& column);

// The field type a column was saved as, from its description in the file. Raises
// ETableFileError for a dt:type this format does not have.
TFieldType FieldTypeFromXml(std::string_view dtType, std::string_view dbType, bool fixedLength, bool isLong,
                            bool autoIncrement);

// A column name that can stand as an XML attribute name as it is: an XML 1.0 Name (checked on
// its characters, not its bytes) without a colon, not beginning with "xml" in any case.
bool IsPlainXmlName(std::string_view name);

// The AsString text of a value -> its text in the file (dates with 'T', binary as hex, ...), not
// yet escaped. Every character a text column holds has a form in the file; only text that is
// not UTF-8 raises ETableFileError, naming the column.
void ToXmlValue(const DbColumn& column, std::string_view value, std::string& out);

// The values a whole-number column may hold, from the dt:type it was saved with.
struct WholeNumberRange {
  std::uint64_t maxPositive = 0;
  std::uint64_t maxNegative = 0;  // the magnitude of the smallest value
  bool decimalForm = false;       // saved as a number: "5.0", ".0000" and "1E3" are whole numbers too
};
// The range of a column saved with `dtType` (and, for "number", `precision` digits) that loads
// as `type`; the field type's own range for other dt:types.
WholeNumberRange WholeNumberRangeFor(std::string_view dtType, int precision, TFieldType type);

// The text of a value in the file -> its AsString text, in place. Raises ETableFileError for
// values that do not fit the column's type (a non-number in a number column, a whole number out
// of its range, a date that is no date, bad hex, ...). `range` narrows or widens the field
// type's own range of whole numbers.
void FromXmlValue(const DbColumn& column, std::string& value, const WholeNumberRange* range = nullptr);

// A name or other text from a file, quoted for a message: control characters, '"', '\\' and bytes
// that are no UTF-8 are escaped, so the message shows it whole whatever it holds.
std::string QuoteName(std::string_view text);

// XML's Char production: the characters a document may hold.
bool IsXmlChar(char32_t code);

// UTF-8, as the file holds it. EncodeUtf8 writes the 1 to 4 bytes of `code` and returns their
// number. DecodeUtf8 reads the character at `p`: its length, 0 when [p, end) ends inside it, -1
// when the bytes are no UTF-8 character (stray or missing continuation byte, overlong form,
// surrogate, beyond U+10FFFF).
std::size_t EncodeUtf8(char32_t code, char* out);
bool IsValidUtf8(std::string_view text);
int DecodeUtf8(const char* p, const char* end, char32_t& code);

}  // namespace db::tablefile
