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

// The qualified names of the format's elements and attributes under the prefixes the root
// element declares (ADO always declares s, dt, rs and z; an undeclared namespace matches nothing).
struct Names {
  std::string schema, elementType, attributeType, datatype, extends;
  std::string data, update, original, insert, remove, row;
  std::string rsName, rsNumber, rsNullable, rsAutoIncrement, rsDbType, rsPrecision, rsScale, rsFixedLength, rsLong,
      rsMaybeNull, rsForceNull, dtType, dtMaxLength;

  void Declare(const Tag& root) {
    std::string s, dt, rs, z;
    for (const auto& a : root.attributes) {
      if (a.name.substr(0, 6) != "xmlns:" || a.name.size() == 6) continue;
      std::string uri;
      TableFileTokenizer::AppendText(a, uri);
      const std::string prefix(a.name.substr(6));
      if (uri == kNsSchema) s = prefix;
      else if (uri == kNsDataType) dt = prefix;
      else if (uri == kNsRowset) rs = prefix;
      else if (uri == kNsRow) z = prefix;
    }
    auto q = [](const std::string& prefix, const char* local) { return prefix.empty() ? std::string() : prefix + ":" + local; };
    schema = q(s, "Schema");
    elementType = q(s, "ElementType");
    attributeType = q(s, "AttributeType");
    datatype = q(s, "datatype");
    extends = q(s, "extends");
    data = q(rs, "data");
    update = q(rs, "update");
    original = q(rs, "original");
    insert = q(rs, "insert");
    remove = q(rs, "delete");
    row = q(z, "row");
    rsName = q(rs, "name");
    rsNumber = q(rs, "number");
    rsNullable = q(rs, "nullable");
    rsAutoIncrement = q(rs, "autoincrement");
    rsDbType = q(rs, "dbtype");
    rsPrecision = q(rs, "precision");
    rsScale = q(rs, "scale");
    rsFixedLength = q(rs, "fixedlength");
    rsLong = q(rs, "long");
    rsMaybeNull = q(rs, "maybenull");
    rsForceNull = q(rs, "forcenull");
    dtType = q(dt, "type");
    dtMaxLength = q(dt, "maxLength");
  }
};

// One s:AttributeType as the file describes it; the attributes the reader has no use for
// (rs:maydefer, rs:rowver, rs:basetable, rs:CommandTimeout, ...) are passed over.
struct Described {
  DbColumn column;
  std::string attribute;  // the name its values stand under in z:row
  int number = 0;
  std::uint64_t offset = 0;
  std::string dtType, dbType, maxLength, precision, scale, fixedLength, isLong, maybeNull, nullable, autoIncrement;
};

struct NameHash {
  using is_transparent = void;
  std::size_t operator()(std::string_view s) const { return std::hash<std::string_view>{}(s); }
};

}  // namespace

struct TableFileReader::Impl {
  explicit Impl(const std::string& path) : tokens(path) {}

  TableFileTokenizer tokens;
  Names names;
  std::vector<DbColumn> columns;
  std::vector<std::string> attributes;  // per column: the attribute name in z:row
  std::unordered_map<std::string, std::size_t, NameHash, std::equal_to<>> columnOf;
  std::vector<std::uint64_t> seenInRow;  // per column: the last row part that gave it a value
  std::uint64_t rowParts = 0;
  Block block = Block::kData;
  std::int64_t rowCount = 0;
  bool reorder = false;  // the file's rows are not in the order they are shown in
  int phase = kUpdated;  // with `reorder`: the kind of row this pass serves
  platform::TEventThrottle* throttle = nullptr;
  DbRow scratch;

  // The next tag inside the root element, where the end of the file is premature.
  const Tag& NextInside() {
    const Tag& tag = tokens.Next();
    if (tag.kind == Tag::Kind::kEndOfFile) tokens.Fail("the file ends too early");
    return tag;
  }

  // Passes over the content of an element up to its end tag.
  void Skip(const Tag& tag) {
    if (tag.kind != Tag::Kind::kStart) return;
    std::vector<std::string> open{std::string(tag.name)};
    while (!open.empty()) {
      const Tag& t = NextInside();
      if (t.kind == Tag::Kind::kStart) {
        open.emplace_back(t.name);
      } else if (t.kind == Tag::Kind::kEnd) {
        if (t.name != open.back()) tokens.Fail("the end tag </" + std::string(t.name) + "> does not match <" + open.back() + ">");
        open.pop_back();
      }
    }
  }

  static void Take(const Tag& tag, const std::string& name, std::string& out) {
    if (const TagAttribute* a = tag.Find(name)) {
      out.clear();
      TableFileTokenizer::AppendText(*a, out);
    }
  }

  void TakeType(const Tag& tag, Described& d) const {
    Take(tag, names.dtType, d.dtType);
    Take(tag, names.rsDbType, d.dbType);
    Take(tag, names.dtMaxLength, d.maxLength);
    Take(tag, names.rsPrecision, d.precision);
    Take(tag, names.rsScale, d.scale);
    Take(tag, names.rsFixedLength, d.fixedLength);
    Take(tag, names.rsLong, d.isLong);
    Take(tag, names.rsMaybeNull, d.maybeNull);
  }

  Described ReadColumn(const Tag& tag, std::size_t index) {
    Described d;
    d.offset = tokens.TagOffset();
    Take(tag, "name", d.attribute);
    if (d.attribute.empty()) tokens.Fail("a column has no name");
    d.column.name = d.attribute;
    Take(tag, names.rsName, d.column.name);
    std::string number;
    Take(tag, names.rsNumber, number);
    d.number = static_cast<int>(index) + 1;
    if (tag.Find(names.rsNumber) && !ParseDigits(number, d.number)) {
      tokens.Fail("column \"" + d.column.name + "\" has an invalid rs:number");
    }
    Take(tag, names.rsNullable, d.nullable);
    Take(tag, names.rsAutoIncrement, d.autoIncrement);
    // The data type sits in an s:datatype child, or (also allowed by the schema language) on
    // the attribute type itself.
    TakeType(tag, d);
    if (tag.kind == Tag::Kind::kStart) {
      for (;;) {
        const Tag& child = NextInside();
        if (child.Closes(names.attributeType)) break;
        if (!child.Opens()) tokens.Fail("unexpected </" + std::string(child.name) + "> in the schema");
        if (child.name == names.datatype) {
          d.offset = tokens.TagOffset();
          TakeType(child, d);
        }
        Skip(child);
      }
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
    return d;
  }

  // Reads up to and including the start of rs:data; fills the columns when `describe`.
  void ReadSchema(bool describe) {
    const Tag* t = &tokens.Next();
    if (!t->Opens("xml")) tokens.Fail("the root element is not <xml>");
    names.Declare(*t);
    if (t->kind == Tag::Kind::kEmpty) tokens.Fail("the rowset schema (s:Schema) is missing");
    t = &NextInside();
    if (!t->Opens(names.schema) || t->kind == Tag::Kind::kEmpty) tokens.Fail("the rowset schema (s:Schema) is missing");
    t = &NextInside();
    if (!t->Opens(names.elementType)) tokens.Fail("the row description (s:ElementType) is missing");
    std::vector<Described> found;
    if (t->kind == Tag::Kind::kStart) {
      for (;;) {
        t = &NextInside();
        if (t->Closes(names.elementType)) break;
        if (t->Opens(names.attributeType) && describe) {
          found.push_back(ReadColumn(*t, found.size()));
        } else if (t->Opens(names.attributeType) || t->Opens(names.extends)) {
          Skip(*t);
        } else {
          tokens.Fail("unexpected <" + std::string(t->kind == Tag::Kind::kEnd ? "/" : "") + std::string(t->name) +
                      "> in the schema");
        }
      }
    }
    if (!NextInside().Closes(names.schema)) tokens.Fail("unexpected content after the row description");
    t = &NextInside();
    if (!t->Opens(names.data)) tokens.Fail("the data section (rs:data) is missing");
    block = t->kind == Tag::Kind::kEmpty ? Block::kDataEnded : Block::kData;
    if (describe) Describe(found);
  }

  void Describe(std::vector<Described>& found) {
    std::stable_sort(found.begin(), found.end(), [](const Described& a, const Described& b) { return a.number < b.number; });
    columns.clear();
    attributes.clear();
    columnOf.clear();
    for (auto& f : found) {
      if (!columnOf.emplace(f.attribute, columns.size()).second) {
        tokens.FailAtOffset("the column name \"" + f.attribute + "\" appears twice", f.offset);
      }
      attributes.push_back(f.attribute);
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
      std::size_t c = expected;
      if (c >= attributes.size() || a.name != attributes[c]) {
        const auto it = columnOf.find(a.name);
        if (it == columnOf.end()) {
          // Qualified attributes carry no value; rs:forcenull names the columns set to NULL.
          if (a.name.find(':') == std::string_view::npos) {
            tokens.FailAt("a row holds the unknown column \"" + std::string(a.name) + "\"", a);
          }
          if (a.name == names.rsForceNull) forceNull = &a;
          continue;
        }
        c = it->second;
      }
      expected = c + 1;
      if (seenInRow[c] == rowParts) tokens.FailAt("the column \"" + std::string(a.name) + "\" appears twice in a row", a);
      seenInRow[c] = rowParts;
      std::string& value = row.values[c];
      value.clear();
      if (a.plain) value.assign(a.value);
      else TableFileTokenizer::AppendText(a, value);
      try {
        FromXmlValue(columns[c], value);
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
        if (it == columnOf.end()) tokens.FailAt("rs:forcenull names the unknown column \"" + list.substr(from, to - from) + "\"", *forceNull);
        row.nulls[it->second] = 1;
        row.values[it->second].clear();
        from = to;
      }
    }
    Skip(tag);  // a row has no content; whatever stands inside is passed over
  }

  // The next row to show, or false when rs:data and the file have ended. Deleted rows are read
  // (a broken one still fails the file) but not shown.
  bool NextRow(DbRow& row, int& kind) {
    for (;;) {
      if (block == Block::kFileEnded) return false;
      if (block == Block::kDataEnded) {
        if (!NextInside().Closes("xml")) tokens.Fail("unexpected content after the data section");
        if (tokens.Next().kind != Tag::Kind::kEndOfFile) tokens.Fail("unexpected content after the root element");
        block = Block::kFileEnded;
        return false;
      }
      const Tag& t = NextInside();
      if (t.Opens(names.row)) {
        switch (block) {
          case Block::kData: ReadRow(t, row, false); kind = kUnchanged; return true;
          case Block::kInsert: ReadRow(t, row, false); kind = kInserted; return true;
          case Block::kDelete: ReadRow(t, scratch, false); continue;
          case Block::kOriginal: ReadRow(t, row, false); block = Block::kOriginalRead; continue;
          case Block::kCurrent: ReadRow(t, row, true); block = Block::kUpdate; kind = kUpdated; return true;
          default: tokens.Fail("unexpected <" + names.row + "> in a change block");
        }
      }
      if (t.kind == Tag::Kind::kEnd) {
        if (block == Block::kData && t.name == names.data) block = Block::kDataEnded;
        else if ((block == Block::kInsert && t.name == names.insert) || (block == Block::kDelete && t.name == names.remove) ||
                 (block == Block::kUpdate && t.name == names.update)) block = Block::kData;
        else if (block == Block::kOriginalRead && t.name == names.original) block = Block::kCurrent;
        else tokens.Fail("unexpected </" + std::string(t.name) + "> in the data section");
        continue;
      }
      const bool empty = t.kind == Tag::Kind::kEmpty;
      if (block == Block::kData && t.name == names.insert) block = empty ? Block::kData : Block::kInsert;
      else if (block == Block::kData && t.name == names.remove) block = empty ? Block::kData : Block::kDelete;
      else if (block == Block::kData && t.name == names.update) block = empty ? Block::kData : Block::kUpdate;
      else if (block == Block::kUpdate && t.name == names.original && !empty) block = Block::kOriginal;
      else tokens.Fail("unexpected <" + std::string(t.name) + "> in the data section");
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
  std::int64_t rows = 0;
  int kind = kUpdated, previous = kUpdated;
  while (d.NextRow(d.scratch, kind)) {
    if (kind < previous) d.reorder = true;
    previous = kind;
    ++rows;
  }
  d.throttle = nullptr;
  d.rowCount = rows;
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

}  // namespace db
