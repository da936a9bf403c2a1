#include "db/TableFileWriter.h"

#include <array>
#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <set>
#include <string_view>
#include <system_error>

#include "db/DbRowSource.h"
#include "db/TableFileError.h"
#include "db/TableFileFormat.h"
#include "platform/FileSystem.h"

namespace db {

using namespace tablefile;

namespace {

// Attribute value text as ADO writes it: the markup characters as lower-case hexadecimal
// character references; TAB, LF and CR as references too, so that ADO and every XML reader give
// them back unchanged (a raw one would become a blank in a reader that normalises); all other
// characters, control characters included, as they are.
void AppendEscaped(std::string_view value, std::string& out) {
  static constexpr auto kReference = [] {
    std::array<const char*, 0x40> table{};
    table['"'] = "&#x22;";
    table['\''] = "&#x27;";
    table['<'] = "&#x3c;";
    table['&'] = "&#x26;";
    table['>'] = "&#x3e;";
    table['\t'] = "&#x9;";
    table['\n'] = "&#xa;";
    table['\r'] = "&#xd;";
    return table;
  }();
  std::size_t plainFrom = 0;
  for (std::size_t i = 0; i < value.size(); ++i) {
    const auto c = static_cast<unsigned char>(value[i]);
    if (c >= 0x40 || !kReference[c]) continue;
    out.append(value, plainFrom, i - plainFrom);
    out.append(kReference[c]);
    plainFrom = i + 1;
  }
  out.append(value, plainFrom, std::string::npos);
}

void AppendAttribute(std::string& out, std::string_view name, std::string_view value) {
  out += ' ';
  out += name;
  out += "=\"";
  AppendEscaped(value, out);
  out += '"';
}

std::string SystemMessage(int error) { return std::error_code(error, std::generic_category()).message(); }

// Removes an incomplete file; never raises (the failure that made it incomplete is what counts).
void RemoveIncomplete(const std::string& path) {
  std::error_code ignored;
  std::filesystem::remove(platform::PathFromUtf8(path), ignored);
}

}  // namespace

struct TableFileWriter::Impl {
  std::string path;
  std::FILE* file = nullptr;
  std::vector<DbColumn> columns;
  std::vector<std::string> attributePrefixes;  // ' name="' per column
  std::string scratch;
  std::string buffer;  // text not yet handed to the file
  std::int64_t rows = 0;
  bool finished = false;

  // Without Finish the file is incomplete: it is removed, also when the schema could not be written.
  ~Impl() {
    if (!file) return;
    std::fclose(file);
    if (!finished) RemoveIncomplete(path);
  }

  void Flush() {
    if (buffer.empty()) return;
    if (std::fwrite(buffer.data(), 1, buffer.size(), file) != buffer.size()) Failed(errno);
    buffer.clear();
  }

  [[noreturn]] void Failed(int error) const {
    throw ETableFileError("Cannot write the file \"" + path + "\": " + SystemMessage(error));
  }
};

std::vector<std::string> TableFileWriter::AttributeNames(const std::vector<DbColumn>& columns) {
  std::vector<std::string> names(columns.size());
  std::set<std::string> taken;
  // Plain names first, so that a generated "c<i>" never takes the name of a real column.
  for (std::size_t i = 0; i < columns.size(); ++i) {
    if (IsPlainXmlName(columns[i].name) && taken.insert(columns[i].name).second) names[i] = columns[i].name;
  }
  for (std::size_t i = 0; i < columns.size(); ++i) {
    if (!names[i].empty()) continue;
    std::string candidate(1, 'c');
    candidate += std::to_string(i);
    while (!taken.insert(candidate).second) candidate += "_";
    names[i] = candidate;
  }
  return names;
}

TableFileWriter::TableFileWriter(const std::string& path, const std::vector<DbColumn>& columns)
    : impl_(std::make_unique<Impl>()) {
  Impl& d = *impl_;
  d.path = path;
  d.columns = columns;
  // A name is text like a value: bytes that are no UTF-8 would make the file unreadable.
  for (const DbColumn& c : columns) {
    if (!IsValidUtf8(c.name)) throw ETableFileError("Invalid column name " + QuoteName(c.name) + ": the text is not valid UTF-8");
  }
  d.file = platform::OpenFile(path, "wb");
  if (!d.file) throw ETableFileError("Cannot create the file \"" + path + "\": " + SystemMessage(errno));

  const auto names = AttributeNames(columns);
  std::string& x = d.buffer;
  x = "<xml";
  AppendAttribute(x, "xmlns:s", kNsSchema);
  AppendAttribute(x, "xmlns:dt", kNsDataType);
  AppendAttribute(x, "xmlns:rs", kNsRowset);
  AppendAttribute(x, "xmlns:z", kNsRow);
  x += ">\n\t<s:Schema id=\"RowsetSchema\">\n";
  x += "\t\t<s:ElementType name=\"row\" content=\"eltOnly\" rs:updatable=\"true\">\n";
  for (std::size_t i = 0; i < columns.size(); ++i) {
    const DbColumn& c = columns[i];
    const XmlType t = XmlTypeFor(c);
    d.attributePrefixes.push_back(" " + names[i] + "=\"");
    x += "\t\t\t<s:AttributeType";
    AppendAttribute(x, "name", names[i]);
    if (names[i] != c.name) AppendAttribute(x, "rs:name", c.name);
    AppendAttribute(x, "rs:number", std::to_string(i + 1));
    if (c.nullable) AppendAttribute(x, "rs:nullable", "true");
    AppendAttribute(x, "rs:writeunknown", "true");
    if (c.type == TFieldType::ftAutoInc) AppendAttribute(x, "rs:autoincrement", "true");
    x += ">\n\t\t\t\t<s:datatype";
    AppendAttribute(x, "dt:type", t.dtType);
    if (t.dbType) AppendAttribute(x, "rs:dbtype", t.dbType);
    if (t.maxLength > 0) AppendAttribute(x, "dt:maxLength", std::to_string(t.maxLength));
    if (t.precision > 0) AppendAttribute(x, "rs:precision", std::to_string(t.precision));
    if (t.scale >= 0) AppendAttribute(x, "rs:scale", std::to_string(t.scale));
    if (t.fixedLength) AppendAttribute(x, "rs:fixedlength", "true");
    if (t.isLong) AppendAttribute(x, "rs:long", "true");
    AppendAttribute(x, "rs:maybenull", c.nullable ? "true" : "false");
    x += "/>\n\t\t\t</s:AttributeType>\n";
  }
  x += "\t\t\t<s:extends type=\"rs:rowbase\"/>\n\t\t</s:ElementType>\n\t</s:Schema>\n\t<rs:data>\n";
  d.Flush();
}

TableFileWriter::~TableFileWriter() = default;

void TableFileWriter::WriteRow(const DbRow& row) {
  Impl& d = *impl_;
  ++d.rows;
  d.buffer.append("\t\t<z:row");
  for (std::size_t i = 0; i < d.columns.size(); ++i) {
    if (row.nulls[i]) continue;
    try {
      ToXmlValue(d.columns[i], row.values[i], d.scratch);
    } catch (const ETableFileError& e) {
      throw ETableFileError(std::string(e.what()) + " (row " + std::to_string(d.rows) + ")");
    }
    d.buffer.append(d.attributePrefixes[i]);
    AppendEscaped(d.scratch, d.buffer);
    d.buffer.push_back('"');
  }
  d.buffer.append("/>\n");
  if (d.buffer.size() >= (1u << 20)) d.Flush();
}

void TableFileWriter::Finish() {
  Impl& d = *impl_;
  d.buffer.append("\t</rs:data>\n</xml>\n");
  d.Flush();
  const int error = std::fclose(d.file) == 0 ? 0 : errno;
  d.file = nullptr;
  if (error != 0) {
    RemoveIncomplete(d.path);
    d.Failed(error);
  }
  d.finished = true;
}

}  // namespace db
