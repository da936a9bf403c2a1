#include "db/TableFileReader.h"

#include <QFile>
#include <QHash>
#include <QXmlStreamReader>

#include <algorithm>

#include "platform/EventThrottle.h"
#include "db/TableFileError.h"
#include "db/TableFileFormat.h"

namespace db {

using namespace tablefile;

namespace {

bool IsTrue(QStringView v) { return v == u"1" || v == u"-1" || v.compare(u"true", Qt::CaseInsensitive) == 0; }

}  // namespace

struct TableFileReader::Impl {
  std::string path;
  QFile file;
  QXmlStreamReader xml;
  std::vector<DbColumn> columns;
  QHash<QString, int> attributeColumn;  // attribute name in z:row -> column index
  std::int64_t rowCount = 0;
  std::string scratch;
  bool atEnd = false;

  [[noreturn]] void Fail(const std::string& why) {
    std::string where;
    if (xml.lineNumber() > 0) {
      where = " (line " + std::to_string(xml.lineNumber()) + ", column " + std::to_string(xml.columnNumber()) + ")";
    }
    throw ETableFileError("The file \"" + path + "\" is not a valid table file: " + why + where);
  }

  void CheckXml() {
    if (xml.hasError()) {
      if (xml.error() == QXmlStreamReader::PrematureEndOfDocumentError) Fail("the file ends too early");
      Fail(xml.errorString().toStdString());
    }
  }

  void OpenFile() {
    file.close();
    file.setFileName(QString::fromStdString(path));
    if (!file.open(QIODevice::ReadOnly)) {
      throw ETableFileError("Cannot open the file \"" + path + "\": " + file.errorString().toStdString());
    }
    xml.clear();
    xml.setDevice(&file);
    atEnd = false;
  }

  // Next start or end element (text, comments and processing instructions are skipped).
  QXmlStreamReader::TokenType NextTag() {
    for (;;) {
      auto token = xml.readNext();
      switch (token) {
        case QXmlStreamReader::StartElement:
        case QXmlStreamReader::EndElement:
        case QXmlStreamReader::EndDocument: return token;
        case QXmlStreamReader::Invalid: CheckXml(); return token;
        case QXmlStreamReader::Characters:
          if (!xml.isWhitespace()) Fail("unexpected text \"" + xml.text().toString().left(40).toStdString() + "\"");
          break;
        default: break;
      }
    }
  }

  bool IsElement(const char* ns, const char16_t* local) const {
    return xml.namespaceUri() == QLatin1String(ns) && xml.name() == QStringView(local);
  }

  // Reads up to and including the start of rs:data; fills the columns when `describe`.
  void ReadSchema(bool describe) {
    if (NextTag() != QXmlStreamReader::StartElement || xml.name() != u"xml" || !xml.namespaceUri().isEmpty())
      Fail("the root element is not <xml>");
    if (NextTag() != QXmlStreamReader::StartElement || !IsElement(kNsSchema, u"Schema"))
      Fail("the rowset schema (s:Schema) is missing");
    if (NextTag() != QXmlStreamReader::StartElement || !IsElement(kNsSchema, u"ElementType"))
      Fail("the row description (s:ElementType) is missing");

    struct Described {
      DbColumn column;
      QString attribute;
      int number;
    };
    std::vector<Described> found;
    for (;;) {
      auto token = NextTag();
      if (token == QXmlStreamReader::EndElement) break;  // s:ElementType
      if (token != QXmlStreamReader::StartElement) Fail("the schema ends too early");
      if (IsElement(kNsSchema, u"extends")) {
        xml.skipCurrentElement();
        CheckXml();
        continue;
      }
      if (!IsElement(kNsSchema, u"AttributeType")) {
        Fail("unexpected element <" + xml.qualifiedName().toString().toStdString() + "> in the schema");
      }
      Described col;
      auto attrs = xml.attributes();
      col.attribute = attrs.value(QString(), QStringLiteral("name")).toString();
      if (col.attribute.isEmpty()) Fail("a column has no name");
      QString realName = attrs.hasAttribute(QLatin1String(kNsRowset), QStringLiteral("name"))
                             ? attrs.value(QLatin1String(kNsRowset), QStringLiteral("name")).toString()
                             : col.attribute;
      col.column.name = realName.toStdString();
      bool ok = true;
      col.number = attrs.hasAttribute(QLatin1String(kNsRowset), QStringLiteral("number"))
                       ? attrs.value(QLatin1String(kNsRowset), QStringLiteral("number")).toInt(&ok)
                       : static_cast<int>(found.size()) + 1;
      if (!ok) Fail("column \"" + col.column.name + "\" has an invalid rs:number");
      bool nullable = IsTrue(attrs.value(QLatin1String(kNsRowset), QStringLiteral("nullable")));
      bool autoInc = IsTrue(attrs.value(QLatin1String(kNsRowset), QStringLiteral("autoincrement")));

      // The data type sits in an s:datatype child, or (also allowed by the schema language) on
      // the attribute type itself.
      QString dtType = attrs.value(QLatin1String(kNsDataType), QStringLiteral("type")).toString();
      QString dbType = attrs.value(QLatin1String(kNsRowset), QStringLiteral("dbtype")).toString();
      QString maxLength, precision, scale, fixed, isLong, maybeNull;
      for (;;) {
        auto t = NextTag();
        if (t == QXmlStreamReader::EndElement) break;
        if (t != QXmlStreamReader::StartElement) Fail("the schema ends too early");
        if (!IsElement(kNsSchema, u"datatype")) {
          xml.skipCurrentElement();
          CheckXml();
          continue;
        }
        auto da = xml.attributes();
        if (da.hasAttribute(QLatin1String(kNsDataType), QStringLiteral("type")))
          dtType = da.value(QLatin1String(kNsDataType), QStringLiteral("type")).toString();
        if (da.hasAttribute(QLatin1String(kNsRowset), QStringLiteral("dbtype")))
          dbType = da.value(QLatin1String(kNsRowset), QStringLiteral("dbtype")).toString();
        maxLength = da.value(QLatin1String(kNsDataType), QStringLiteral("maxLength")).toString();
        precision = da.value(QLatin1String(kNsRowset), QStringLiteral("precision")).toString();
        scale = da.value(QLatin1String(kNsRowset), QStringLiteral("scale")).toString();
        fixed = da.value(QLatin1String(kNsRowset), QStringLiteral("fixedlength")).toString();
        isLong = da.value(QLatin1String(kNsRowset), QStringLiteral("long")).toString();
        maybeNull = da.value(QLatin1String(kNsRowset), QStringLiteral("maybenull")).toString();
        xml.skipCurrentElement();
        CheckXml();
      }
      if (!maybeNull.isEmpty() && IsTrue(maybeNull)) nullable = true;
      try {
        col.column.type = FieldTypeFromXml(dtType.toStdString(), dbType.toStdString(), IsTrue(fixed), IsTrue(isLong), autoInc);
      } catch (const ETableFileError& e) {
        Fail(e.what());
      }
      col.column.size = maxLength.toLongLong();
      col.column.precision = precision.toInt();
      col.column.scale = scale.toInt();
      // A whole number of fewer than ten digits is an integer, in a file as in the database.
      if (col.column.type == TFieldType::ftBCD && col.column.scale == 0 && col.column.precision > 0 &&
          col.column.precision < 10) {
        col.column.type = TFieldType::ftInteger;
      }
      col.column.nullable = nullable;
      found.push_back(std::move(col));
    }
    if (NextTag() != QXmlStreamReader::EndElement) Fail("unexpected content after the row description");
    if (NextTag() != QXmlStreamReader::StartElement || !IsElement(kNsRowset, u"data"))
      Fail("the data section (rs:data) is missing");

    if (!describe) return;
    std::stable_sort(found.begin(), found.end(), [](const Described& a, const Described& b) { return a.number < b.number; });
    columns.clear();
    attributeColumn.clear();
    for (auto& f : found) {
      if (attributeColumn.contains(f.attribute)) Fail("the column name \"" + f.attribute.toStdString() + "\" appears twice");
      attributeColumn.insert(f.attribute, static_cast<int>(columns.size()));
      columns.push_back(std::move(f.column));
    }
  }

  // Next z:row inside rs:data (rows of an rs:insert block count as rows). Fills `row` when given.
  bool NextRow(DbRow* row) {
    if (atEnd) return false;
    for (;;) {
      auto token = NextTag();
      if (token == QXmlStreamReader::EndElement) {
        if (IsElement(kNsRowset, u"insert")) continue;
        // rs:data ends: only the root may follow.
        if (NextTag() != QXmlStreamReader::EndElement) Fail("unexpected content after the data section");
        if (NextTag() != QXmlStreamReader::EndDocument) Fail("unexpected content after the root element");
        atEnd = true;
        return false;
      }
      if (token != QXmlStreamReader::StartElement) Fail("the data section ends too early");
      if (IsElement(kNsRowset, u"insert")) continue;
      if (!(xml.namespaceUri() == QLatin1String(kNsRow) && xml.name() == u"row"))
        Fail("unexpected element <" + xml.qualifiedName().toString().toStdString() + "> in the data section");
      const auto attrs = xml.attributes();
      if (row) row->Reset(columns.size());
      for (const auto& a : attrs) {
        if (!a.namespaceUri().isEmpty()) continue;  // qualified attributes (e.g. rs:forcenull) carry no value
        auto it = attributeColumn.constFind(a.name().toString());
        if (it == attributeColumn.constEnd()) Fail("a row holds the unknown column \"" + a.name().toString().toStdString() + "\"");
        const int c = it.value();
        const QByteArray utf8 = a.value().toUtf8();
        std::string& out = row ? row->values[c] : scratch;
        try {
          FromXmlValue(columns[c], std::string_view(utf8.constData(), static_cast<std::size_t>(utf8.size())), out);
        } catch (const ETableFileError& e) {
          Fail(e.what());
        }
        if (row) row->nulls[c] = 0;
      }
      xml.skipCurrentElement();  // a row has no content; anything inside is ignored
      CheckXml();
      return true;
    }
  }
};

std::vector<DbColumn> ReadTableFileSchema(const std::string& path) {
  TableFileReader::Impl d;
  d.path = path;
  d.OpenFile();
  d.ReadSchema(true);
  return std::move(d.columns);
}

TableFileReader::TableFileReader(const std::string& path) : impl_(std::make_unique<Impl>()) {
  Impl& d = *impl_;
  d.path = path;
  d.OpenFile();
  d.ReadSchema(true);
  // A large file takes seconds to check; the windows keep repainting meanwhile.
  platform::TEventThrottle keepResponsive;
  std::int64_t rows = 0;
  while (d.NextRow(nullptr)) {
    if ((++rows & 255) == 0) keepResponsive.Pump();
  }
  d.rowCount = rows;
  Restart();
}

TableFileReader::~TableFileReader() = default;

const std::vector<DbColumn>& TableFileReader::Columns() const { return impl_->columns; }

bool TableFileReader::Fetch(DbRow& row) { return impl_->NextRow(&row); }

void TableFileReader::Restart() {
  impl_->OpenFile();
  impl_->ReadSchema(false);
}

std::int64_t TableFileReader::RowCount() const { return impl_->rowCount; }

}  // namespace db
