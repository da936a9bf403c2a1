#include "db/TableFileWriter.h"

#include <QFile>
#include <QXmlStreamWriter>

#include <cstdio>
#include <set>

#include "db/DbRowSource.h"
#include "db/TableFileError.h"
#include "db/TableFileFormat.h"

namespace db {

using namespace tablefile;

struct TableFileWriter::Impl {
  std::string path;
  QFile file;
  QXmlStreamWriter xml;
  std::vector<DbColumn> columns;
  std::vector<std::string> attributePrefixes;  // ' name="' per column
  std::string scratch;
  std::string buffer;  // rows not yet handed to the file
  std::int64_t rows = 0;
  bool finished = false;

  void Flush() {
    if (buffer.empty()) return;
    if (file.write(buffer.data(), static_cast<qint64>(buffer.size())) != static_cast<qint64>(buffer.size())) {
      throw ETableFileError("Cannot write the file \"" + path + "\": " + file.errorString().toStdString());
    }
    buffer.clear();
  }

  void CheckWritten() {
    if (xml.hasError() || file.error() != QFileDevice::NoError) {
      throw ETableFileError("Cannot write the file \"" + path + "\": " + file.errorString().toStdString());
    }
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
  d.file.setFileName(QString::fromStdString(path));
  if (!d.file.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
    throw ETableFileError("Cannot create the file \"" + path + "\": " + d.file.errorString().toStdString());
  }
  d.xml.setDevice(&d.file);
  d.xml.setAutoFormatting(true);
  d.xml.setAutoFormattingIndent(-1);  // one tab per level, as ADO indents

  const auto names = AttributeNames(columns);
  QXmlStreamWriter& x = d.xml;
  x.writeStartElement(QStringLiteral("xml"));
  x.writeAttribute(QStringLiteral("xmlns:s"), QLatin1String(kNsSchema));
  x.writeAttribute(QStringLiteral("xmlns:dt"), QLatin1String(kNsDataType));
  x.writeAttribute(QStringLiteral("xmlns:rs"), QLatin1String(kNsRowset));
  x.writeAttribute(QStringLiteral("xmlns:z"), QLatin1String(kNsRow));
  x.writeStartElement(QStringLiteral("s:Schema"));
  x.writeAttribute(QStringLiteral("id"), QStringLiteral("RowsetSchema"));
  x.writeStartElement(QStringLiteral("s:ElementType"));
  x.writeAttribute(QStringLiteral("name"), QStringLiteral("row"));
  x.writeAttribute(QStringLiteral("content"), QStringLiteral("eltOnly"));
  x.writeAttribute(QStringLiteral("rs:updatable"), QStringLiteral("true"));
  for (std::size_t i = 0; i < columns.size(); ++i) {
    const DbColumn& c = columns[i];
    const XmlType t = XmlTypeFor(c);
    d.attributePrefixes.push_back(" " + names[i] + "=\"");
    x.writeStartElement(QStringLiteral("s:AttributeType"));
    x.writeAttribute(QStringLiteral("name"), QString::fromStdString(names[i]));
    if (names[i] != c.name) x.writeAttribute(QStringLiteral("rs:name"), QString::fromStdString(c.name));
    x.writeAttribute(QStringLiteral("rs:number"), QString::number(i + 1));
    if (c.nullable) x.writeAttribute(QStringLiteral("rs:nullable"), QStringLiteral("true"));
    x.writeAttribute(QStringLiteral("rs:writeunknown"), QStringLiteral("true"));
    if (c.type == TFieldType::ftAutoInc) x.writeAttribute(QStringLiteral("rs:autoincrement"), QStringLiteral("true"));
    x.writeEmptyElement(QStringLiteral("s:datatype"));
    x.writeAttribute(QStringLiteral("dt:type"), QLatin1String(t.dtType));
    if (t.dbType) x.writeAttribute(QStringLiteral("rs:dbtype"), QLatin1String(t.dbType));
    if (t.maxLength > 0) x.writeAttribute(QStringLiteral("dt:maxLength"), QString::number(t.maxLength));
    if (t.precision > 0) x.writeAttribute(QStringLiteral("rs:precision"), QString::number(t.precision));
    if (t.scale >= 0) x.writeAttribute(QStringLiteral("rs:scale"), QString::number(t.scale));
    if (t.fixedLength) x.writeAttribute(QStringLiteral("rs:fixedlength"), QStringLiteral("true"));
    if (t.isLong) x.writeAttribute(QStringLiteral("rs:long"), QStringLiteral("true"));
    x.writeAttribute(QStringLiteral("rs:maybenull"), c.nullable ? QStringLiteral("true") : QStringLiteral("false"));
    x.writeEndElement();  // s:AttributeType
  }
  x.writeEmptyElement(QStringLiteral("s:extends"));
  x.writeAttribute(QStringLiteral("type"), QStringLiteral("rs:rowbase"));
  x.writeEndElement();  // s:ElementType
  x.writeEndElement();  // s:Schema
  // The rows are many and simple: they are written directly, without the stream writer's
  // per-attribute conversions to UTF-16 and back.
  d.buffer = "\n\t<rs:data>\n";
  d.Flush();
  d.CheckWritten();
}

TableFileWriter::~TableFileWriter() {
  if (!impl_->finished) {
    impl_->file.close();
    impl_->file.remove();
  }
}

namespace {

// Attribute value text: markup characters as entities, and tab, line feed and carriage return as
// character references so that attribute-value normalisation gives them back unchanged.
void AppendEscaped(const std::string& value, std::string& out) {
  std::size_t plainFrom = 0;
  for (std::size_t i = 0; i < value.size(); ++i) {
    const char* entity = nullptr;
    switch (value[i]) {
      case '&': entity = "&amp;"; break;
      case '<': entity = "&lt;"; break;
      case '>': entity = "&gt;"; break;
      case '"': entity = "&quot;"; break;
      case '\t': entity = "&#9;"; break;
      case '\n': entity = "&#10;"; break;
      case '\r': entity = "&#13;"; break;
      default: continue;
    }
    out.append(value, plainFrom, i - plainFrom);
    out.append(entity);
    plainFrom = i + 1;
  }
  out.append(value, plainFrom, std::string::npos);
}

}  // namespace

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
  d.CheckWritten();
  if (!d.file.flush()) d.CheckWritten();
  d.file.close();
  if (d.file.error() != QFileDevice::NoError) d.CheckWritten();
  d.finished = true;
}

}  // namespace db
