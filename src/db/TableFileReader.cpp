#include "db/TableFileReader.h"

#include <algorithm>
#include <functional>
#include <limits>
#include <unordered_map>

#include "db/TableFileError.h"
#include "db/TableFileFormat.h"
#include "db/TableFileTokenizer.h"
#include "platform/EventThrottle.h"

namespace db {

using namespace tablefile;

namespace {

bool IsTrue(std::string_view v) {
  if (v == "1" || v == "-1") return true;
  if (v.size() != 4) return false;
  for (std::size_t i = 0; i < 4; ++i)
    if ((v[i] | 0x20) != "true"[i]) return false;
  return true;
}

// Digits only, within the range of `Number`; false for anything else (an empty text included).
template <typename Number>
bool ParseDigits(std::string_view text, Number& out) {
  if (text.empty() || text.size() > 18) return false;
  std::int64_t value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    value = value * 10 + (c - '0');
  }
  if (value > std::numeric_limits<Number>::max()) return false;
  out = static_cast<Number>(value);
  return true;
}

// The order in which ADO shows the rows of a file with pending changes: updated rows with their
// current values, unchanged rows, inserted rows. Deleted rows are not shown.
enum RowKind { kUpdated, kUnchanged, kInserted };

// Where the reader stands inside rs:data.
enum class Block { kData, kInsert, kDelete, kUpdate, kOriginal, kOriginalRead, kCurrent, kDataEnded, kFileEnded };

// One s:AttributeType as the file describes it; the attributes the reader has no use for
// (rs:maydefer, rs:rowver, rs:basetable, rs:CommandTimeout, ...) are passed over.
struct Described {
  DbColumn column;
  std::string attribute;  // the name its values stand under in z:row
  int number = 0;
  std::uint64_t offset = 0;
  std::string dtType, dbType, maxLength, precision, scale, fixedLength, isLong, maybeNull, nullable, autoIncrement;
  bool typed = false;  // a dt:type was found
  WholeNumberRange range;
};

struct NameHash {
  using is_transparent = void;
  std::size_t operator()(std::string_view s) const { return std::hash<std::string_view>{}(s); }
};

}  // namespace

struct TableFileReader::Impl {
  explicit Impl(const std::string& path) : tokens(path) {}

  TableFileTokenizer tokens;
  std::vector<DbColumn> columns;
  std::vector<WholeNumberRange> ranges;  // per column
  std::vector<std::string> attributes;  // per column: the attribute name in z:row
  std::unordered_map<std::string, std::size_t, NameHash, std::equal_to<>> columnOf;
  std::vector<std::uint64_t> seenInRow;  // per column: the last row part that gave it a value
  std::uint64_t rowParts = 0;
  Block block = Block::kData;
  std::int64_t rowCount = 0;
  bool reorder = false;  // the file's rows are not in the order they are shown in
  int phase = kUpdated;  // with `reorder`: the kind of row this pass serves
  bool checking = false;  // the first pass: every row is read, deleted ones too
  std::int64_t replaced = 0;  platform::TEventThrottle* throttle = nullptr;
  DbRow scratch;

  // The next tag inside the root element, where the end of the file is premature.
  const Tag& NextInside() {
    const Tag& tag = tokens.Next();
    if (tag.kind == Tag::Kind::kEndOfFile) tokens.Fail("the file ends too early");
    return tag;
  }

  // Passes over the content of an element up to its end tag (the tokenizer matches the tags).
  void Skip(const Tag& tag) {
    if (tag.kind != Tag::Kind::kStart) return;
    for (std::size_t depth = 1; depth > 0;) {
      const Tag& t = NextInside();
      if (t.kind == Tag::Kind::kStart) ++depth;
      else if (t.kind == Tag::Kind::kEnd) --depth;
    }
  }

  static bool Take(const Tag& tag, std::string_view uri, std::string_view local, std::string& out) {
    const TagAttribute* a = tag.Find(uri, local);
    if (!a) return false;
    out.clear();
    TableFileTokenizer::AppendText(*a, out);
    return true;
  }

  // ADO's datatype attributes, by their namespace whatever its prefix: dt:type under a prefix
  // bound to another URI is another attribute, and the column has no type from it.
  static void TakeType(const Tag& tag, Described& d) {
    if (Take(tag, kNsDataType, "type", d.dtType)) d.typed = true;
    Take(tag, kNsRowset, "dbtype", d.dbType);
    Take(tag, kNsDataType, "maxLength", d.maxLength);
    Take(tag, kNsRowset, "precision", d.precision);
    Take(tag, kNsRowset, "scale", d.scale);
    Take(tag, kNsRowset, "fixedlength", d.fixedLength);
    Take(tag, kNsRowset, "long", d.isLong);
    Take(tag, kNsRowset, "maybenull", d.maybeNull);
  }

  Described ReadColumn(const Tag& tag, std::size_t index) {
    Described d;
    d.offset = tokens.TagOffset();
    Take(tag, {}, "name", d.attribute);
    if (d.attribute.empty()) tokens.Fail("a column has no name");
    d.column.name = d.attribute;
    Take(tag, kNsRowset, "name", d.column.name);
    std::string number;
    d.number = static_cast<int>(index) + 1;
    if (Take(tag, kNsRowset, "number", number) && !ParseDigits(number, d.number)) {
      tokens.Fail("column " + QuoteName(d.column.name) + " has an invalid rs:number");
    }
    Take(tag, kNsRowset, "nullable", d.nullable);
    Take(tag, kNsRowset, "autoincrement", d.autoIncrement);
    // The data type sits in an s:datatype child, or (also allowed by the schema language) on
    // the attribute type itself.
    TakeType(tag, d);
    if (tag.kind == Tag::Kind::kStart) {
      for (;;) {
        const Tag& child = NextInside();
        if (child.Closes(kNsSchema, "AttributeType")) break;
        if (!child.Opens()) tokens.Fail("unexpected end tag " + QuoteName(child.name) + " in the schema");
        if (child.Is(kNsSchema, "datatype")) {
          d.offset = tokens.TagOffset();
          TakeType(child, d);
        }
        Skip(child);
      }
    }
    // Without its type a column would load as text: numbers as text, binary values as hex.
    if (!d.typed) {
      tokens.FailAtOffset("the column " + QuoteName(d.column.name) + " has no data type (dt:type in the namespace " +
                              kNsDataType + ")",
                          d.offset);
    }
    try {
      d.column.type = FieldTypeFromXml(d.dtType, d.dbType, IsTrue(d.fixedLength), IsTrue(d.isLong), IsTrue(d.autoIncrement));
    } catch (const ETableFileError& e) {
      tokens.FailAtOffset(e.what(), d.offset);
    }
    // Sizes ADO writes on fixed-size types (int 4, dateTime 16, ...) and rs:precision='0' only
    // describe; a value that is no number describes nothing.
    if (!ParseDigits(d.maxLength, d.column.size)) d.column.size = 0;
    if (!ParseDigits(d.precision, d.column.precision)) d.column.precision = 0;
    if (!ParseDigits(d.scale, d.column.scale)) d.column.scale = 0;
    // A whole number of fewer than ten digits is an integer, in a file as in the database.
    if (d.column.type == TFieldType::ftBCD && d.column.scale == 0 && d.column.precision > 0 && d.column.precision < 10) {
      d.column.type = TFieldType::ftInteger;
    }
    d.column.nullable = IsTrue(d.nullable) || IsTrue(d.maybeNull);
    d.range = WholeNumberRangeFor(d.dtType, d.column.precision, d.column.type);
    return d;
  }

  // Reads up to and including the start of rs:data; fills the columns when `describe`.
  void ReadSchema(bool describe) {
    const Tag* t = &tokens.Next();
    if (!t->Opens({}, "xml")) tokens.Fail("the root element is not <xml>");
    if (t->kind == Tag::Kind::kEmpty) tokens.Fail("the rowset schema (s:Schema) is missing");
    t = &NextInside();
    if (!t->Opens(kNsSchema, "Schema") || t->kind == Tag::Kind::kEmpty) tokens.Fail("the rowset schema (s:Schema) is missing");
    t = &NextInside();
    if (!t->Opens(kNsSchema, "ElementType")) tokens.Fail("the row description (s:ElementType) is missing");
    std::vector<Described> found;
    if (t->kind == Tag::Kind::kStart) {
      for (;;) {
        t = &NextInside();
        if (t->Closes(kNsSchema, "ElementType")) break;
        if (t->Opens(kNsSchema, "AttributeType") && describe) {
          found.push_back(ReadColumn(*t, found.size()));
        } else if (t->Opens(kNsSchema, "AttributeType") || t->Opens(kNsSchema, "extends")) {
          Skip(*t);
        } else {
          tokens.Fail(std::string(t->kind == Tag::Kind::kEnd ? "unexpected end tag " : "unexpected element ") +
                      QuoteName(t->name) + " in the schema");
        }
      }
    }
    if (!NextInside().Closes(kNsSchema, "Schema")) tokens.Fail("unexpected content after the row description");
    t = &NextInside();
    if (!t->Opens(kNsRowset, "data")) tokens.Fail("the data section (rs:data) is missing");
    block = t->kind == Tag::Kind::kEmpty ? Block::kDataEnded : Block::kData;
    if (describe) Describe(found);
  }

  void Describe(std::vector<Described>& found) {
    std::stable_sort(found.begin(), found.end(), [](const Described& a, const Described& b) { return a.number < b.number; });
    columns.clear();
    attributes.clear();
    columnOf.clear();
    ranges.clear();
    for (auto& f : found) {
      // A row's values stand under unprefixed attribute names; a prefixed one is no column's.
      if (f.attribute.find(':') != std::string::npos) {
        tokens.FailAtOffset("the column name " + QuoteName(f.attribute) + " cannot name a value (it has a prefix)", f.offset);
      }
      if (!columnOf.emplace(f.attribute, columns.size()).second) {
        tokens.FailAtOffset("the column name " + QuoteName(f.attribute) + " appears twice", f.offset);
      }
      attributes.push_back(f.attribute);
      ranges.push_back(f.range);
      columns.push_back(std::move(f.column));
    }
    seenInRow.assign(columns.size(), 0);
  }

  // The values of one z:row into `row`: the whole row, or (`overlay`) the current part of an
  // updated row over its original, where an absent attribute means "unchanged".
  void ReadRow(const Tag& tag, DbRow& row, bool overlay) {
    if (!overlay) row.Reset(columns.size());
    ++rowParts;
    if (throttle && (rowParts & 255) == 0) throttle->Pump();
    const TagAttribute* forceNull = nullptr;
    std::size_t expected = 0;  // the attributes stand in column order, as a rule
    for (const auto& a : tag.attributes) {
      // Attributes in a namespace carry no value; rs:forcenull names the columns set to NULL.
      if (!a.uri.empty()) {
        if (a.uri == kNsRowset && a.local == "forcenull") forceNull = &a;
        continue;
      }
      std::size_t c = expected;
      if (c >= attributes.size() || a.name != attributes[c]) {
        const auto it = columnOf.find(a.name);
        if (it == columnOf.end()) tokens.FailAt("a row holds the unknown column " + QuoteName(a.name), a);
        c = it->second;
      }
      expected = c + 1;
      if (seenInRow[c] == rowParts) tokens.FailAt("the column " + QuoteName(a.name) + " appears twice in a row", a);
      seenInRow[c] = rowParts;
      std::string& value = row.values[c];
      value.clear();
      if (a.plain) value.assign(a.value);
      else TableFileTokenizer::AppendText(a, value);
      try {
        FromXmlValue(columns[c], value, &ranges[c]);
      } catch (const ETableFileError& e) {
        tokens.FailAt(e.what(), a);
      }
      row.nulls[c] = 0;
    }
    if (forceNull) {
      std::string list;
      TableFileTokenizer::AppendText(*forceNull, list);
      std::size_t from = 0;
      while ((from = list.find_first_not_of(" \t\r\n", from)) != std::string::npos) {
        const std::size_t to = std::min(list.find_first_of(" \t\r\n", from), list.size());
        const auto it = columnOf.find(std::string_view(list).substr(from, to - from));
        if (it == columnOf.end()) tokens.FailAt("rs:forcenull names the unknown column " + QuoteName(std::string_view(list).substr(from, to - from)), *forceNull);
        row.nulls[it->second] = 1;
        row.values[it->second].clear();
        from = to;
      }
    }
    Skip(tag);  // a row has no content; whatever stands inside is passed over
  }

  // Whether a row of `kind` is decoded in this pass: in the first pass every row is; later,
  // only the rows this pass serves (a row of another kind is passed over unread).
  bool Wanted(int kind) const { return checking || !reorder || kind == phase; }

  // The next row to show, or false when rs:data and the file have ended. Deleted rows are read
  // in the first pass (a broken one still fails the file) but not shown.
  bool NextRow(DbRow& row, int& kind) {
    for (;;) {
      if (block == Block::kFileEnded) return false;
      if (block == Block::kDataEnded) {
        if (!NextInside().Closes({}, "xml")) tokens.Fail("unexpected content after the data section");
        if (tokens.Next().kind != Tag::Kind::kEndOfFile) tokens.Fail("unexpected content after the root element");
        block = Block::kFileEnded;
        return false;
      }
      const Tag& t = NextInside();
      if (t.Opens(kNsRow, "row")) {
        switch (block) {
          case Block::kData:
          case Block::kInsert:
            kind = block == Block::kData ? kUnchanged : kInserted;
            if (!Wanted(kind)) {
              Skip(t);
              continue;
            }
            ReadRow(t, row, false);
            return true;
          case Block::kDelete:
            if (checking) ReadRow(t, scratch, false);
            else Skip(t);
            continue;
          case Block::kOriginal:
            // Without a current row after it, the original is shown as an unchanged row.
            if (Wanted(kUpdated) || Wanted(kUnchanged)) ReadRow(t, row, false);
            else Skip(t);
            block = Block::kOriginalRead;
            continue;
          case Block::kCurrent:
            block = Block::kUpdate;
            kind = kUpdated;
            if (!Wanted(kind)) {
              Skip(t);
              continue;
            }
            ReadRow(t, row, true);
            return true;
          default: tokens.Fail("unexpected " + QuoteName(t.name) + " in a change block");
        }
      }
      if (t.kind == Tag::Kind::kEnd) {
        if (block == Block::kData && t.Is(kNsRowset, "data")) block = Block::kDataEnded;
        else if ((block == Block::kInsert && t.Is(kNsRowset, "insert")) || (block == Block::kDelete && t.Is(kNsRowset, "delete")) ||
                 (block == Block::kUpdate && t.Is(kNsRowset, "update"))) block = Block::kData;
        else if (block == Block::kOriginalRead && t.Is(kNsRowset, "original")) block = Block::kCurrent;
        else if (block == Block::kCurrent && t.Is(kNsRowset, "update")) {
          // An original row and no current one: the row is unchanged.
          block = Block::kData;
          kind = kUnchanged;
          if (Wanted(kind)) return true;
        } else {
          tokens.Fail("unexpected end tag " + QuoteName(t.name) + " in the data section");
        }
        continue;
      }
      const bool empty = t.kind == Tag::Kind::kEmpty;
      if (block == Block::kData && t.Is(kNsRowset, "insert")) block = empty ? Block::kData : Block::kInsert;
      else if (block == Block::kData && t.Is(kNsRowset, "delete")) block = empty ? Block::kData : Block::kDelete;
      else if (block == Block::kData && t.Is(kNsRowset, "update")) block = empty ? Block::kData : Block::kUpdate;
      else if (block == Block::kUpdate && t.Is(kNsRowset, "original") && !empty) block = Block::kOriginal;
      else tokens.Fail("unexpected element " + QuoteName(t.name) + " in the data section");
    }
  }
};

std::vector<DbColumn> ReadTableFileSchema(const std::string& path) {
  TableFileReader::Impl d(path);
  d.ReadSchema(true);
  return std::move(d.columns);
}

TableFileReader::TableFileReader(const std::string& path) : impl_(std::make_unique<Impl>(path)) {
  Impl& d = *impl_;
  d.ReadSchema(true);
  // A large file takes a while to check; the windows keep repainting meanwhile.
  platform::TEventThrottle keepResponsive;
  d.throttle = &keepResponsive;
  d.checking = true;
  std::int64_t rows = 0;
  int kind = kUpdated, previous = kUpdated;
  while (d.NextRow(d.scratch, kind)) {
    if (kind < previous) d.reorder = true;
    previous = kind;
    ++rows;
  }
  d.checking = false;
  d.throttle = nullptr;
  d.rowCount = rows;
  d.replaced = d.tokens.Replaced();
  Restart();
}

TableFileReader::~TableFileReader() = default;

const std::vector<DbColumn>& TableFileReader::Columns() const { return impl_->columns; }

bool TableFileReader::Fetch(DbRow& row) {
  Impl& d = *impl_;
  for (;;) {
    int kind = kUpdated;
    if (d.NextRow(row, kind)) {
      if (!d.reorder || kind == d.phase) return true;
      continue;
    }
    if (!d.reorder || d.phase == kInserted) return false;
    // Rows stand in the file out of the order they are shown in: one more pass for the next kind.
    ++d.phase;
    d.tokens.Rewind();
    d.ReadSchema(false);
  }
}

void TableFileReader::Restart() {
  Impl& d = *impl_;
  d.tokens.Rewind();
  d.ReadSchema(false);
  d.phase = kUpdated;
}

std::int64_t TableFileReader::RowCount() const { return impl_->rowCount; }

std::int64_t TableFileReader::ReplacedCharacters() const { return impl_->replaced; }

}  // namespace db
